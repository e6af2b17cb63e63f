// How the movie encoder's context is set up from the source, as plain
// functions of FFmpeg's values: the colour tags it carries, what to say
// when it refuses a frame size, and x265's own HDR10 parameters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/vemra-render/io/ffmpeg_common.h"

namespace render::movie {

/// The colour tags an output in `output` pixels carries for a source coded
/// as `source` says, and the output range its conversion from RGBA takes
/// (-1: the converter's default for the format).
struct ColourTags {
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
    AVChromaLocation chroma_location = AVCHROMA_LOC_UNSPECIFIED;
    int output_full_range = -1;
};

/// The frames are RGB; the tags describe how the encoded samples relate to
/// them. A YCbCr output is converted with `matrix` and `range` where they
/// are set (--color-matrix, --color-range, or the defaults of frames from
/// images), else with the source's matrix (BT.601 where it names none it
/// can use) and range, and tagged with what was used; an RGB output is
/// full-range RGB. Primaries, transfer and chroma siting are the source's.
ColourTags ChooseColourTags(const AVCodecParameters& source, AVPixelFormat output,
                            AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED,
                            AVColorRange range = AVCOL_RANGE_UNSPECIFIED);

/// FFmpeg's value for the matrix named `name` ("bt709", "bt470bg",
/// "smpte170m", "bt2020nc", ...) when the converter can use it; and for the
/// range named `name` ("tv" or "limited", "pc" or "full"). Unspecified for
/// any other name.
AVColorSpace MatrixNamed(const std::string& name);
AVColorRange RangeNamed(const std::string& name);

/// For an encoder that refused frames of `width` x `height` in
/// `pixel_format`: when their size does not fit its chroma sampling, what
/// to do (as ffmpeg says it), starting with "; "; empty otherwise.
std::string SizeHint(AVPixelFormat pixel_format, int width, int height);

/// The rate `codec` opens at with the profile `profile` for frames of
/// `width` x `height` in `pixels` at `frame_rate`, nearest below `measured`
/// (bits a second, as the container measures it): DNxHD's profiles take a
/// few rates each, named in whole Mb/s a little below what their fixed
/// frame sizes make. Tries down to 10 % below; `measured` when none opens.
std::int64_t NominalRate(const AVCodec& codec, const std::string& profile, int width, int height,
                         AVPixelFormat pixels, AVRational frame_rate, std::int64_t measured);

/// x265's own parameters for HDR10's static metadata (FFmpeg's
/// AVMasteringDisplayMetadata and AVContentLightMetadata, as bytes; empty:
/// none), each after a ':'; x265 ignores what the frames carry.
std::string X265Hdr10Parameters(const std::vector<std::uint8_t>& mastering,
                                const std::vector<std::uint8_t>& light_level);

}  // namespace render::movie
