// Which host the tool plays and which pixel layout it hands the effect, from
// the file's sample type, the user's --host and --depth, and what the effect
// said it renders in its global set-up.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/effect_api.h"
#include "sim/world.h"
#include "tools/vemra-render/pixels/image.h"

namespace render {

/// The two hosts the tool can play: "ae" (any host other than "PrMr": 8/16-bit
/// ARGB worlds) and "prmr" (the "PrMr" host: 8-bit "bgra" and float "BGra").
enum class HostKind { kAe, kPrmr };
/// Bits per channel of the world: 8, 16 (ARGB, full scale 32768) or float.
enum class Depth { k8, k16, kFloat };

/// "ae" or "prmr".
std::string_view HostName(HostKind host);
/// "8", "16" or "float".
std::string_view DepthName(Depth depth);
/// The application identifier the host reports to the effect.
std::int32_t ApplIdOf(HostKind host);
/// Parses "ae" or "prmr" (any case); nullopt for anything else.
std::optional<HostKind> ParseHost(std::string_view text);
/// Parses "8", "16", "float" (also "32f" and "f32"); nullopt for anything else.
std::optional<Depth> ParseDepth(std::string_view text);

/// What the effect's global set-up declared it can render.
struct HostCapabilities {
    /// In "ae": out_flags carried PF_OutFlag_DEEP_COLOR_AWARE, so 16-bit
    /// worlds may be handed over. 8-bit ARGB needs no declaration.
    bool ae_deep = false;
    /// In "prmr": the pixel formats the effect registered, in its order.
    std::vector<PrPixelFormat> prmr_formats;
};

/// Thrown when the asked-for combination cannot be rendered; the message
/// names the combinations that can.
class LayoutError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct LayoutChoice {
    HostKind host;
    Depth depth;
    sim::Layout layout;
};

/// The layouts `host` renders, given what the effect declared, deepest last.
std::vector<Depth> SupportedDepths(HostKind host, const HostCapabilities& caps);
/// The world layout of `depth` in `host`; nullopt when the host has none.
std::optional<sim::Layout> LayoutOf(HostKind host, Depth depth);
/// "8-bit ARGB", "16-bit ARGB", "8-bit \"bgra\"" or "32-bit float \"BGra\"".
std::string DescribeLayout(sim::Layout layout);

/// Chooses host and layout for a file of sample type `file`. With no host,
/// integer files go to "ae" and float files to "prmr", so that no value is
/// clipped unasked (a --depth that only one host renders picks that host).
/// With no depth, "ae" renders 8-bit files at 8 bits and anything deeper at
/// 16; "prmr" renders 8-bit files as "bgra" and anything deeper as "BGra".
/// Throws LayoutError when the host does not render the depth.
LayoutChoice ChooseLayout(SampleType file, std::optional<HostKind> host, std::optional<Depth> depth,
                          const HostCapabilities& caps);

}  // namespace render
