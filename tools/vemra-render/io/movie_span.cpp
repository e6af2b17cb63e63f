#include "tools/vemra-render/io/movie_span.h"

#include <fmt/format.h>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/avutil.h>
#include <libavutil/parseutils.h>
#include <libavutil/timecode.h>
}

#include <algorithm>
#include <cmath>

namespace render {

std::optional<std::int64_t> ParseMovieTime(const std::string& text) {
    std::int64_t microseconds = 0;
    if (text.empty() || av_parse_time(&microseconds, text.c_str(), 1) < 0) return std::nullopt;
    return microseconds;
}

namespace {

/// FFmpeg's timecode of `timecode` at `rate`; false when it does not read.
bool ReadTimecode(const std::string& timecode, Rational rate, AVTimecode& into) {
    if (!rate.valid() || timecode.empty()) return false;
    return av_timecode_init_from_string(&into, {rate.num, rate.den}, timecode.c_str(), nullptr) >=
           0;
}

}  // namespace

std::string MovedTimecode(const std::string& timecode, Rational rate, long frames) {
    AVTimecode tc{};
    if (!ReadTimecode(timecode, rate, tc)) return timecode;
    char text[AV_TIMECODE_STR_SIZE];
    return av_timecode_make_string(&tc, text, int(frames));
}

std::optional<std::int64_t> TimecodeMicroseconds(const std::string& timecode, Rational rate) {
    AVTimecode tc{};
    if (!ReadTimecode(timecode, rate, tc)) return std::nullopt;
    return av_rescale_q(tc.start, {rate.den, rate.num}, {1, AV_TIME_BASE});
}

StreamWindow WindowFor(const SourceStream& stream, const StreamRoute& route, const MovieSpan& span,
                       Rational video_time_base, std::int64_t first_frame) {
    const AVRational video{video_time_base.num, video_time_base.den};
    const AVRational own{stream.time_base.num, stream.time_base.den};
    const AVRational microseconds{1, AV_TIME_BASE};
    const std::int64_t first = av_rescale_q(first_frame, video, microseconds);
    const std::int64_t from = span.from != kNoTime ? span.from : first_frame;
    // The part's length, where it has an end.
    const std::int64_t length =
        span.to != kNoTime ? av_rescale_q(span.to - from, video, microseconds) : kNoTime;
    StreamWindow window;
    if (route.elsewhere.empty()) {
        if (span.whole()) return window;
        window.shift = first - av_rescale_q(from, video, microseconds);
    } else {
        const std::int64_t start = stream.start_time != kNoTime ? stream.start_time : 0;
        window.shift = first + route.placed_at - av_rescale_q(start, own, microseconds);
        if (route.moves_with_part) window.shift += first - av_rescale_q(from, video, microseconds);
    }
    window.from = av_rescale_q(first - window.shift, microseconds, own);
    if (length != kNoTime)
        window.to = av_rescale_q(first + length - window.shift, microseconds, own);
    return window;
}

std::vector<SourceChapter> ChaptersOfSpan(const SourceDescription& source, const MovieSpan& span,
                                          std::int64_t first_frame) {
    if (span.whole()) return source.chapters;
    const SourceStream& frames = source.video_stream();
    const StreamWindow part = WindowFor(frames, {}, span, frames.time_base, first_frame);
    const AVRational video{frames.time_base.num, frames.time_base.den};
    std::vector<SourceChapter> chapters;
    for (SourceChapter chapter : source.chapters) {
        const AVRational base{chapter.time_base.num, chapter.time_base.den};
        if (part.from != kNoTime) {
            chapter.start = std::max(chapter.start, av_rescale_q(part.from, video, base));
        }
        if (part.to != kNoTime)
            chapter.end = std::min(chapter.end, av_rescale_q(part.to, video, base));
        if (chapter.end <= chapter.start) continue;
        const std::int64_t shift = av_rescale_q(part.shift, {1, AV_TIME_BASE}, base);
        chapter.start += shift;
        chapter.end += shift;
        chapters.push_back(std::move(chapter));
    }
    return chapters;
}

void Extent::Add(std::int64_t start, std::int64_t duration) {
    if (first == kNoTime || start < first) first = start;
    if (last == kNoTime || start + duration > last) last = start + duration;
}

std::int64_t ToMicroseconds(std::int64_t time, Rational time_base) {
    return av_rescale_q(time, {time_base.num, time_base.den}, {1, AV_TIME_BASE});
}

std::int64_t FromMicroseconds(std::int64_t microseconds, Rational time_base) {
    return av_rescale_q(microseconds, {1, AV_TIME_BASE}, {time_base.num, time_base.den});
}

PacketFit FitPacket(const StreamWindow& window, std::int64_t start, std::int64_t duration) {
    if (window.to != kNoTime && start >= window.to) return PacketFit::kPast;
    if (window.from == kNoTime || start >= window.from) return PacketFit::kInside;
    return start + duration > window.from ? PacketFit::kAcross : PacketFit::kBefore;
}

bool PlacePacket(AVPacket& packet, const StreamWindow& window, StreamKind kind, bool edit_list,
                 std::int64_t& late_start) {
    const std::int64_t start = packet.pts != kNoTime ? packet.pts : packet.dts;
    if (start == kNoTime) return true;
    switch (FitPacket(window, start, packet.duration)) {
        case PacketFit::kBefore:
        case PacketFit::kPast:
            return false;
        case PacketFit::kInside:
            if (late_start < 0 && window.from != kNoTime) late_start = start - window.from;
            return true;
        case PacketFit::kAcross:
            break;
    }
    // Sound or video across the start: kept where an edit list starts it
    // exactly, else dropped (the next packet is then late).
    if (kind != StreamKind::kSubtitle) {
        if (edit_list) late_start = 0;
        return edit_list;
    }
    late_start = 0;
    // A subtitle shown when the window opens is shown from its start.
    const std::int64_t cut = window.from - start;
    packet.pts = window.from;
    if (packet.dts != kNoTime) packet.dts += cut;
    packet.duration -= cut;
    return true;
}

std::vector<std::string> PlacementNotes(const PlacedOutput& output,
                                        const std::vector<int>& stream_map,
                                        const std::vector<std::int64_t>& late_starts,
                                        const std::vector<Extent>& extents) {
    std::vector<std::string> notes;
    const Rational rate = output.source.video.frame_rate;
    const double frame = rate.valid() ? double(rate.den) / rate.num : 0.04;
    for (const SourceStream& stream : output.source.streams) {
        const auto index = std::size_t(stream.index);
        const int written = stream_map[index];
        if (written < 0) continue;
        const StreamRoute& route = output.routes[index];
        const std::string& file = route.elsewhere.empty() ? output.source.path : route.elsewhere;
        if (late_starts[index] > 0 && stream.kind == StreamKind::kAudio) {
            notes.push_back(fmt::format(
                "{}: the sound of {} starts {:.0f} ms after the first frame, at its first packet "
                "there: {} has no edit list to start it inside a packet",
                output.target, file,
                1e3 * double(late_starts[index]) * stream.time_base.num / stream.time_base.den,
                output.container.name));
        }
        const std::int64_t length = extents[std::size_t(written)].length();
        if (route.elsewhere.empty() || length == kNoTime || extents[0].length() == kNoTime)
            continue;
        const double sound = double(length) / AV_TIME_BASE;
        const double video = double(extents[0].length()) / AV_TIME_BASE;
        if (std::abs(sound - video) > frame) {
            notes.push_back(fmt::format("{}: the sound of {} lasts {:.3f} s, the video {:.3f} s",
                                        output.target, file, sound, video));
        }
    }
    return notes;
}

}  // namespace render
