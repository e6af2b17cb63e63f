#include "tools/vemra-render/io/movie_muxer.h"

#include <fmt/format.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mastering_display_metadata.h>
}

#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/io/ffmpeg_log.h"
#include "tools/vemra-render/run/atomic_output.h"
#include "tools/vemra-render/run/library_log.h"

namespace render {

using namespace movie;

namespace {

/// An output container: closes its file (when it has one) and frees it.
struct OutputDeleter {
    void operator()(AVFormatContext* context) const {
        if (context->pb != nullptr && !(context->oformat->flags & AVFMT_NOFILE)) {
            avio_closep(&context->pb);
        }
        avformat_free_context(context);
    }
};
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;

AVRational ToAv(Rational value) {
    return {value.num, value.den};
}

void SetMetadata(AVDictionary** dictionary, const Metadata& metadata) {
    for (const auto& [key, value] : metadata)
        av_dict_set(dictionary, key.c_str(), value.c_str(), 0);
}

/// What becomes of a stream of the source: copied, left out, or refused.
enum class Copy { kYes, kLeftOut, kRefused };

Copy CopyOf(const SourceStream& stream, const ContainerPolicy& container, int video_index) {
    const AVCodecParameters& parameters = stream.parameters.get();
    // The rendered video is encoded anew, and every other video stream (cover
    // art, other angles) left out; a QuickTime timecode track is rebuilt by
    // the muxer from the video stream's timecode tag.
    if (stream.index == video_index || stream.kind == StreamKind::kVideo ||
        stream.kind == StreamKind::kOther) {
        return Copy::kLeftOut;
    }
    if (stream.kind == StreamKind::kData && parameters.codec_tag == MKTAG('t', 'm', 'c', 'd')) {
        return Copy::kLeftOut;
    }
    if (parameters.codec_id != AV_CODEC_ID_NONE &&
        Holds(container, stream.kind, avcodec_get_name(parameters.codec_id))) {
        return Copy::kYes;
    }
    // Data and attachments the container has no place for are left out;
    // sound and subtitles refused.
    return stream.kind == StreamKind::kData || stream.kind == StreamKind::kAttachment
               ? Copy::kLeftOut
               : Copy::kRefused;
}

}  // namespace

struct MovieMuxer::Internals {
    std::string target;
    const SourceDescription& source;
    const ContainerPolicy* container = nullptr;
    AtomicFile file;
    OutputPtr output;
    AVStream* video = nullptr;
    /// For each stream of the source: copied or not (decided when the muxer
    /// is made), and the output stream it is copied into, once started (-1
    /// before, and for a stream not copied).
    std::vector<bool> copied;
    std::vector<int> stream_map;
    Rational encoder_time_base;
    bool started = false;
    bool finished = false;

    Internals(const std::string& target_, const SourceDescription& source_,
              const ContainerPolicy* container_)
        : target(target_), source(source_), container(container_), file(target_) {}

