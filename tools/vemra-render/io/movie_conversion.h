// Converting between FFmpeg's frames and the tool's RGBA images, set up as
// the ffmpeg program sets up its own conversions, so that a movie's frames
// reach the effect (and come back) with the samples ffmpeg gives.
#pragma once

#include <cstring>
#include <string>

#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/pixels/image.h"

namespace render::movie {

/// The interleaved pixel format of an Image of `type` as FFmpeg names it,
/// the one the ffmpeg program would read or write as raw video: RGBA,
/// RGBA64LE, or (for float, which FFmpeg has only planar) GBRAPF32LE.
AVPixelFormat RgbaFormatOf(SampleType type);

/// The Image sample type that holds the samples of pixel format `desc`:
/// 8 bits or fewer as uint8, up to 16 as uint16, float and deeper as float.
SampleType SampleTypeOfPixels(const AVPixFmtDescriptor& desc);

/// A conversion context between two frame layouts of the same size, set up
/// as the ffmpeg program's automatic conversion sets up its own: bicubic,
/// default parameters, and for 4:2:0 8-bit frames the MPEG-2 vertical chroma
/// siting on either side. Throws MovieError (with `name` in the message).
SwsPtr MakeConverter(int width, int height, AVPixelFormat from, AVPixelFormat to,
                     const std::string& name);

/// A colour tag FFmpeg filled from a file, as a number: a damaged file may
/// hold a value no enumerator has, and reading that as the enum type would
/// be undefined. Values outside 0 .. `count` - 1 read as `unknown`.
template <typename Tag>
Tag ValidTag(const Tag& field, int count, Tag unknown) {
    static_assert(sizeof(Tag) == sizeof(int));
    int value = 0;
    std::memcpy(&value, &field, sizeof value);
    return value >= 0 && value < count ? static_cast<Tag>(value) : unknown;
}

/// Sets the YCbCr matrix and ranges of `converter` as the ffmpeg program's
/// conversion does for a frame tagged `matrix` and `range`: the tagged matrix
/// on both sides (an unknown one reads as BT.601), the input range from the
/// tag when it says one, and `output_full_range` for the output when it is
/// 0 or 1 (-1 keeps the converter's default for the output format).
void SetColorDetails(SwsContext* converter, AVColorSpace matrix, AVColorRange range,
                     int output_full_range);

/// Converts the planar float frame `planar` (GBRAPF32) into the interleaved
/// float RGBA of `image`, and back. Both have the same size.
void InterleaveFloat(const AVFrame& planar, Image& image);
void DeinterleaveFloat(const Image& image, AVFrame& planar);

}  // namespace render::movie
