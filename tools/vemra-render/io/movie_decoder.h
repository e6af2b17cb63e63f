// The second movie stage: the video stream's packets decoded into frames,
// in order, and each frame converted (on the thread of the frame in flight)
// to RGBA at the source's depth, exactly as the ffmpeg program converts a
// movie to raw RGBA video, turned upright where asked. The only owner of
// the decoder's FFmpeg context.
#pragma once

#include <cstdint>
#include <memory>

#include "tools/vemra-render/io/movie_error.h"
#include "tools/vemra-render/io/movie_frame.h"
#include "tools/vemra-render/io/movie_packet.h"
#include "tools/vemra-render/io/movie_source.h"

namespace render {

/// A frame as the decoder gave it, before it is converted: frames are
/// decoded in order on one thread and converted, each with its own
/// converter, on the threads of the frames in flight.
class DecodedFrame {
  public:
    DecodedFrame();
    ~DecodedFrame();
    DecodedFrame(DecodedFrame&&) noexcept;
    DecodedFrame& operator=(DecodedFrame&&) noexcept;
    /// Its number in the movie, from 1 for the first frame decoded.
    long number() const;
    /// Its time in the video stream's time base (the best-effort
    /// timestamp); kNoTime (movie_source.h) when it has none.
    std::int64_t pts() const;
    struct Data;

  private:
    friend class MovieDecoder;
    std::unique_ptr<Data> data_;
};

class MovieDecoder {
  public:
    /// Opens the decoder of `source`'s video stream on `threads` threads
    /// (0: FFmpeg's own choice for the codec, "auto"). When `source.video`
    /// is turned, frames are delivered turned upright as its display matrix
    /// says (width and height then as the description gives them). Throws
    /// MovieError.
    MovieDecoder(const SourceDescription& source, int threads);
    ~MovieDecoder();
    MovieDecoder(const MovieDecoder&) = delete;
    MovieDecoder& operator=(const MovieDecoder&) = delete;

    /// Gives the decoder a packet of the video stream.
    void Send(const MoviePacket& packet);
    /// Tells the decoder that no packet follows, so it gives what it holds.
    void SendEnd();

    enum class Result { kFrame, kNeedPacket, kEnd };
    /// The next frame, in order, into `into`; kNeedPacket when the decoder
    /// needs another packet first, kEnd after the last frame. Throws
    /// MovieError for a frame the decoder marks as damaged and for a decoder
    /// that fails or stalls.
    Result Receive(DecodedFrame& into);
    /// Frames given so far.
    long frames_decoded() const;

    /// Converts `decoded` into `frame`: RGBA of the source's sample type as
    /// `ffmpeg -i FILE -f rawvideo -pix_fmt rgba|rgba64le|gbrapf32le -`
    /// converts it (float arrives planar there, interleaved here); a source
    /// without alpha gets an opaque one. From any thread, for different
    /// DecodedFrames at once. Throws MovieError for a change of frame size
    /// within the stream.
    void Convert(DecodedFrame& decoded, MovieFrame& frame) const;

  private:
    struct Internals;
    std::unique_ptr<Internals> in_;
};

}  // namespace render
