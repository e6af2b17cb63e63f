// The part of a movie a run into a movie renders (--start and --duration,
// as ffmpeg reads -ss and -t, or --frames A-B): which frames it takes, by
// their times on the video's time base, where reading starts (a seek by
// the demuxer's index), when the other streams have reached its end, and
// the frames themselves as the take stage decodes them.
#pragma once

#include <cstdint>
#include <optional>
#include <set>

#include "tools/vemra-render/io/movie_decoder.h"
#include "tools/vemra-render/io/movie_demuxer.h"
#include "tools/vemra-render/io/movie_packet.h"
#include "tools/vemra-render/io/movie_source.h"
#include "tools/vemra-render/io/movie_span.h"
#include "tools/vemra-render/jobs/movie_feed.h"
#include "tools/vemra-render/jobs/movie_output.h"
#include "tools/vemra-render/jobs/options.h"

namespace render {

struct MoviePart {
    /// The frames taken lie in [from, to) on the video's time base; kNoTime:
    /// unbounded. Both unset: the whole movie.
    std::int64_t from = kNoTime;
    std::int64_t to = kNoTime;
    /// Where the span of the other streams ends: the end of the last frame
    /// asked for; kNoTime: where the movie ends.
    std::int64_t end = kNoTime;
    /// The frames it holds, where known; -1: not known.
    long count = -1;
    /// The movie's frame number (from 1) of a frame at `pts`, for messages;
    /// 0 where the frames are not evenly spaced.
    long NumberAt(std::int64_t pts) const;

    bool whole() const { return from == kNoTime && to == kNoTime; }
    bool Before(std::int64_t pts) const { return from != kNoTime && pts < from; }
    bool Past(std::int64_t pts) const { return to != kNoTime && pts >= to; }
    /// Where the demuxer seeks to before the first frame (the key frame
    /// at or before a second ahead of it); kNoTime: it reads from the start.
    std::int64_t SeekTarget() const;

    // The video's timing, for the above.
    Rational time_base;
    std::int64_t first = 0;  ///< the video's first frame time
    double frame = 0;        ///< one frame in ticks; 0: not evenly spaced
};

/// The part `options` asks of `source` (its spacing measured). Throws
/// UsageError for --frames that is no run A-B, or on a movie whose frames
/// are not evenly spaced, and for --start with --frames.
MoviePart PlanPart(const Options& options, const SourceDescription& source);

/// Tells, packet by packet, when the other streams of a part have all been
/// read to its end: each stream the muxer takes has a packet at or past
/// it, or any packet lies five seconds past it (a stream that ends early,
/// subtitles, holds no later packet).
class PartEnd {
  public:
    PartEnd(const SourceDescription& source, const MoviePart& part, std::set<int> streams);
    /// True when `packet` ends the reading.
    bool operator()(const MoviePacket& packet);

  private:
    const SourceDescription& source_;
    std::int64_t end_ = kNoTime;  ///< in microseconds
    std::set<int> waiting_;
};

/// The movie's frames in the part asked for, decoded in the take stage,
/// the other streams' packets queued for `output` meanwhile.
class PartFrames {
  public:
    /// Seeks `demuxer` to the part by its index where the part starts
    /// after the first frame.
    PartFrames(const Options& options, MovieDemuxer& demuxer, const SourceDescription& source,
               const MoviePart& part, MovieOutput& output);

    /// Decodes the next frame of the part into `into`; false after its
    /// last, once the other streams have been read to its end. Throws
    /// MovieError where a seek landed past the part's first frame.
    bool Next(DecodedFrame& into);

    MovieDecoder& decoder() { return decoder_; }
    MovieFeed& feed() { return feed_; }
    /// The first frame's time; kNoTime: none taken (or it had none).
    std::int64_t first() const { return first_; }
    long taken() const { return taken_; }

  private:
    const SourceDescription& source_;
    const MoviePart& part_;
    MovieDecoder decoder_;
    MovieFeed feed_;
    std::optional<PartEnd> end_;
    std::int64_t first_ = kNoTime;
    long taken_ = 0;
};

}  // namespace render
