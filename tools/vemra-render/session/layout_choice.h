// Which host the tool plays and which pixel layout it hands the effect, from
// the file's sample type, the user's --host and --depth, and what the effect
// said it renders in its global set-up.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/effect_api.h"
#include "sim/world.h"
#include "tools/vemra-render/pixels/image.h"
#include "tools/vemra-render/run/refusal.h"
#include "tools/vemra-render/session/host_kind.h"

namespace render {

/// The application identifier the host reports to the effect.
std::int32_t ApplIdOf(HostKind host);

/// What the effect's global set-up declared it can render.
struct HostCapabilities {
    /// In "ae": out_flags carried PF_OutFlag_DEEP_COLOR_AWARE, so 16-bit
    /// worlds may be handed over. 8-bit ARGB needs no declaration.
    bool ae_deep = false;
    /// In "prmr": the pixel formats the effect registered, in its order.
    std::vector<PrPixelFormat> prmr_formats;
};

/// Thrown when the asked-for combination cannot be rendered; the message
/// names the combinations that can. A refusal: the request cannot be met.
class LayoutError : public std::runtime_error, public Refusal {
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

/// Bytes one pixel of the chosen layout's worlds takes.
std::size_t WorldBytesPerPixel(const LayoutChoice& choice);

}  // namespace render
