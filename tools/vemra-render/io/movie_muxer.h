// The fourth movie stage: the output container, written to a temporary
// beside the target and renamed into place once finalised. It copies the
// source's sound, subtitle, data and attachment streams as they are and
// takes those converted for it (as the stream plan routes them,
// stream_plan.h), keeps the source's timing, tags, metadata and chapters,
// and takes the encoded video stream once the encoder is open. The only
// owner of the output's FFmpeg context.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "tools/vemra-render/io/encoded_video.h"
#include "tools/vemra-render/io/movie_error.h"
#include "tools/vemra-render/io/movie_packet.h"
#include "tools/vemra-render/io/movie_policy.h"
#include "tools/vemra-render/io/movie_source.h"
#include "tools/vemra-render/io/movie_span.h"
#include "tools/vemra-render/io/stream_plan.h"

namespace render {

class MovieMuxer {
  public:
    /// Creates the container `target`'s ending calls for, in a temporary
    /// beside it, to take `source`'s streams as `routes` says (one route
    /// for each, by index). Throws MovieRefused for a name no container of
    /// the tool's has; MovieError for anything else FFmpeg fails at.
    MovieMuxer(const std::string& target, const SourceDescription& source,
               std::vector<StreamRoute> routes);
    /// On a muxer that did not finish: frees everything and writes no
    /// trailer; the temporary is removed.
    ~MovieMuxer();
    MovieMuxer(const MovieMuxer&) = delete;
    MovieMuxer& operator=(const MovieMuxer&) = delete;

    const ContainerPolicy& container() const;
    /// The container wants codecs' headers out of band (the encoder's
    /// global header).
    bool global_header() const;
    /// True for a stream of the source (by index) whose packets it takes,
    /// copied or converted.
    bool Takes(int stream) const;

    /// Adds the encoded video stream and the `converted` ones (one for each
    /// stream routed to a converter) and writes the header. What the muxer
    /// itself refuses when set up throws MovieRefused with its reason.
    /// Returns the notes on what the output leaves out of the source: a
    /// display matrix it has no place for, what a re-encode cannot carry
    /// (Dolby Vision, HDR10+, captions an encoder drops), a start time the
    /// container cannot hold.
    /// A part of the movie (`span`, its first frame's time set) starts where
    /// the source's video starts, the other streams moved with it, within
    /// its span: copied packets that end before it are dropped, and one
    /// across its start kept where an edit list starts it exactly (a
    /// subtitle cut to it), else dropped; the timecode moves on to the
    /// part's first frame, the chapters with it. A route from elsewhere (a
    /// sound file) lays its stream where it says.
    std::vector<std::string> Start(const EncodedVideo& video,
                                   const std::vector<EncodedStream>& converted = {},
                                   const MovieSpan& span = {});
    /// Where source stream `stream` lies in the output, once started: the
    /// window its converter keeps.
    StreamWindow Window(int stream) const;
    /// Where time `time` of source stream `stream` (the video too) lies on
    /// the output's timeline, in microseconds, once started.
    std::int64_t OutputTime(int stream, std::int64_t time) const;
    /// Writes a packet of the encoded video, in the encoder's time base.
    void WriteVideo(MoviePacket& packet);
    /// Writes a packet of a copied stream as the demuxer read it (when it
    /// lies in its window), or of a converted one as its converter gave it
    /// (its stream index the source stream's).
    void WriteOther(MoviePacket& packet);
    /// Writes the trailer, closes the file and renames it into place.
    /// Returns the notes on where the streams came out: copied sound that
    /// starts after the first frame (no edit list), a sound file whose
    /// length is not the video's within a frame.
    std::vector<std::string> Finish();

  private:
    struct Internals;
    std::unique_ptr<Internals> out_;
};

}  // namespace render
