// A sound file laid into a movie output (--audio-file): its sound streams
// added after the source's own to the description the output is made from,
// routed as the container needs (copied or converted, as the source's
// sound would be), placed against the first frame: where --audio-offset
// says, else by timecode where both the video and the sound file carry
// one, else with the first frame. It replaces the source's own sound.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/vemra-render/io/movie_demuxer.h"
#include "tools/vemra-render/io/movie_packet.h"
#include "tools/vemra-render/io/movie_source.h"
#include "tools/vemra-render/io/stream_plan.h"
#include "tools/vemra-render/jobs/options.h"

namespace render {

class SoundFile {
  public:
    /// Opens options.audio_file. Throws MovieRefused or MovieError.
    explicit SoundFile(const Options& options);

    const std::string& path() const { return path_; }

    /// `source` with the sound file's streams added after its own.
    SourceDescription Combined(const SourceDescription& source);

    /// Adds to `routes` (one for each stream of the source) the routes of
    /// the file's streams into `container`: its sound placed, copied or
    /// converted as --audio says, the rest left out; and leaves the
    /// source's own sound out, with a note. Returns the note on how the
    /// sound was placed (empty: with the first frame).
    std::string Route(const SourceDescription& source, const ContainerPolicy& container,
                      std::vector<StreamRoute>& routes) const;

    /// Moves the file on to `microseconds` of its own time (less a second),
    /// when far enough in to skip reading.
    void SkipTo(std::int64_t microseconds);

    /// Reads the file's next packet into `packet`, its stream numbered as
    /// in the combined description; false at its end.
    bool Read(MoviePacket& packet);

  private:
    /// Where the file's start lies against the source video's start, in
    /// microseconds, and whether by timecode (then it moves with a part).
    struct Placement {
        std::int64_t at = 0;
        bool by_timecode = false;
        std::string note;
    };
    Placement Place(const SourceDescription& source) const;

    const Options& options_;
    std::string path_;
    std::unique_ptr<MovieDemuxer> demuxer_;
    int first_index_ = 0;  ///< its first stream's index in the combined description
    bool ended_ = false;
};

}  // namespace render
