// What io/'s movie stages share of FFmpeg's codec and utility libraries:
// their headers, owning handles for their objects and their error text. The
// container library's headers stay with the demuxer, the muxer and the
// policy table. Only io/ includes it.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/display.h>
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <memory>
#include <string>

namespace render::movie {

// FFmpeg's error and "no timestamp" macros are written with C casts; these
// give their values to C++ code once.
inline constexpr int kErrorEof = AVERROR_EOF;
inline constexpr int kErrorAgain = AVERROR(EAGAIN);
inline constexpr int kErrorPatchWelcome = AVERROR_PATCHWELCOME;
inline constexpr std::int64_t kNoTimestamp = AV_NOPTS_VALUE;
inline constexpr AVRational kMicroseconds{1, AV_TIME_BASE};

/// FFmpeg's description of error code `code`, e.g. "Invalid data found when processing input".
std::string ErrorText(int code);

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;

struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

struct SwsDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;

/// A new frame or packet; throws std::bad_alloc when FFmpeg cannot allocate one.
FramePtr NewFrame();
PacketPtr NewPacket();

/// A frame of `format` and size with its own buffers, or "what: ..." as a
/// MovieError naming `name`.
FramePtr NewFrameWithBuffer(AVPixelFormat format, int width, int height, const std::string& name);

}  // namespace render::movie