    [[noreturn]] void Fail(const std::string& what, int code) const {
        throw MovieError(fmt::format("{}: {}: {}", target, what, ErrorText(code)));
    }
    void CreateContainer();
    void PlanCopies();
    void AddCopiedStreams();
    void CopyMetadataAndChapters();
    void AddVideoStream(const EncodedVideo& encoded);
    void AddVideoSideData(const EncodedVideo& encoded, std::vector<std::string>& notes);
    std::vector<std::string> WhatIsDropped(const EncodedVideo& encoded) const;
    void WriteHeader();
    /// Writes `packet`; a failure names the source stream `from` (-1: the video).
    void Write(AVPacket& packet, int from);
};

namespace {

const ContainerPolicy& ContainerOrRefuse(const std::string& target) {
    const ContainerPolicy* container = ContainerFor(target);
    if (container == nullptr) {
        throw MovieRefused(fmt::format("{}: no movie format for this file name", target));
    }
    return *container;
}

}  // namespace

MovieMuxer::MovieMuxer(const std::string& target, const SourceDescription& source)
    : out_(std::make_unique<Internals>(target, source, &ContainerOrRefuse(target))) {
    InstallFfmpegLog();
    out_->CreateContainer();
    out_->PlanCopies();
}

MovieMuxer::~MovieMuxer() = default;

void MovieMuxer::Internals::CreateContainer() {
    const AVOutputFormat* format =
        av_guess_format(std::string(container->muxer).c_str(), nullptr, nullptr);
    AVFormatContext* created = nullptr;
    if (int code =
            avformat_alloc_output_context2(&created, format, nullptr, file.temp_path().c_str());
        code < 0) {
        Fail("cannot create the container", code);
    }
    output.reset(created);
}

void MovieMuxer::Internals::PlanCopies() {
    copied.assign(source.streams.size(), false);
    stream_map.assign(source.streams.size(), -1);
    for (const SourceStream& stream : source.streams) {
        const AVCodecParameters& parameters = stream.parameters.get();
        const Copy copy = CopyOf(stream, *container, source.video.index);
        if (copy == Copy::kRefused) {
            throw MovieRefused(
                fmt::format("{}: the {} format cannot hold stream {} ({} {}) of {}; choose another "
                            "container (.mov or .mkv hold most)",
                            target, container->muxer, stream.index,
                            av_get_media_type_string(parameters.codec_type),
                            avcodec_get_name(parameters.codec_id), source.path));
        }
        copied[std::size_t(stream.index)] = copy == Copy::kYes;
    }
}

void MovieMuxer::Internals::AddCopiedStreams() {
    const AVOutputFormat* format = output->oformat;
    for (const SourceStream& stream : source.streams) {
        if (!copied[std::size_t(stream.index)]) continue;
        const AVCodecParameters& parameters = stream.parameters.get();
        AVStream* out = avformat_new_stream(output.get(), nullptr);
        if (out == nullptr) throw std::bad_alloc();
        if (int code = avcodec_parameters_copy(out->codecpar, &parameters); code < 0) {
            Fail("copying a stream", code);
        }
        // Keep the source's codec tag where the container knows it for this
        // codec (or knows no tags); else let the muxer choose, as ffmpeg does.
        unsigned tag = 0;
        if (format->codec_tag == nullptr ||
            av_codec_get_id(format->codec_tag, parameters.codec_tag) == parameters.codec_id ||
            !av_codec_get_tag2(format->codec_tag, parameters.codec_id, &tag)) {
            out->codecpar->codec_tag = parameters.codec_tag;
        } else {
            out->codecpar->codec_tag = 0;
        }
        out->time_base = ToAv(stream.time_base);
        out->disposition = stream.disposition;
        out->sample_aspect_ratio = ToAv(stream.sample_aspect_ratio);
        out->avg_frame_rate = ToAv(stream.avg_frame_rate);
        out->r_frame_rate = ToAv(stream.r_frame_rate);
        SetMetadata(&out->metadata, stream.metadata);
        stream_map[std::size_t(stream.index)] = out->index;
    }
}

void MovieMuxer::Internals::CopyMetadataAndChapters() {
    AVFormatContext* out = output.get();
    SetMetadata(&out->metadata, source.metadata);
    av_dict_set(&out->metadata, "encoder", LIBAVFORMAT_IDENT, 0);
    for (const SourceChapter& from : source.chapters) {
        auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (chapter == nullptr) throw std::bad_alloc();
        chapter->id = from.id;
        chapter->time_base = ToAv(from.time_base);
        chapter->start = from.start;
        chapter->end = from.end;
        SetMetadata(&chapter->metadata, from.metadata);
        if (av_dynarray_add_nofree(&out->chapters, reinterpret_cast<int*>(&out->nb_chapters),
                                   chapter) < 0) {
            av_dict_free(&chapter->metadata);
            av_free(chapter);
            throw std::bad_alloc();
        }
    }
}

const ContainerPolicy& MovieMuxer::container() const {
    return *out_->container;
}

bool MovieMuxer::global_header() const {
    return (out_->output->oformat->flags & AVFMT_GLOBALHEADER) != 0;
}

bool MovieMuxer::Copies(int stream) const {
    // Attachments travel in the header, not as packets.
    return stream >= 0 && std::size_t(stream) < out_->copied.size() &&
           out_->copied[std::size_t(stream)] &&
           out_->source.streams[std::size_t(stream)].kind != StreamKind::kAttachment;
}

void MovieMuxer::Internals::AddVideoStream(const EncodedVideo& encoded) {
    const SourceStream& in = source.video_stream();
    video = avformat_new_stream(output.get(), nullptr);
    if (video == nullptr) throw std::bad_alloc();
    if (int code = avcodec_parameters_copy(video->codecpar, &encoded.parameters.get()); code < 0) {
        Fail("video stream", code);
    }
    // The muxer may choose another, except where time counts in frames.
    encoder_time_base = encoded.time_base;
    video->time_base = ToAv(encoded.counts_in_frames ? encoded.time_base : in.time_base);
    video->avg_frame_rate = ToAv(in.avg_frame_rate);
    video->r_frame_rate = ToAv(in.r_frame_rate);
    video->sample_aspect_ratio = encoded.parameters.get().sample_aspect_ratio;
    video->disposition = in.disposition;
    SetMetadata(&video->metadata, in.metadata);
    // The encoder that made the source's video did not make this one.
    av_dict_set(&video->metadata, "encoder", nullptr, 0);
    // Players want HEVC in QuickTime and MP4 tagged as the source had it.
    if (encoded.parameters.get().codec_id == AV_CODEC_ID_HEVC && container->display_matrix &&
        in.parameters.get().codec_tag == MKTAG('h', 'v', 'c', '1')) {
        video->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
    }
}

void MovieMuxer::Internals::AddVideoSideData(const EncodedVideo& encoded,
                                             std::vector<std::string>& notes) {
    const auto add = [&](AVPacketSideDataType type, const void* data, std::size_t size) {
        std::uint8_t* added = av_stream_new_side_data(video, type, size);
        if (added == nullptr) throw std::bad_alloc();
        std::memcpy(added, data, size);
    };
    const SourceVideo& in = source.video;
    if (in.matrix.present && !in.turned) {
        if (container->display_matrix) {
            add(AV_PKT_DATA_DISPLAYMATRIX, in.matrix.values.data(), sizeof in.matrix.values);
        } else {
            notes.push_back(fmt::format(
                "{}: the display matrix of {} is dropped ({} has no place for it); the frames "
                "stay as coded",
                target, source.path, output->oformat->name));
        }
    }
    if (!encoded.mastering.empty()) {
        add(AV_PKT_DATA_MASTERING_DISPLAY_METADATA, encoded.mastering.data(),
            encoded.mastering.size());
    }
    if (!encoded.light_level.empty()) {
        add(AV_PKT_DATA_CONTENT_LIGHT_LEVEL, encoded.light_level.data(),
            encoded.light_level.size());
    }
}

std::vector<std::string> MovieMuxer::Internals::WhatIsDropped(const EncodedVideo& encoded) const {
    std::vector<std::string> notes;
    if (source.video.dolby_vision) {
        notes.push_back(fmt::format(
            "{}: the Dolby Vision configuration of {} is dropped: a re-encode cannot carry it",
            target, source.path));
    }
    if (encoded.hdr10_plus) {
        notes.push_back(fmt::format(
            "{}: the HDR10+ dynamic metadata of {} is dropped: a re-encode cannot carry it", target,
            source.path));
    }
    if (encoded.captions && !EncoderRules(encoded.encoder).captions) {
        notes.push_back(fmt::format(
            "{}: the closed captions of {} are dropped: the {} encoder does not carry them", target,
            source.path, encoded.encoder));
    }
    const std::int64_t start = source.start_time;
    if (!container->start_time && start != kNoTimestamp && start > 0) {
        notes.push_back(
            fmt::format("{}: {} holds no start time: the movie starts at 0, not "
                        "{:.3f} s",
                        target, container->name, double(start) / AV_TIME_BASE));
    }
    return notes;
}

std::vector<std::string> MovieMuxer::Start(const EncodedVideo& encoded) {
    Internals& out = *out_;
    if (out.started) throw std::logic_error("MovieMuxer::Start twice");
    // The video stream first, then the copied ones in the source's order.
    out.AddVideoStream(encoded);
    std::vector<std::string> notes;
    out.AddVideoSideData(encoded, notes);
    out.AddCopiedStreams();
    for (std::string& note : out.WhatIsDropped(encoded)) notes.push_back(std::move(note));
    out.CopyMetadataAndChapters();
    out.WriteHeader();
    out.started = true;
    return notes;
}

void MovieMuxer::Internals::WriteHeader() {
    AVFormatContext* out = output.get();
    if (!(out->oformat->flags & AVFMT_NOFILE)) {
        if (int code = avio_open(&out->pb, file.temp_path().c_str(), AVIO_FLAG_WRITE); code < 0) {
            Fail(fmt::format("cannot open {}", file.temp_path()), code);
        }
    }
    {
        // What no table tells (a muxer's own limits, such as MXF's audio
        // rates) shows when the muxer is set up; the muxer's log says why.
        LogWatch log(out);
        if (int code = avformat_init_output(out, nullptr); code < 0) {
            throw MovieRefused(WithCause(
                fmt::format("{}: cannot write the header: {}", target, ErrorText(code)), log));
        }
        for (const LoggedMessage& message : log.Take()) NoteLibraryMessage(message.text);
    }
    if (int code = avformat_write_header(out, nullptr); code < 0) {
        Fail("cannot write the header", code);
    }
}

void MovieMuxer::Internals::Write(AVPacket& packet, int from) {
    if (int code = av_interleaved_write_frame(output.get(), &packet); code < 0) {
        Fail(from < 0 ? std::string("cannot write a video packet")
                      : fmt::format("cannot write a packet of stream {}", from),
             code);
    }
}

void MovieMuxer::WriteVideo(MoviePacket& packet) {
    Internals& out = *out_;
    AVPacket* written = packet.get();
    written->stream_index = out.video->index;
    av_packet_rescale_ts(written, ToAv(out.encoder_time_base), out.video->time_base);
    out.Write(*written, -1);
}

void MovieMuxer::WriteCopied(MoviePacket& packet) {
    Internals& out = *out_;
    AVPacket* written = packet.get();
    const int from = written->stream_index;
    AVStream* stream = out.output->streams[out.stream_map[std::size_t(from)]];
    av_packet_rescale_ts(written, ToAv(out.source.streams[std::size_t(from)].time_base),
                         stream->time_base);
    written->stream_index = stream->index;
    written->pos = -1;
    out.Write(*written, from);
}

void MovieMuxer::Finish() {
    Internals& out = *out_;
    if (out.finished) return;
    AVFormatContext* output = out.output.get();
    if (int code = av_write_trailer(output); code < 0) out.Fail("cannot finish the file", code);
    if (output->pb != nullptr && !(output->oformat->flags & AVFMT_NOFILE)) {
        if (int code = avio_closep(&output->pb); code < 0) out.Fail("cannot close the file", code);
    }
    out.file.Commit();
    out.finished = true;
}

std::size_t MovieOutputStreams(const std::string& target, const SourceDescription& source) {
    const ContainerPolicy* container = ContainerFor(target);
    if (container == nullptr) return 0;
    std::size_t streams = 1;
    for (const SourceStream& stream : source.streams) {
        if (stream.kind != StreamKind::kAttachment &&
            CopyOf(stream, *container, source.video.index) == Copy::kYes) {
            ++streams;
        }
    }
    return streams;
}

}  // namespace render
