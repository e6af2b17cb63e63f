// The two hosts the tool plays and the world depths they render, by name:
// what the command line chooses, before any effect is loaded.
#pragma once

#include <optional>
#include <string_view>

namespace render {

/// "ae" (any host other than "PrMr": 8/16-bit ARGB worlds) and "prmr" (the
/// "PrMr" host: 8-bit "bgra" and float "BGra").
enum class HostKind { kAe, kPrmr };
/// Bits per channel of the world: 8, 16 (ARGB, full scale 32768) or float.
enum class Depth { k8, k16, kFloat };

/// "ae" or "prmr".
std::string_view HostName(HostKind host);
/// "8", "16" or "float".
std::string_view DepthName(Depth depth);
/// Parses "ae" or "prmr" (any case); nullopt for anything else.
std::optional<HostKind> ParseHost(std::string_view text);
/// Parses "8", "16", "float" (also "32f" and "f32"); nullopt for anything else.
std::optional<Depth> ParseDepth(std::string_view text);

}  // namespace render
