// Where the streams of a movie output lie in time when it is not the whole
// source laid out as it was: a part of a movie (--start, --duration,
// --frames) and a sound file laid in (--audio-file, --audio-offset). The
// times as ffmpeg reads them, the timecode moved with a part's first frame,
// and which packets of a copied stream a part holds.
#pragma once

struct AVPacket;  // FFmpeg's packet

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/vemra-render/io/movie_source.h"
#include "tools/vemra-render/io/stream_plan.h"

namespace render {

/// A time as ffmpeg reads -ss and -t: seconds ("12", "12.5", "-0.04", "250ms")
/// or [-][HH:]MM:SS[.m...]; in microseconds. Nullopt for anything else.
std::optional<std::int64_t> ParseMovieTime(const std::string& text);

/// `timecode` ("HH:MM:SS:FF", ";" before FF for drop-frame) moved on by
/// `frames` frames at `rate`, as FFmpeg counts timecodes; `timecode` itself
/// when it does not read as one.
std::string MovedTimecode(const std::string& timecode, Rational rate, long frames);

/// `timecode` at `rate` in microseconds since midnight; nullopt when it does
/// not read as one.
std::optional<std::int64_t> TimecodeMicroseconds(const std::string& timecode, Rational rate);

/// The span of the output's frames, in the source video's time base: from
/// its first frame to the end of its last. Unset ends: the movie's own.
struct MovieSpan {
    std::int64_t from = kNoTime;
    std::int64_t to = kNoTime;
    bool whole() const { return from == kNoTime && to == kNoTime; }
};

/// The window of a stream's own time (its time base) that the output
/// holds, and the shift that lays it on the output's timeline.
struct StreamWindow {
    std::int64_t from = kNoTime;  ///< kNoTime: from its start
    std::int64_t to = kNoTime;    ///< kNoTime: to its end
    std::int64_t shift = 0;       ///< in microseconds, added to every timestamp
};

/// Where source stream `stream`, routed by `route`, lies in an output
/// whose frames span `span` of the video (time base `video_time_base`),
/// its first frame laid where the video starts (`first_frame`, in that
/// time base). A stream of the source keeps its place against the frames;
/// one from elsewhere starts `route.placed_at` after the first frame. Both
/// end with a part's last frame, where a part has an end.
StreamWindow WindowFor(const SourceStream& stream, const StreamRoute& route, const MovieSpan& span,
                       Rational video_time_base, std::int64_t first_frame);

/// The chapters of `source` within `span`, cut to it and moved with it as
/// WindowFor moves the source's streams (`first_frame` as there).
std::vector<SourceChapter> ChaptersOfSpan(const SourceDescription& source, const MovieSpan& span,
                                          std::int64_t first_frame);

/// Where a packet starting at `start` and lasting `duration` (0: not
/// known) lies against `window`.
enum class PacketFit {
    kBefore,  ///< ends before the window: dropped
    kInside,  ///< starts inside the window: kept
    kAcross,  ///< starts before the window and ends in it
    kPast,    ///< starts at or after its end: dropped, the stream is done
};
PacketFit FitPacket(const StreamWindow& window, std::int64_t start, std::int64_t duration);

/// Whether a packet of a copied stream of `kind` goes into the output, as
/// its window says: one across the window's start goes in where an
/// `edit_list` starts it exactly, and a subtitle cut to start with the
/// window; `late_start` (-1 until the first packet kept) takes how late the
/// first packet kept starts after the window's start, in the stream's time
/// base.
bool PlacePacket(AVPacket& packet, const StreamWindow& window, StreamKind kind, bool edit_list,
                 std::int64_t& late_start);

/// The instants a stream's packets cover, in microseconds.
struct Extent {
    std::int64_t first = kNoTime;
    std::int64_t last = kNoTime;
    /// Counts a packet starting at `start` and lasting `duration`.
    void Add(std::int64_t start, std::int64_t duration);
    /// From the output's start (what lies before it, an encoder's priming or
    /// a packet an edit list trims, is not heard) to the end; kNoTime: no
    /// packet.
    std::int64_t length() const {
        return first == kNoTime ? kNoTime : last - (first > 0 ? first : 0);
    }
};

/// An output's streams as the muxer wrote them: the source's streams, their
/// routes, the output's container, for the notes.
struct PlacedOutput {
    const std::string& target;
    const SourceDescription& source;
    const std::vector<StreamRoute>& routes;
    const ContainerPolicy& container;
};

/// The notes on where the streams came out: copied sound that starts after
/// the first frame (`late_starts`, by source stream), and a stream laid in
/// from elsewhere whose length is not the video's within a frame
/// (`extents` by output stream, the video's first; `stream_map` maps
/// source streams to output streams, -1: left out).
std::vector<std::string> PlacementNotes(const PlacedOutput& output,
                                        const std::vector<int>& stream_map,
                                        const std::vector<std::int64_t>& late_starts,
                                        const std::vector<Extent>& extents);

/// `time` in `time_base` as microseconds, and back.
std::int64_t ToMicroseconds(std::int64_t time, Rational time_base);
std::int64_t FromMicroseconds(std::int64_t microseconds, Rational time_base);

}  // namespace render
