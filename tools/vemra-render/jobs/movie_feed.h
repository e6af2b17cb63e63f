// Where the movie stages meet before the frames in flight: in the take
// stage, one frame at a time, packets are read from the demuxer in file
// order; the video's go to the decoder until it gives a frame, the packets
// of the other streams the muxer takes (copied, or converted on the way)
// wait in a queue that the finish stage drains, and the rest are dropped
// (the demuxer has checked them for damage).
#pragma once

#include <functional>

#include "tools/vemra-render/io/movie_decoder.h"
#include "tools/vemra-render/io/movie_demuxer.h"
#include "tools/vemra-render/io/movie_packet.h"
#include "tools/vemra-render/run/handoff_queue.h"

namespace render {

class MovieFeed {
  public:
    /// Feeds `decoder` from `demuxer`; `takes` says which other streams (by
    /// index) are queued for a muxer (none when empty).
    MovieFeed(MovieDemuxer& demuxer, MovieDecoder& decoder,
              std::function<bool(int stream)> takes = {});

    /// The next frame of the video, in order, into `into`; false after the
    /// last one, when the whole file has been read. Throws MovieError; what
    /// the demuxer finds names the frame being decoded.
    bool Next(DecodedFrame& into);

    /// After the last frame a part wants: reads on, queuing the other
    /// streams' packets the muxer takes, until `done` says a packet ends the
    /// reading or the file ends, so that the other streams reach the part's
    /// end wherever the file stores them.
    void ReadOthers(const std::function<bool(const MoviePacket& packet)>& done);

    /// Moves the oldest queued packet of another stream into `into`; false
    /// when none waits. From the finish stage, while Next runs.
    bool TakeOther(MoviePacket& into) { return others_.TryPop(into); }
    /// The muxer gives up: queued packets are dropped, and later ones too.
    void StopOthers() { others_.Stop(); }

  private:
    /// Reads packets until one goes to the decoder, or the file ends.
    void FeedDecoder();

    MovieDemuxer& demuxer_;
    MovieDecoder& decoder_;
    std::function<bool(int)> takes_;
    MoviePacket packet_;
    HandoffQueue<MoviePacket> others_;
    bool ended_ = false;
};

}  // namespace render
