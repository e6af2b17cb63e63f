// Encoding a movie's rendered frames: the encoder chosen for the container
// and the source, opened with the source's timing and colour tags, fed RGBA
// frames converted as the ffmpeg program converts them, giving packets.
// Only io/ includes it.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/io/movie_reader.h"
#include "tools/vemra-render/io/movie_source.h"
#include "tools/vemra-render/io/movie_writer.h"

namespace render {

class MovieEncoder {
  public:
    /// Chooses and opens the encoder for frames of `source` going into a
    /// file of `container` (see MovieWriter for the rules). Messages name
    /// `target`. Throws MovieError.
    MovieEncoder(const MovieSource& source, const AVOutputFormat& container,
                 const MovieWriteSettings& settings, const std::string& target);

    /// The opened encoder, for the output stream's parameters and time base.
    const AVCodecContext& context() const { return *encoder_; }
    /// The encoder's name and pixel format, e.g. "ffv1 (bgra)".
    std::string Description() const;
    /// True when the encoder or the container counts time in whole frames
    /// (MPEG-1/2 and MPEG-4 video, MXF, AVI): the encoder's time base is then
    /// a frame, and the video stream's must be too.
    bool CountsInFrames() const;

    /// What receives each packet the encoder gives, in the encoder's time base.
    using PacketSink = std::function<void(AVPacket& packet)>;
    /// Converts `frame` (the source's size and sample type) into the
    /// encoder's layout in `into`, with its pts, duration, field flags and
    /// side data. From any thread, one call per EncoderFrame at a time.
    void Prepare(const MovieFrame& frame, EncoderFrame& into) const;
    /// Encodes a prepared frame and hands the packets ready to `sink`. In
    /// frame order, one call at a time.
    void Encode(EncoderFrame& frame, const PacketSink& sink);
    /// Drains the encoder into `sink`.
    void Flush(const PacketSink& sink);

  private:
    [[noreturn]] void Fail(const std::string& what, int code) const;
    void ChooseEncoder(const MovieWriteSettings& settings);
    AVPixelFormat ChoosePixelFormat(const MovieWriteSettings& settings) const;
    void SetTiming();
    int SetColourTags();
    void CheckFrameSize(AVPixelFormat pixel_format) const;
    void SetQuality(const MovieWriteSettings& settings);
    void SetOwnPrinting(const MovieWriteSettings& settings);
    std::string X265Hdr10Parameters() const;
    void SetFieldCoding();
    void AttachSideData(const MovieFrame& frame, AVFrame& encoded) const;
    void Convert(const Image& image, EncoderFrame::Data& data) const;
    void PrepareFrames(int output_full_range);
    void Send(const AVFrame* frame, const PacketSink& sink);

    const MovieSource& source_;
    /// The source video's time base, read once: the reader's demuxer runs
    /// on another thread while frames are encoded.
    AVRational source_time_base_;
    const AVOutputFormat& container_;
    std::string target_;
    const AVCodec* codec_ = nullptr;
    movie::CodecContextPtr encoder_;
    AVPixelFormat rgba_format_ = AV_PIX_FMT_NONE;  ///< the frames' layout, as FFmpeg names it
    /// The opened encoder's layout, as frames are prepared for it.
    struct Layout {
        AVPixelFormat pixel_format = AV_PIX_FMT_NONE;
        AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
        AVRational time_base{0, 1};
        AVRational sample_aspect_ratio{0, 1};
        int output_full_range = -1;  ///< for the converters (SetColorDetails)
    };
    Layout layout_;
    bool converts_ = false;  ///< the encoder's layout is not the frames'
    movie::PacketPtr packet_;
    /// Each pending frame's duration by its pts (encoder time base): the
    /// encoders do not carry it to their packets, and packets come out of
    /// order when frames are reordered.
    std::map<std::int64_t, std::int64_t> durations_;
    long frames_sent_ = 0;
};

}  // namespace render
