// A look at a DPX file's header before the image library opens it. The
// library reads a DPX file's user data whole into memory, and copies it on
// every seek between image elements, at whatever size the header gives: a
// few bytes patched in a small file would make it take gigabytes. The sizes
// are checked against the file first.
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
/// size is `file_size`: user data larger than the file, or reaching into the
/// image data. Nullopt for a sound DPX header and for any other kind of
/// file (told by the magic number, in either byte order).
std::optional<std::string> DpxHeaderProblem(std::span<const std::byte> header,
                                            std::uint64_t file_size);

/// Throws InputRefused naming `path` when it is a DPX file with such a
/// header; does nothing for other files, and for a file it cannot read (the
/// image library's open then says why).
void CheckDpxFile(const std::string& path);

}  // namespace render
