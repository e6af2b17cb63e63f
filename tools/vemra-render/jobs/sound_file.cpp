#include "tools/vemra-render/jobs/sound_file.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "tools/vemra-render/io/movie_span.h"

namespace render {

namespace {

/// The value of `key` in `metadata`, in any case; empty when not set.
std::string TagOf(const Metadata& metadata, std::string_view key) {
    SourceStream holder;
    holder.metadata = metadata;
    return holder.Tag(key);
}

/// The video's timecode: its stream's, else the file's; empty: none.
std::string VideoTimecode(const SourceDescription& source) {
    const std::string own = source.video_stream().Tag("timecode");
    return own.empty() ? TagOf(source.metadata, "timecode") : own;
}

/// "1.250 s".
std::string Seconds(std::int64_t microseconds) {
    return fmt::format("{:.3f} s", double(microseconds) / 1e6);
}

}  // namespace

SoundFile::SoundFile(const Options& options)
    : options_(options), path_(options.audio_file), demuxer_(MovieDemuxer::ForSound(path_)) {}

SourceDescription SoundFile::Combined(const SourceDescription& source) {
    SourceDescription combined = source;
    first_index_ = int(source.streams.size());
    for (SourceStream stream : demuxer_->source().streams) {
        stream.index += first_index_;
        combined.streams.push_back(std::move(stream));
    }
    return combined;
}

SoundFile::Placement SoundFile::Place(const SourceDescription& source) const {
    if (options_.audio_offset) return {*options_.audio_offset, false, {}};
    const SourceDescription& sound = demuxer_->source();
    const std::string video_timecode = VideoTimecode(source);
    const Rational rate = source.video.frame_rate;
    const std::optional<std::int64_t> video = TimecodeMicroseconds(video_timecode, rate);
    if (!video) return {};
    // The sound file's own timecode, else its broadcast-wave time reference
    // (samples since midnight).
    std::optional<std::int64_t> start;
    std::string said;
    for (const SourceStream& stream : sound.streams) {
        if (const std::string tag = stream.Tag("timecode"); !start && !tag.empty()) {
            start = TimecodeMicroseconds(tag, rate);
            said = tag;
        }
    }
    if (const std::string tag = TagOf(sound.metadata, "timecode"); !start && !tag.empty()) {
        start = TimecodeMicroseconds(tag, rate);
        said = tag;
    }
    const std::string reference = TagOf(sound.metadata, "time_reference");
    std::int64_t samples = 0;
    const auto [end, error] =
        std::from_chars(reference.data(), reference.data() + reference.size(), samples);
    for (const SourceStream& stream : sound.streams) {
        const int sample_rate = stream.SampleRate();
        if (start || reference.empty() || error != std::errc() || sample_rate <= 0) continue;
        start = std::int64_t(std::llround(double(samples) * 1e6 / sample_rate));
        said = fmt::format("time reference {}", reference);
    }
    if (!start) return {};
    const std::int64_t at = *start - *video;
    return {at, true,
            fmt::format("{}: the sound of {} is placed by timecode ({} against the video's {}): it "
                        "starts {} {} the video's first frame",
                        options_.output, path_, said, video_timecode, Seconds(std::abs(at)),
                        at < 0 ? "before" : "after")};
}

std::string SoundFile::Route(const SourceDescription& source, const ContainerPolicy& container,
                             std::vector<StreamRoute>& routes) const {
    for (const SourceStream& stream : source.streams) {
        StreamRoute& route = routes[std::size_t(stream.index)];
        if (stream.kind == StreamKind::kAudio && route.action != StreamRoute::Action::kLeaveOut) {
            route = StreamRoute{};
            route.note =
                fmt::format("{}: the sound of {} is left out: --audio-file {} takes its place",
                            options_.output, source.path, path_);
        }
    }
    const Placement placement = Place(source);
    for (StreamRoute route : PlanStreams(demuxer_->source(), container, options_.audio,
                                         StreamHandling::kNone, options_.output)) {
        route.elsewhere = path_;
        route.placed_at = placement.at;
        route.moves_with_part = placement.by_timecode;
        routes.push_back(std::move(route));
    }
    return placement.note;
}

void SoundFile::SkipTo(std::int64_t microseconds) {
    constexpr std::int64_t kMargin = 1000000;
    if (microseconds > 2 * kMargin) demuxer_->Seek(-1, microseconds - kMargin);
}

bool SoundFile::Read(MoviePacket& packet) {
    if (ended_ || !demuxer_->Read(packet)) {
        ended_ = true;
        return false;
    }
    packet.SetStream(packet.stream() + first_index_);
    return true;
}

}  // namespace render
