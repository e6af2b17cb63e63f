// The fourth movie stage: the output container, written to a temporary
// beside the target and renamed into place once finalised. It copies the
// source's sound, subtitle, data and attachment streams as they are (what
// its container holds, movie_policy.h), keeps the source's timing, tags,
// metadata and chapters, and takes the encoded video stream once the
// encoder is open. The only owner of the output's FFmpeg context.
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

namespace render {

class MovieMuxer {
  public:
    /// Creates the container `target`'s ending calls for, in a temporary
    /// beside it, with a stream for each of `source`'s streams it copies.
    /// Throws MovieRefused for a name no container of the tool's has and
    /// for a stream the container cannot hold; MovieError for anything
    /// else FFmpeg fails at.
    MovieMuxer(const std::string& target, const SourceDescription& source);
    /// On a muxer that did not finish: frees everything and writes no
    /// trailer; the temporary is removed.
    ~MovieMuxer();
    MovieMuxer(const MovieMuxer&) = delete;
    MovieMuxer& operator=(const MovieMuxer&) = delete;

    const ContainerPolicy& container() const;
    /// The container wants codecs' headers out of band (the encoder's
    /// global header).
    bool global_header() const;
    /// True for a stream of the source (by index) whose packets it copies.
    bool Copies(int stream) const;

    /// Adds the encoded video stream and writes the header. What the muxer
    /// itself refuses when set up (such as MXF's audio rates) throws
    /// MovieRefused with its reason. Returns the notes on what the output
    /// leaves out of the source: a display matrix it has no place for, what
    /// a re-encode cannot carry (Dolby Vision, HDR10+, captions an encoder
    /// drops), a start time the container cannot hold.
    std::vector<std::string> Start(const EncodedVideo& video);
    /// Writes a packet of the encoded video, in the encoder's time base.
    void WriteVideo(MoviePacket& packet);
    /// Writes a packet of a copied stream, as the demuxer read it.
    void WriteCopied(MoviePacket& packet);
    /// Writes the trailer, closes the file and renames it into place.
    void Finish();

  private:
    struct Internals;
    std::unique_ptr<Internals> out_;
};

/// The streams a movie written to `target` from `source` holds: its video
/// and the streams it copies, attachments not counted; 0 when the tool
/// writes no movie of that name. Makes no file.
std::size_t MovieOutputStreams(const std::string& target, const SourceDescription& source);

}  // namespace render
