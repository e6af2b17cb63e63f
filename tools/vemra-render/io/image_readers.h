// Which reader takes an input file, decided once for every input before any
// library opens it: the movie stages (FFmpeg, held to the movie containers
// and to local files) or one of the image library's readers. The image
// library's own FFmpeg reader is never used: it opens whatever FFmpeg
// recognises, playlists and concat lists included, and follows them to
// other files. What a file's header declares is checked here too where a
// library would allocate it as it opens the file.
#pragma once

#include <cstdint>
#include <string>

namespace render {

/// How an input file is read.
enum class InputKind {
    kImage,      ///< by an image reader of the image library
    kMovie,      ///< by the movie stages, as a movie container
    kAnimation,  ///< by the movie stages, as an animated image (an APNG)
};

/// The one rule. A name with a movie container's extension is a movie. A
/// regular file is then told by its contents: an animated PNG is an
/// animation; a file an image reader takes (the one its extension names,
/// else the first that recognises it) is an image; a file FFmpeg's probe
/// takes for a movie container of the list is a movie. Anything else is an
/// image, whose read then says why it is none (CreateImageReader). Throws
/// InputRefused for a header refused before any reader looks at it
/// (CheckBeforeOpening, within `max_pixels`).
InputKind KindOfInput(const std::string& path, std::uint64_t max_pixels);

/// Checks what the header of `path` declares where the image library would
/// allocate it while opening the file, before it does: a GIF's logical
/// screen against `max_pixels`, a DPX file's user data and image offset
/// against the file's size. Throws InputRefused naming the file; does
/// nothing for other files, for what is not a regular file (a FIFO: what
/// this would read, its reader would miss) and for a file it cannot read.
void CheckBeforeOpening(const std::string& path, std::uint64_t max_pixels);

}  // namespace render
