#include "tools/vemra-render/io/movie_formats.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <istream>
#include <string>

namespace render {

namespace {

/// A container the movie reader opens.
struct MovieContainer {
    std::string_view name;     ///< as --help names it
    std::string_view demuxer;  ///< FFmpeg's demuxer
    /// The file endings read as movies; none for animated images, which the
    /// tool tells by their contents (APNG, a GIF of several frames).
    std::array<std::string_view, 3> extensions;
};

constexpr std::array<MovieContainer, 12> kContainers{{
    {"QuickTime/MP4", "mov", {"mov", "mp4", "m4v"}},
    {"Matroska/WebM", "matroska", {"mkv", "webm"}},
    {"AVI", "avi", {"avi"}},
    {"MXF", "mxf", {"mxf"}},
    {"MPEG-TS", "mpegts", {"ts", "mts", "m2ts"}},
    {"MPEG-PS", "mpeg", {"mpg", "mpeg"}},
    {"NUT", "nut", {"nut"}},
    {"FLV", "flv", {"flv"}},
    {"Ogg", "ogg", {"ogv"}},
    {"YUV4MPEG", "yuv4mpegpipe", {"y4m"}},
    {"GIF", "gif", {}},
    {"APNG", "apng", {}},
}};

/// A sound format a sound file is read in, besides the movie containers.
struct SoundFormat {
    std::string_view name;     ///< as --help names it
    std::string_view demuxer;  ///< FFmpeg's demuxer
    std::string_view endings;
};

constexpr std::array<SoundFormat, 7> kSoundFormats{{
    {"WAV", "wav", ".wav"},
    {"Wave64", "w64", ".w64"},
    {"AIFF", "aiff", ".aif .aiff"},
    {"FLAC", "flac", ".flac"},
    {"MP3", "mp3", ".mp3"},
    {"AAC", "aac", ".aac"},
    {"Core Audio", "caf", ".caf"},
}};

}  // namespace

std::string SoundDemuxers() {
    std::string list = MovieDemuxers();
    for (const SoundFormat& format : kSoundFormats) {
        list += ',';
        list += format.demuxer;
    }
    return list;
}

std::string SoundFileNames() {
    std::string names;
    for (const SoundFormat& format : kSoundFormats) {
        if (!names.empty()) names += ", ";
        names += fmt::format("{} ({})", format.name, format.endings);
    }
    return names;
}

bool IsMoviePath(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    std::string extension(name.substr(dot + 1));
    for (char& ch : extension) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return std::any_of(kContainers.begin(), kContainers.end(), [&](const MovieContainer& c) {
        return std::find(c.extensions.begin(), c.extensions.end(), extension) != c.extensions.end();
    });
}

std::string MovieDemuxers() {
    std::string list;
    for (const MovieContainer& container : kContainers) {
        if (!list.empty()) list += ',';
        list += container.demuxer;
    }
    return list;
}

std::string MovieContainerNames() {
    std::string names;
    for (const MovieContainer& container : kContainers) {
        std::string endings;
        for (std::string_view extension : container.extensions) {
            if (extension.empty()) continue;
            endings += (endings.empty() ? "." : " .") + std::string(extension);
        }
        if (endings.empty()) continue;  // an animated image
        if (!names.empty()) names += ", ";
        names += fmt::format("{} ({})", container.name, endings);
    }
    return names;
}

std::optional<long> AnimatedPngFrames(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char signature[8];
    if (!file.read(signature, 8) || std::memcmp(signature, "\x89PNG\r\n\x1a\n", 8) != 0) {
        return std::nullopt;
    }
    auto number = [](const unsigned char* bytes) {
        return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 |
               std::uint32_t(bytes[2]) << 8 | std::uint32_t(bytes[3]);
    };
    // Chunk by chunk (length, type, data, checksum) up to the image data.
    unsigned char chunk[12];
    while (file.read(reinterpret_cast<char*>(chunk), 8)) {
        const std::uint32_t length = number(chunk);
        const std::string_view type(reinterpret_cast<const char*>(chunk + 4), 4);
        if (type == "IDAT" || type == "IEND" || length > 0x7FFFFFFFu) return std::nullopt;
        if (type == "acTL") {
            if (length < 8 || !file.read(reinterpret_cast<char*>(chunk + 8), 4)) {
                return std::nullopt;
            }
            return long(number(chunk + 8));
        }
        file.seekg(std::streamoff(length) + 4, std::ios::cur);
    }
    return std::nullopt;
}

namespace {

/// Skips GIF data sub-blocks (a size byte, that many bytes, up to a size of
/// 0); false when the file ends first.
bool SkipSubBlocks(std::istream& file) {
    for (int size = file.get(); size != 0; size = file.get()) {
        if (size == std::char_traits<char>::eof()) return false;
        file.seekg(size, std::ios::cur);
    }
    return bool(file);
}

/// Skips a colour table when the flags byte `flags` says one follows.
void SkipColourTable(std::istream& file, int flags) {
    if (flags & 0x80) file.seekg(3 * (2 << (flags & 7)), std::ios::cur);
}

}  // namespace

std::optional<long> AnimatedGifFrames(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char header[13];
    if (!file.read(header, 13) ||
        (std::memcmp(header, "GIF87a", 6) != 0 && std::memcmp(header, "GIF89a", 6) != 0)) {
        return std::nullopt;
    }
    SkipColourTable(file, static_cast<unsigned char>(header[10]));
    // Block by block: extensions (0x21, a label, sub-blocks), images (0x2C,
    // a descriptor, a colour table, the code size, sub-blocks), the trailer.
    long frames = 0;
    for (int block = file.get(); file; block = file.get()) {
        if (block == 0x3B) break;
        if (block == 0x21) {
            file.get();
            if (!SkipSubBlocks(file)) break;
        } else if (block == 0x2C) {
            char descriptor[9];
            if (!file.read(descriptor, 9)) break;
            SkipColourTable(file, static_cast<unsigned char>(descriptor[8]));
            file.get();
            if (!SkipSubBlocks(file)) break;
            ++frames;
        } else {
            break;  // damaged: the frames so far
        }
    }
    return frames >= 2 ? std::optional<long>(frames) : std::nullopt;
}

}  // namespace render
