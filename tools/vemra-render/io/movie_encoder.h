// The third movie stage: rendered RGBA frames encoded into packets. The
// encoder is chosen when the stage is made (the source's codec where the
// container holds it, else the container's fallback; movie_policy.h), so a
// request no encoder or container can meet is refused before any frame;
// it is opened with the first rendered frame, as the ffmpeg program opens
// its encoders, so that what only frames carry (HDR10 metadata, captions)
// reaches it with that frame. Frames are converted for it on their own
// threads as the ffmpeg program converts them. The only owner of the
// encoder's FFmpeg context.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/vemra-render/io/encoded_video.h"
#include "tools/vemra-render/io/encoder_choice.h"
#include "tools/vemra-render/io/movie_error.h"
#include "tools/vemra-render/io/movie_frame.h"
#include "tools/vemra-render/io/movie_packet.h"
#include "tools/vemra-render/io/movie_policy.h"
#include "tools/vemra-render/io/movie_source.h"

namespace render {

/// A rendered frame converted into the encoder's layout, ready to be
/// encoded: prepared on the frame's own thread, encoded in frame order.
/// Keeps its conversion state and buffers from frame to frame.
class EncoderFrame {
  public:
    EncoderFrame();
    ~EncoderFrame();
    EncoderFrame(EncoderFrame&&) noexcept;
    EncoderFrame& operator=(EncoderFrame&&) noexcept;
    struct Data;

  private:
    friend class MovieEncoder;
    std::unique_ptr<Data> data_;
};

class MovieEncoder {
  public:
    /// Chooses the encoder, pixel format, time base and colour tags for
    /// frames of `source` going into `container`; `global_header` when the
    /// container wants the codec's header out of band. Messages name
    /// `target`. Throws MovieRefused for an encoder or pixel format that
    /// does not exist or that the container cannot hold, a frame size the
    /// pixel format cannot carry, and frames not evenly spaced where time
    /// counts in frames (source.video.spacing must then be measured).
    MovieEncoder(const SourceDescription& source, const ContainerPolicy& container,
                 bool global_header, const EncoderSettings& settings, const std::string& target);
    ~MovieEncoder();
    MovieEncoder(const MovieEncoder&) = delete;
    MovieEncoder& operator=(const MovieEncoder&) = delete;

    /// The encoder's name, pixel format, and the profile and rate it was
    /// told, e.g. "ffv1 (bgra)", "prores_ks (yuv422p10le, ProRes 422 LT)".
    std::string Description() const;
    /// What the output changes of the source's format (another codec where
    /// the container cannot hold the source's, alpha dropped), as notes.
    const std::vector<std::string>& notes() const;

    /// Converts `frame` (the source's size and sample type) into the
    /// encoder's layout in `into`, with its pts, duration, field flags and
    /// side data. From any thread, one call per EncoderFrame at a time.
    void Prepare(const MovieFrame& frame, EncoderFrame& into) const;
    /// Opens the encoder with the first frame's side data (`first`, as
    /// prepared; null when the movie has no frame). Throws MovieRefused
    /// when the encoder refuses its settings, with its own reason.
    void Open(const EncoderFrame* first);
    bool opened() const;
    /// The encoded stream, once opened.
    const EncodedVideo& stream() const;

    /// What receives each packet the encoder gives, in its time base.
    using PacketSink = std::function<void(MoviePacket& packet)>;
    /// Encodes a prepared frame and hands the packets ready to `sink`. In
    /// frame order, one call at a time, once opened.
    void Encode(EncoderFrame& frame, const PacketSink& sink);
    /// Drains the encoder into `sink`.
    void Flush(const PacketSink& sink);

  private:
    struct Internals;
    std::unique_ptr<Internals> in_;
};

}  // namespace render
