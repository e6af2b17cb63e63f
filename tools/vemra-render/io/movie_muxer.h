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
    std::vector<std::string> Start(const EncodedVideo& video,
                                   const std::vector<EncodedStream>& converted = {});
    /// Writes a packet of the encoded video, in the encoder's time base.
    void WriteVideo(MoviePacket& packet);
    /// Writes a packet of a copied stream as the demuxer read it, or of a
    /// converted one as its converter gave it (its stream index the source
    /// stream's).
    void WriteOther(MoviePacket& packet);
    /// Writes the trailer, closes the file and renames it into place.
    void Finish();

  private:
    struct Internals;
    std::unique_ptr<Internals> out_;
};

}  // namespace render
