// Raw video frames through pipes, as ffmpeg's rawvideo muxer writes and reads
// them: every frame the same size, pixels packed in a named pixel format,
// frames back to back with no headers.
#pragma once

#include <cstddef>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vemra-render/pixels/samples.h"

namespace render {

/// A raw pixel format: the sample type and the channels in memory order,
/// interleaved, or one plane per channel for ffmpeg's planar float formats.
/// Samples are little-endian.
struct RawFormat {
    std::string_view name;      ///< "bgra", "rgba64le", "gbrapf32le", ...
    SampleType type;            ///< uint8, uint16 (full scale 65535) or float
    std::string_view channels;  ///< memory order, letters R, G, B, A
    bool planar;                ///< one plane per channel, in `channels` order
};

/// Thrown for a bad frame size or pixel format, or a truncated frame.
class RawError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// Every format the tool reads and writes, 8-bit first.
const std::vector<RawFormat>& RawFormats();
/// The format named `name`; throws RawError listing the known names otherwise.
const RawFormat& FindRawFormat(std::string_view name);
/// Comma-separated names of all formats, for help and messages.
std::string RawFormatNames();

/// Bytes one frame of `format` takes.
std::size_t FrameBytes(const RawFormat& format, int width, int height);

/// Where each channel of a frame of `format` sits, for the conversions to
/// and from worlds; a format without alpha has none.
SampleLayout FrameLayout(const RawFormat& format, int width, int height);

/// Reads up to `buffer.size()` bytes from `fd`, waiting for more until the
/// buffer is full or the input ends. Returns the bytes read: the full size,
/// 0 at the end of input, anything between for a truncated frame. Throws
/// RawError for a read error.
std::size_t ReadFull(int fd, std::span<std::byte> buffer);
/// Writes all of `bytes` to `fd`. Throws RawError for a write error (a
/// closed pipe: "the reader closed the pipe").
void WriteFull(int fd, std::span<const std::byte> bytes);

}  // namespace render
