// A look at a DPX file's header before the image library opens it. The
// library reads a DPX file's user data whole into memory, and copies it on
// every seek between image elements, at whatever size the header gives: a
// few bytes patched in a small file would make it take gigabytes. The sizes
// are checked against the file first, and so is where the image data
// starts, which the library's read of a file cut short fails on without a
// word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace render {

/// The bytes of a DPX header this check reads: the magic number, the
/// offset of the image data and the size of the user data.
inline constexpr std::size_t kDpxHeaderBytesChecked = 36;

/// What is wrong with a DPX file whose first bytes are `header` and whose
/// size is `file_size`: image data that starts past the file's end, user
/// data larger than the file or reaching into the image data. Nullopt for a
/// sound DPX header and for any other kind of file (told by the magic
/// number, in either byte order). image_readers.h checks every input with it.
std::optional<std::string> DpxHeaderProblem(std::span<const std::byte> header,
                                            std::uint64_t file_size);

}  // namespace render
