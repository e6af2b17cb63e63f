// Which files the tool reads as movies, through FFmpeg, rather than as
// images, through the image library: the one list of movie file endings.
#pragma once

#include <string_view>

namespace render {

/// True when `path` names a file the movie reader takes rather than the image
/// library: by its extension (.mov .mp4 .m4v .mkv .webm .avi .mxf .mts .m2ts
/// .ts .mpg .mpeg .y4m .nut .flv .ogv, any case).
bool IsMoviePath(std::string_view path);

}  // namespace render
