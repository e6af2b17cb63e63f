#include "tools/vemra-render/io/movie_formats.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace render {

bool IsMoviePath(std::string_view path) {
    static constexpr std::array<std::string_view, 16> kExtensions{
        "mov",  "mp4", "m4v", "mkv",  "webm", "avi", "mxf", "mts",
        "m2ts", "ts",  "mpg", "mpeg", "y4m",  "nut", "flv", "ogv"};
    const std::size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    std::string extension(name.substr(dot + 1));
    for (char& ch : extension) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return std::find(kExtensions.begin(), kExtensions.end(), extension) != kExtensions.end();
}

}  // namespace render
