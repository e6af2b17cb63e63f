#include "tools/vemra-render/jobs/movie_output.h"

#include <fmt/format.h>

#include <utility>

#include "tools/vemra-render/io/movie_policy.h"

namespace render {

namespace {

const ContainerPolicy& ContainerOf(const Options& options) {
    const ContainerPolicy* container = ContainerFor(options.output);
    if (container == nullptr) {
        throw MovieRefused(fmt::format("{}: no movie format for this file name", options.output));
    }
    return *container;
}

/// How far ahead of the frames the sound file is read: the muxer
/// interleaves what it is given, and holds what runs ahead.
constexpr std::int64_t kSoundAhead = 1000000;

}  // namespace

EncoderSettings SettingsOf(const Options& options) {
    EncoderSettings settings;
    settings.codec = options.codec;
    settings.pix_fmt = options.pix_fmt.value_or("");
    settings.quality = options.quality.value_or(-1);
    settings.quiet = options.quiet;
    settings.threads = options.codec_threads;
    settings.color_matrix = options.color_matrix;
    settings.color_range = options.color_range;
    return settings;
}

MovieSources::MovieSources(const Options& options, const SourceDescription& source)
    : described(source) {
    const ContainerPolicy& container = ContainerOf(options);
    routes = PlanStreams(source, container, options.audio, options.subtitles, options.output);
    if (!options.audio_file.empty()) {
        sound = std::make_unique<SoundFile>(options);
        described = sound->Combined(source);
        placement_note = sound->Route(source, container, routes);
    }
}

std::size_t MovieSources::OutputStreamCount() const {
    return OutputStreams(routes, described);
}

MovieOutput::MovieOutput(const Options& options, MovieSources& sources)
    : sources_(sources),
      muxer_(options.output, sources.described, sources.routes),
      encoder_(sources.described, muxer_.container(), muxer_.global_header(), SettingsOf(options),
               options.output) {
    for (const SourceStream& stream : sources.described.streams) {
        const StreamRoute& route = sources.routes[std::size_t(stream.index)];
        if (route.action != StreamRoute::Action::kConvert) continue;
        converters_[stream.index] = std::make_unique<StreamConverter>(
            stream, route, muxer_.global_header(), options.output);
    }
}

void MovieOutput::Start(const EncoderFrame* first, const MovieSpan& span, Notes& notes) {
    encoder_.Open(first);
    if (!sources_.placement_note.empty()) notes.Once("placed", sources_.placement_note);
    for (const StreamRoute& route : sources_.routes) {
        if (!route.note.empty()) notes.Once(route.note, route.note);
    }
    for (const std::string& note : encoder_.notes()) notes.Once(note, note);
    std::vector<EncodedStream> converted;
    for (const auto& [index, converter] : converters_) converted.push_back(converter->stream());
    for (const std::string& note : muxer_.Start(encoder_.stream(), converted, span)) {
        notes.Once(note, note);
    }
    for (const auto& [index, converter] : converters_) converter->Keep(muxer_.Window(index));
    if (!sources_.sound) return;
    // A sound file placed well before the first frame is read from there.
    std::int64_t from = kNoTime;
    for (const SourceStream& stream : sources_.described.streams) {
        const StreamWindow window = muxer_.Window(stream.index);
        if (sources_.routes[std::size_t(stream.index)].elsewhere.empty() ||
            window.from == kNoTime) {
            continue;
        }
        const std::int64_t start = ToMicroseconds(window.from, stream.time_base);
        if (from == kNoTime || start < from) from = start;
    }
    if (from != kNoTime) sources_.sound->SkipTo(from);
}

void MovieOutput::WriteOther(MoviePacket& packet) {
    const auto converter = converters_.find(packet.stream());
    if (converter == converters_.end()) {
        muxer_.WriteOther(packet);
        return;
    }
    converter->second->Convert(packet,
                               [this](MoviePacket& converted) { muxer_.WriteOther(converted); });
}

void MovieOutput::ReadSound(std::int64_t until) {
    while (sources_.sound) {
        if (!sound_waiting_) {
            if (!sources_.sound->Read(sound_packet_)) return;
            sound_waiting_ = true;
        }
        const int stream = sound_packet_.stream();
        const std::int64_t time = sound_packet_.time();
        if (time != kNoTime) {
            // Past the end of a part: the rest of the file is not read.
            const StreamWindow window = muxer_.Window(stream);
            if (window.to != kNoTime && time >= window.to) return;
            if (until != kNoTime && muxer_.OutputTime(stream, time) > until) return;
        }
        if (Takes(stream)) WriteOther(sound_packet_);
        sound_packet_.Clear();
        sound_waiting_ = false;
    }
}

void MovieOutput::Write(EncoderFrame* frame, std::int64_t time, const TakeOther& take) {
    const auto video = [this](MoviePacket& packet) { muxer_.WriteVideo(packet); };
    if (frame != nullptr) {
        encoder_.Encode(*frame, video);
    } else {
        encoder_.Flush(video);
    }
    MoviePacket queued;
    while (take && take(queued)) WriteOther(queued);
    const int frames = sources_.described.video.index;
    ReadSound(frame != nullptr && time != kNoTime ? muxer_.OutputTime(frames, time) + kSoundAhead
                                                  : kNoTime);
    if (frame != nullptr) return;
    const auto write = [this](MoviePacket& packet) { muxer_.WriteOther(packet); };
    for (const auto& [index, converter] : converters_) converter->Flush(write);
}

void MovieOutput::Finish(Notes& notes) {
    for (const std::string& note : muxer_.Finish()) notes.Once(note, note);
}

}  // namespace render
