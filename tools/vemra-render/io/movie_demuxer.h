// The first movie stage: opens a movie file (only the containers of
// movie_formats.h, only local files), describes it before any frame
// (movie_source.h), and reads its packets, every stream's, failing on damage
// and on a file cut short. The only owner of the input's FFmpeg context.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "tools/vemra-render/io/movie_error.h"
#include "tools/vemra-render/io/movie_packet.h"
#include "tools/vemra-render/io/movie_source.h"

struct AVIOContext;  // FFmpeg's byte source

namespace render {

/// How far the demuxer looks into a file before its first packet; 0 leaves
/// each to FFmpeg.
struct MovieProbe {
    std::int64_t probe_bytes = 0;           ///< FFmpeg's probesize
    std::int64_t analyze_microseconds = 0;  ///< FFmpeg's analyzeduration
};

class MovieDemuxer {
  public:
    /// Opens `path`, finds its video stream (the one FFmpeg ranks best, with
    /// a decoder) and describes the file. Only a local file in one of the
    /// containers of movie_formats.h is opened, and it is never followed to
    /// another file (no playlist, script or image-sequence demuxer). Throws
    /// MovieRefused for a file in any other format and for frames of more
    /// than `max_pixels` pixels, MovieError for a file FFmpeg cannot open and
    /// a file with no video stream or no decoder for it.
    MovieDemuxer(const std::string& path, std::uint64_t max_pixels);
    /// The same over `io`, which the caller keeps open while the demuxer
    /// lives; `name` names it in messages. Within `probe`'s bounds.
    MovieDemuxer(AVIOContext* io, const std::string& name, std::uint64_t max_pixels,
                 const MovieProbe& probe, bool sound = false);
    /// Opens the file `path` for its sound: a sound file (WAV, AIFF, FLAC,
    /// MP3, AAC, Ogg, ...) or any movie the tool reads, video or not; its
    /// description has no video (video.index -1). Throws MovieRefused for a
    /// file in any other format, MovieError for one FFmpeg cannot open or
    /// that holds no sound.
    static std::unique_ptr<MovieDemuxer> ForSound(const std::string& path);
    ~MovieDemuxer();
    MovieDemuxer(const MovieDemuxer&) = delete;
    MovieDemuxer& operator=(const MovieDemuxer&) = delete;

    /// The file as it was opened.
    const SourceDescription& source() const;

    /// Reads the next packet of any stream into `packet`. Every stream
    /// counts, the ones no output uses too: a packet the demuxer marks as
    /// damaged or cut off, or damage it reports only in its log, throws
    /// DemuxError. Returns false at the end of the file, after checking that
    /// the file was whole: fewer packets than a QuickTime/MP4 sample table
    /// lists, or streams that end more than two frames before the duration
    /// the container declares, throw DemuxError too.
    bool Read(MoviePacket& packet);

    /// Moves to the key frame of `stream` at or before `timestamp` (in its
    /// time base; stream -1: microseconds), by the demuxer's index where it
    /// has one, so that reading goes on from there rather than from the
    /// start. The checks of a file read to its end then leave out the
    /// packets skipped. Throws DemuxError.
    void Seek(int stream, std::int64_t timestamp);

    /// How the video's frames lie in time, as their timestamps say (not as
    /// the declared rates do): from the sample table where QuickTime and MP4
    /// list every frame, else from a pass over the video's packets on a
    /// second context of the demuxer's own. Asked only for movie outputs,
    /// before the first Read. A demuxer over memory or a pipe cannot make a
    /// second pass: its frames count as uneven.
    VideoSpacing MeasureSpacing() const;

  private:
    struct Internals;
    std::unique_ptr<Internals> in_;
};

/// What FFmpeg's probe takes a local file for by its contents.
struct ProbedContainer {
    std::string demuxer;      ///< FFmpeg's name: "mov,mp4,m4a,3gp,3g2,mj2", "concat"
    std::string description;  ///< its long name: "Virtual concatenation script"
    /// A container the movie reader opens (movie_formats.h), not an
    /// animated image (GIF, APNG), which it opens too.
    bool movie = false;
    bool animation = false;  ///< an animated image the movie reader opens
};

/// What FFmpeg's probe takes the local file `path` for, whatever it is (a
/// container, a playlist, an image); nullopt when it takes it for nothing.
/// Only `path` itself is read: nothing it names is opened.
std::optional<ProbedContainer> ProbeContainer(const std::string& path);

}  // namespace render
