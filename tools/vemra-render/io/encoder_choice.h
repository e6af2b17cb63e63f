// Which encoder and pixel format a movie output gets, decided before any
// frame: the one asked for, else the source's codec where the container
// holds it (movie_policy.h: its preferred encoder, else FFmpeg's first
// software one), else the container's fallback; and the pixel format asked
// for, else the source's where the encoder takes it, else the one FFmpeg
// ranks nearest to the rendered frames.
#pragma once

#include <string>

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
};

/// What ChooseEncoder chose.
struct ChosenEncoder {
    const AVCodec* codec = nullptr;
    std::string profile;    ///< the profile the container's fallback asks for; empty: none
    int pixel_format = -1;  ///< FFmpeg's AVPixelFormat
};

/// Chooses for frames of `source` going into `container`. Throws
/// MovieRefused naming `target` for an encoder or pixel format that does not
/// exist, that the encoder does not take or that the container cannot hold,
/// and for a frame size the pixel format's chroma cannot carry.
ChosenEncoder ChooseEncoder(const SourceDescription& source, const ContainerPolicy& container,
                            const EncoderSettings& settings, const std::string& target);

}  // namespace render
