// A look at a file already at an output's name, for --skip-existing (which
// takes only a finished output as done) and for outputs that are pipes or
// devices (written directly, in formats that can be).
#pragma once

#include <cstddef>
#include <string>

namespace render {

/// True when the regular file at `path` is an image whose header the image
/// library's reader for the format its name asks for opens. A file of
/// another format, cut short in its header, or empty, is not.
bool ImageHeaderReads(const std::string& path);

/// True when the regular file at `path` opens as a movie through the
/// movie containers the tool reads (movie_formats.h), local files only, with
/// a video stream and at least `streams` streams in all. A movie cut short
/// before its index is written, or holding fewer streams, is not.
bool MovieOpens(const std::string& path, std::size_t streams);

/// True when the image format `path`'s name asks for is encoded in memory
/// and written front to back in one go, so a pipe or a device can take it;
/// false for a format whose writer seeks in the file, and for none.
bool ImageFormatStreams(const std::string& path);

}  // namespace render
