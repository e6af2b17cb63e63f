// What becomes of each stream of a movie beside the rendered video, decided
// before any frame from the container's row of the policy table and the
// user's --audio and --subtitles: copied packet for packet, converted to a
// codec the container holds (as the ffmpeg program converts it), or left
// out; with the note that says so. The muxer copies and adds streams by it,
// the movie job makes a converter for each stream it converts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/vemra-render/io/movie_policy.h"
#include "tools/vemra-render/io/movie_source.h"

namespace render {

/// What the user asks of one kind of stream (--audio, --subtitles).
enum class StreamHandling {
    kAuto,     ///< copied where the container holds it, else converted
    kCopy,     ///< copied, or refused where the container cannot hold it
    kConvert,  ///< converted to the container's own codec for the kind
    kNone,     ///< left out
};

/// Parses --audio's and --subtitles' words ("copy", "convert", "none");
/// false for any other.
bool ParseStreamHandling(const std::string& word, StreamHandling& handling);

struct StreamRoute {
    enum class Action { kCopy, kConvert, kLeaveOut };
    Action action = Action::kLeaveOut;
    std::string encoder;  ///< kConvert: FFmpeg's encoder
    /// kConvert, sound: the rate the container takes (0: the encoder's
    /// nearest to the source's).
    int sample_rate = 0;
    /// What became of the stream, naming the output; empty: nothing to say
    /// (a stream copied, the rendered video, a stream the user left out).
    std::string note;
    /// A stream of another file laid into the output (a sound file's): that
    /// file's name, and where the stream's start lies against the output's
    /// first frame, in microseconds (negative: before it; what lies before
    /// the first frame is cut). Empty: a stream of the source.
    std::string elsewhere;
    std::int64_t placed_at = 0;
    /// `placed_at` lies against the source video's start, not the output's
    /// first frame (a sound file placed by timecode): a part of the movie
    /// moves it with its frames.
    bool moves_with_part = false;
};

/// The route of every stream of `source` (by index) into `container`,
/// written as `target`. Throws MovieRefused for a sound or subtitle stream
/// --audio copy or --subtitles copy asks to copy where the container cannot
/// hold it.
std::vector<StreamRoute> PlanStreams(const SourceDescription& source,
                                     const ContainerPolicy& container, StreamHandling audio,
                                     StreamHandling subtitles, const std::string& target);

/// The streams a movie output written by `routes` holds: its video and each
/// stream copied or converted, attachments not counted (they travel in the
/// header of the containers that hold them).
std::size_t OutputStreams(const std::vector<StreamRoute>& routes, const SourceDescription& source);

}  // namespace render
