// The movie stage beside the video for streams the output converts: a sound
// stream decoded, resampled and encoded into the codec its container holds,
// or a text subtitle stream decoded and encoded into the container's text
// format, as the ffmpeg program converts them. It is made before any frame
// (its encoder opens at once, so the muxer can add its stream), and fed the
// source's packets of its stream in file order. The only owner of its
// decoder's, resampler's and encoder's FFmpeg contexts.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "tools/vemra-render/io/encoded_video.h"
#include "tools/vemra-render/io/movie_error.h"
#include "tools/vemra-render/io/movie_packet.h"
#include "tools/vemra-render/io/movie_source.h"
#include "tools/vemra-render/io/movie_span.h"
#include "tools/vemra-render/io/stream_plan.h"

namespace render {

class StreamConverter {
  public:
    /// Opens the decoder of `stream` and the encoder `route` names (at
    /// `route.sample_rate` for sound where it sets one, else at the rate the
    /// encoder takes nearest the source's); `global_header` when the
    /// container wants the codec's header out of band. Messages name
    /// `target`. Throws MovieError when FFmpeg cannot open either.
    StreamConverter(const SourceStream& stream, const StreamRoute& route, bool global_header,
                    const std::string& target);
    ~StreamConverter();
    StreamConverter(const StreamConverter&) = delete;
    StreamConverter& operator=(const StreamConverter&) = delete;

    /// The converted stream, for the muxer.
    const EncodedStream& stream() const;

    /// What receives each packet, in the converted stream's time base,
    /// its stream index the source stream's.
    using PacketSink = std::function<void(MoviePacket& packet)>;
    /// Keeps only the sound within `window` of the source stream's time
    /// (its shift is the muxer's), cut to the sample: a part of a movie, a
    /// sound file placed against the first frame. Subtitles are kept whole.
    void Keep(const StreamWindow& window);
    /// Converts a packet of the source stream, as the demuxer read it.
    void Convert(const MoviePacket& packet, const PacketSink& sink);
    /// Converts what the decoder and encoder still hold.
    void Flush(const PacketSink& sink);

  private:
    struct Internals;
    std::unique_ptr<Internals> in_;
};

}  // namespace render
