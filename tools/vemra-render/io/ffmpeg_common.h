// What the movie reader and the movie writer share and nothing else uses:
// owning handles for FFmpeg's objects, FFmpeg error text, the conversion
// settings the ffmpeg program uses, and the reader's demuxing state, which the
// writer drains for the streams it copies. Includes FFmpeg's headers, so only
// the two movie sources include it.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "tools/vemra-render/io/movie_reader.h"
#include "tools/vemra-render/pixels/image.h"

namespace render::movie {

// FFmpeg's error and "no timestamp" macros are written with C casts; these
// give their values to C++ code once.
inline constexpr int kErrorEof = AVERROR_EOF;
inline constexpr int kErrorAgain = AVERROR(EAGAIN);
inline constexpr std::int64_t kNoTimestamp = AV_NOPTS_VALUE;
inline constexpr AVRational kMicroseconds{1, AV_TIME_BASE};

/// Lowers FFmpeg's logging from its default (information: encoder statistics,
/// notes on every file) to errors, since failures reach the caller as
/// MovieError; a level the program set itself is left alone.
void QuietFfmpegLog();

/// FFmpeg's description of error code `code`, e.g. "Invalid data found when processing input".
std::string ErrorText(int code);

struct FormatInputDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
/// A demuxer opened with avformat_open_input.
using InputPtr = std::unique_ptr<AVFormatContext, FormatInputDeleter>;

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

/// The interleaved pixel format of an Image of `type` as FFmpeg names it,
/// the one the ffmpeg program would read or write as raw video: RGBA,
/// RGBA64LE, or (for float, which FFmpeg has only planar) GBRAPF32LE.
AVPixelFormat RgbaFormatOf(SampleType type);

/// A conversion context between two frame layouts of the same size, set up
/// as the ffmpeg program's automatic conversion sets up its own: bicubic,
/// default parameters, and for 4:2:0 8-bit frames the MPEG-2 vertical chroma
/// siting on either side. Throws MovieError (with `name` in the message).
SwsPtr MakeConverter(int width, int height, AVPixelFormat from, AVPixelFormat to,
                     const std::string& name);

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

namespace render {

/// The reader's state. Declared here, beside the FFmpeg types, so that the
/// writer can copy the stream layout and take the packets of the streams it
/// copies, which the reader sets aside while it looks for video packets:
/// one pass over the file feeds both.
struct MovieReader::Internals {
    std::string path;
    std::uint64_t max_pixels = 0;
    movie::InputPtr input;
    int video_index = -1;
    AVStream* video = nullptr;
    movie::CodecContextPtr decoder;
    movie::PacketPtr packet;
    movie::FramePtr decoded;
    movie::FramePtr planar;  ///< GBRAPF32 conversion output for float sources
    movie::SwsPtr converter;
    AVPixelFormat converter_from = AV_PIX_FMT_NONE;
    AVColorSpace converter_matrix = AVCOL_SPC_NB;
    AVColorRange converter_range = AVCOL_RANGE_NB;

    int width = 0;
    int height = 0;
    SampleType type = SampleType::kUint8;
    bool has_alpha = false;

    long frames_decoded = 0;
    long video_packets = 0;
    bool demuxed_all = false;  ///< av_read_frame reached the end of the file
    bool drained = false;      ///< the decoder gave its last frame
    /// The latest end (timestamp plus duration) of any packet read, in microseconds.
    std::int64_t packets_end = movie::kNoTimestamp;

    /// Streams whose packets are set aside for a writer (by index), and the
    /// packets set aside, in file order.
    std::vector<bool> keep_stream;
    std::deque<movie::PacketPtr> kept;

    /// What ReadPacket found.
    enum class Read { kVideo, kOther, kEnd };
    /// Reads the next packet of the file: a video packet is left in `packet`,
    /// a packet of a kept stream is queued, any other is dropped. At the end
    /// of the file checks that the file was whole. Throws MovieError for a
    /// read error, a packet the demuxer marks as damaged, and a file cut short.
    Read ReadPacket();
    /// Throws MovieError when the file just read to its end shows it was cut
    /// short (see ReadPacket).
    void CheckComplete() const;
    /// Converts `decoded` into `image` as RGBA of `type`.
    void Convert(Image& image);
    /// "FILE: frame N: " for messages about the frame being decoded.
    std::string FramePrefix() const;
};

}  // namespace render
