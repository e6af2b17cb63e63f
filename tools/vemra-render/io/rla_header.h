// A look at an RLA file's header before the image library reads its pixels.
// The library's run-length decoder advances by the bits a channel's samples
// take: a header that gives a channel group samples of no bits makes it loop
// forever on the first scanline. RLA has no magic number, so this runs once
// the library has taken the file for RLA.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace render {

/// The bytes of an RLA header this check reads: up to the sizes of the
/// auxiliary channels' samples.
inline constexpr std::size_t kRlaHeaderBytesChecked = 668;

/// What is wrong with the RLA header `header`: a group of channels (colour,
/// matte, auxiliary) that the header counts but whose samples take no bits.
/// Nullopt for a sound header, and for one too short to tell.
std::optional<std::string> RlaHeaderProblem(std::span<const std::byte> header);

}  // namespace render
