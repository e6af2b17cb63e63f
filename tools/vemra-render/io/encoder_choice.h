// Which encoder, profile, pixel format and rate a movie output gets, decided
// before any frame: the one asked for, else the source's codec where the
// container holds it (movie_policy.h: its preferred encoder, else FFmpeg's
// first software one) with the source's profile, else the nearest format
// the table names, else the container's fallback; the pixel format asked
// for, else the profile's, else the source's where the encoder takes it
// (alpha included where the container keeps it), else the one FFmpeg ranks
// nearest to the rendered frames; the source's rate for formats defined by
// their rate. Frames from images have no codec to keep: they take the
// container's default for images.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vemra-render/io/movie_policy.h"
#include "tools/vemra-render/io/movie_source.h"

struct AVCodec;  // FFmpeg's encoder

namespace render {

/// How the video stream is encoded.
struct EncoderSettings {
    /// Encoder name (e.g. "libx264", "prores_ks", "ffv1"); empty: the
    /// source's codec where the container holds it, else the container's
    /// fallback (movie_policy.h).
    std::string codec;
    /// Encoder pixel format (e.g. "yuv422p10le"); empty: the source's own
    /// when the encoder takes it, else the encoder's nearest to the frames'
    /// RGBA (8, 16 bits or float, alpha counted when the source has it), by
    /// FFmpeg's own ranking: the ffmpeg program's choice.
    std::string pix_fmt;
    /// Codec-specific quality: the encoder's "crf" option where it has one
    /// (libx264), else a fixed quantiser scale (qscale: prores_ks, mpeg4);
    /// -1 leaves the encoder's default.
    int quality = -1;
    /// The encoders that print on their own (x265) keep even their errors to
    /// themselves; otherwise they print errors only.
    bool quiet = false;
    /// The encoder's threads; 0: FFmpeg's own choice for the codec ("auto").
    int threads = 0;
    /// --color-matrix and --color-range: the matrix and range a YCbCr output
    /// is converted with and tagged (FFmpeg's names: "bt709", "tv");
    /// empty: the source's (see ChooseColourTags).
    std::string color_matrix = {};
    std::string color_range = {};
};

/// What is wrong with --color-matrix `matrix` and --color-range `range` (a
/// name FFmpeg or its converter does not know), naming the option; empty:
/// nothing (an empty name is the source's).
std::string ColourNameProblem(const std::string& matrix, const std::string& range);

/// What ChooseEncoder chose.
struct ChosenEncoder {
    const AVCodec* codec = nullptr;
    /// The profile the encoder is told: the source's where the codec and
    /// pixel format are the source's, the nearest format's, the fallback's;
    /// null: the encoder's own choice.
    const ProfileRule* profile = nullptr;
    int pixel_format = -1;  ///< FFmpeg's AVPixelFormat
    /// The pixel format the policy's choice names for its profile (a
    /// default for frames from images); empty: none.
    std::string_view choice_pixels;
    /// The source's rate, for formats defined by their rate (bits a second,
    /// and the decoder buffer in bits); 0: the encoder's own rate control.
    std::int64_t bit_rate = 0;
    std::int64_t max_bit_rate = 0;
    std::int64_t buffer_size = 0;
    /// Why the default is not the source's codec, and how it was chosen
    /// instead; empty: the source's codec or the one asked for.
    std::string changed;
    /// What changed from the source's format (the codec, the alpha), as
    /// notes naming the output.
    std::vector<std::string> notes;
};

/// Chooses for frames of `source` going into `container`. Throws
/// MovieRefused naming `target` for an encoder or pixel format that does not
/// exist, that the encoder does not take or that the container cannot hold.
/// Whether the encoder takes the frame size shows when it opens.
ChosenEncoder ChooseEncoder(const SourceDescription& source, const ContainerPolicy& container,
                            const EncoderSettings& settings, const std::string& target);

/// The choice in words, for the summary line: "prores_ks (yuv422p10le,
/// ProRes 422 LT)", "mpeg2video (yuv422p, 45 Mb/s)".
std::string DescribeChoice(const ChosenEncoder& chosen);

}  // namespace render
