#include "tools/vemra-render/io/stream_plan.h"

#include <fmt/format.h>

#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/io/movie_error.h"

namespace render {

namespace {

using Action = StreamRoute::Action;

StreamRoute Route(Action action, std::string encoder = {}, std::string note = {}) {
    StreamRoute route;
    route.action = action;
    route.encoder = std::move(encoder);
    route.note = std::move(note);
    return route;
}

/// "stream 1 (audio aac)" of the source, for notes and refusals.
std::string Named(const SourceStream& stream) {
    const AVCodecParameters& parameters = stream.parameters.get();
    return fmt::format("stream {} ({} {})", stream.index,
                       av_get_media_type_string(parameters.codec_type),
                       avcodec_get_name(parameters.codec_id));
}

std::string_view CodecOf(const SourceStream& stream) {
    return avcodec_get_name(stream.parameters.get().codec_id);
}

/// True when FFmpeg can decode `stream` and has the encoder `encoder`.
bool CanConvert(const SourceStream& stream, std::string_view encoder) {
    return avcodec_find_decoder(stream.parameters.get().codec_id) != nullptr &&
           avcodec_find_encoder_by_name(std::string(encoder).c_str()) != nullptr;
}

struct Context {
    const SourceDescription& source;
    const ContainerPolicy& container;
    const std::string& target;

    [[noreturn]] void Refuse(const SourceStream& stream, std::string_view option) const {
        throw MovieRefused(fmt::format(
            "{}: the {} format cannot hold {} of {}; {} convert converts it (or choose another "
            "container: .mov or .mkv hold most)",
            target, container.muxer, Named(stream), source.path, option));
    }
    StreamRoute LeftOut(const SourceStream& stream, std::string_view why) const {
        return Route(
            Action::kLeaveOut, {},
            fmt::format("{}: {} of {} is left out: {}", target, Named(stream), source.path, why));
    }
    StreamRoute Sound(const SourceStream& stream, StreamHandling handling) const;
    StreamRoute Subtitles(const SourceStream& stream, StreamHandling handling) const;
};

StreamRoute Context::Sound(const SourceStream& stream, StreamHandling handling) const {
    const int rate = stream.parameters.get().sample_rate;
    const bool held = Holds(container, StreamKind::kAudio, CodecOf(stream));
    const bool rate_held = container.audio_rate == 0 || rate == container.audio_rate;
    if (handling == StreamHandling::kNone) return Route(Action::kLeaveOut);
    if (held && rate_held && handling != StreamHandling::kConvert) return Route(Action::kCopy);
    if (handling == StreamHandling::kCopy) Refuse(stream, "--audio");
    const std::string_view encoder = container.audio_encoder;
    if (encoder.empty() || !CanConvert(stream, encoder)) {
        return LeftOut(stream, fmt::format("{} cannot hold it and this FFmpeg cannot convert it",
                                           container.name));
    }
    const std::string why = handling == StreamHandling::kConvert ? std::string("--audio convert")
                            : !held
                                ? fmt::format("{} cannot hold {}", container.name, CodecOf(stream))
                                : fmt::format("{}'s muxer takes sound at {} Hz only, not {} Hz",
                                              container.name, container.audio_rate, rate);
    StreamRoute route = Route(
        Action::kConvert, std::string(encoder),
        fmt::format(
            "{}: {} of {} is converted to {}{} ({})", target, Named(stream), source.path, encoder,
            container.audio_rate != 0 ? fmt::format(" at {} Hz", container.audio_rate) : "", why));
    route.sample_rate = container.audio_rate;
    return route;
}

StreamRoute Context::Subtitles(const SourceStream& stream, StreamHandling handling) const {
    const bool held = Holds(container, StreamKind::kSubtitle, CodecOf(stream));
    if (handling == StreamHandling::kNone) return Route(Action::kLeaveOut);
    if (held && handling != StreamHandling::kConvert) return Route(Action::kCopy);
    if (handling == StreamHandling::kCopy) Refuse(stream, "--subtitles");
    const AVCodecDescriptor* desc = avcodec_descriptor_get(stream.parameters.get().codec_id);
    const bool text = desc != nullptr && (desc->props & AV_CODEC_PROP_TEXT_SUB) != 0;
    if (!text) {
        return LeftOut(stream, fmt::format("{} subtitles are pictures, and {} holds no such "
                                           "subtitles",
                                           CodecOf(stream), container.name));
    }
    const std::string_view encoder = container.text_subtitle_encoder;
    if (encoder.empty() || !CanConvert(stream, encoder)) {
        return LeftOut(stream, fmt::format("{} holds no text subtitles", container.name));
    }
    return Route(
        Action::kConvert, std::string(encoder),
        fmt::format("{}: {} of {} is converted to {} ({})", target, Named(stream), source.path,
                    encoder,
                    handling == StreamHandling::kConvert
                        ? std::string("--subtitles convert")
                        : fmt::format("{} cannot hold {}", container.name, CodecOf(stream))));
}

}  // namespace

bool ParseStreamHandling(const std::string& word, StreamHandling& handling) {
    if (word == "copy") {
        handling = StreamHandling::kCopy;
    } else if (word == "convert") {
        handling = StreamHandling::kConvert;
    } else if (word == "none") {
        handling = StreamHandling::kNone;
    } else {
        return false;
    }
    return true;
}

std::vector<StreamRoute> PlanStreams(const SourceDescription& source,
                                     const ContainerPolicy& container, StreamHandling audio,
                                     StreamHandling subtitles, const std::string& target) {
    const Context context{source, container, target};
    std::vector<StreamRoute> routes;
    for (const SourceStream& stream : source.streams) {
        const AVCodecParameters& parameters = stream.parameters.get();
        // The rendered video is encoded anew, and every other video stream
        // (cover art, other angles) left out; a QuickTime timecode track is
        // rebuilt by the muxer from the video stream's timecode tag; a
        // chapter track from the chapters.
        const bool timecode = parameters.codec_tag == MKTAG('t', 'm', 'c', 'd');
        if (stream.kind == StreamKind::kVideo || stream.kind == StreamKind::kOther ||
            stream.discarded || timecode || parameters.codec_id == AV_CODEC_ID_NONE) {
            routes.push_back(Route(Action::kLeaveOut));
        } else if (stream.kind == StreamKind::kAudio) {
            routes.push_back(context.Sound(stream, audio));
        } else if (stream.kind == StreamKind::kSubtitle) {
            routes.push_back(context.Subtitles(stream, subtitles));
        } else if (Holds(container, stream.kind, CodecOf(stream))) {
            routes.push_back(Route(Action::kCopy));
        } else if (stream.kind == StreamKind::kAttachment) {
            routes.push_back(
                context.LeftOut(stream, fmt::format("{} holds no attachments", container.name)));
        } else {
            routes.push_back(Route(Action::kLeaveOut));  // data it has no place for
        }
    }
    return routes;
}

std::size_t OutputStreams(const std::vector<StreamRoute>& routes, const SourceDescription& source) {
    std::size_t streams = 1;
    for (std::size_t i = 0; i < routes.size() && i < source.streams.size(); ++i) {
        if (source.streams[i].kind != StreamKind::kAttachment &&
            routes[i].action != StreamRoute::Action::kLeaveOut) {
            ++streams;
        }
    }
    return streams;
}

}  // namespace render
