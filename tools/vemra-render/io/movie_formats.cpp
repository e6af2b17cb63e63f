#include "tools/vemra-render/io/movie_formats.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <string>

namespace render {

namespace {

/// `path` opened for reading when it is a regular file; a stream in a failed
/// state otherwise, so that nothing is read ahead from a pipe, whose bytes
/// would then be lost to whoever reads it next.
std::ifstream OpenRegular(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return std::ifstream();
    return std::ifstream(path, std::ios::binary);
}

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

std::string MovieContainerDemuxers() {
    std::string list;
    for (const MovieContainer& container : kContainers) {
        if (container.extensions[0].empty()) continue;  // an animated image
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
    std::ifstream file = OpenRegular(path);
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

/// A GIF's image blocks read up to its trailer.
struct GifScan {
    long frames = 0;
    bool trailer = false;  ///< the trailer came after the last whole block
};

/// Reads the GIF at `path` block by block; nullopt when it is no GIF.
std::optional<GifScan> ScanGif(const std::string& path) {
    std::ifstream file = OpenRegular(path);
    char header[13];
    if (!file.read(header, 13) ||
        (std::memcmp(header, "GIF87a", 6) != 0 && std::memcmp(header, "GIF89a", 6) != 0)) {
        return std::nullopt;
    }
    SkipColourTable(file, static_cast<unsigned char>(header[10]));
    GifScan scan;
    // Block by block: extensions (0x21, a label, sub-blocks), images (0x2C,
    // a descriptor, a colour table, the code size, sub-blocks), the trailer.
    for (int block = file.get(); file; block = file.get()) {
        if (block == 0x3B) {
            scan.trailer = true;
            break;
        }
        if (block == 0x21) {
            file.get();
            if (!SkipSubBlocks(file)) break;
        } else if (block == 0x2C) {
            char descriptor[9];
            if (!file.read(descriptor, 9)) break;
            SkipColourTable(file, static_cast<unsigned char>(descriptor[8]));
            file.get();
            if (!SkipSubBlocks(file)) break;
            ++scan.frames;
        } else {
            break;  // damaged: the frames so far
        }
    }
    return scan;
}

/// The size of the file open in `file`, or -1.
std::int64_t SizeOf(std::istream& file) {
    const std::streampos here = file.tellg();
    file.seekg(0, std::ios::end);
    const std::int64_t size = file ? std::int64_t(file.tellg()) : -1;
    file.clear();
    file.seekg(here);
    return size;
}

/// A PNG's chunks walked from after its signature by their lengths alone.
struct PngScan {
    long frames = 0;   ///< frame control chunks (fcTL)
    bool end = false;  ///< an IEND chunk lies whole within the file
};

PngScan ScanPng(std::istream& file) {
    PngScan scan;
    const std::int64_t size = SizeOf(file);
    std::int64_t at = 8;
    unsigned char chunk[8];
    while (at + 12 <= size && file.seekg(at) && file.read(reinterpret_cast<char*>(chunk), 8)) {
        const std::int64_t length = std::int64_t(chunk[0]) << 24 | std::int64_t(chunk[1]) << 16 |
                                    std::int64_t(chunk[2]) << 8 | std::int64_t(chunk[3]);
        const std::int64_t end = at + 12 + length;  // length, type, data, checksum
        if (end > size) break;
        const std::string_view type(reinterpret_cast<const char*>(chunk + 4), 4);
        if (type == "fcTL") ++scan.frames;
        if (type == "IEND") {
            scan.end = true;
            break;
        }
        at = end;
    }
    return scan;
}

/// A big-endian 32-bit number.
long BigEndian(const unsigned char* bytes) {
    return long(std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 |
                std::uint32_t(bytes[2]) << 8 | std::uint32_t(bytes[3]));
}

/// The number after `key` (e.g. " W") in a YUV4MPEG stream header; -1.
long Y4mField(std::string_view header, std::string_view key) {
    const std::size_t at = header.find(key);
    if (at == std::string_view::npos) return -1;
    long value = 0;
    for (std::size_t i = at + key.size();
         i < header.size() && std::isdigit(static_cast<unsigned char>(header[i])); ++i) {
        if (value > 100'000'000) return -1;
        value = value * 10 + (header[i] - '0');
    }
    return value;
}

}  // namespace

std::optional<long> AnimatedGifFrames(const std::string& path) {
    const std::optional<GifScan> scan = ScanGif(path);
    return scan && scan->frames >= 2 ? std::optional<long>(scan->frames) : std::nullopt;
}

std::optional<std::pair<long, long>> DeclaredFrameSize(const std::string& path) {
    std::ifstream file = OpenRegular(path);
    char head[128] = {};
    file.read(head, sizeof head);
    const std::size_t got = std::size_t(file.gcount());
    const auto* bytes = reinterpret_cast<const unsigned char*>(head);
    if (got >= 10 && (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0)) {
        return std::pair{long(bytes[6] | bytes[7] << 8), long(bytes[8] | bytes[9] << 8)};
    }
    if (got >= 24 && std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) == 0 &&
        std::memcmp(head + 12, "IHDR", 4) == 0) {
        return std::pair{BigEndian(bytes + 16), BigEndian(bytes + 20)};
    }
    if (got >= 10 && std::memcmp(head, "YUV4MPEG2 ", 10) == 0) {
        const std::string_view header(head, std::min(got, std::string_view(head, got).find('\n')));
        const long width = Y4mField(header, " W"), height = Y4mField(header, " H");
        if (width >= 0 && height >= 0) return std::pair{width, height};
    }
    return std::nullopt;
}

std::string AnimationCut(const std::string& path) {
    if (const std::optional<GifScan> gif = ScanGif(path)) {
        return gif->trailer ? std::string() : "it ends before its trailer";
    }
    const std::optional<long> declared = AnimatedPngFrames(path);
    if (!declared) return {};
    std::ifstream file = OpenRegular(path);
    const PngScan png = ScanPng(file);
    if (png.frames < *declared) {
        return fmt::format("{} of the {} frames its animation control chunk declares are there",
                           png.frames, *declared);
    }
    return png.end ? std::string() : "it ends before its IEND chunk";
}

bool IsGifFile(const std::string& path) {
    std::ifstream file = OpenRegular(path);
    char signature[6];
    return file.read(signature, 6) &&
           (std::memcmp(signature, "GIF87a", 6) == 0 || std::memcmp(signature, "GIF89a", 6) == 0);
}

}  // namespace render
