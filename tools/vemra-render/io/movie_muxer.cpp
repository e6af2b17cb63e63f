#include "tools/vemra-render/io/movie_muxer.h"

#include <fmt/format.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mastering_display_metadata.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/io/ffmpeg_log.h"
#include "tools/vemra-render/io/movie_span.h"
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

}  // namespace

struct MovieMuxer::Internals {
    std::string target;
    const SourceDescription& source;
    const ContainerPolicy* container = nullptr;
    AtomicFile file;
    OutputPtr output;
    AVStream* video = nullptr;
    /// For each stream of the source: what becomes of it (decided before
    /// the muxer is made), and the output stream it is copied or converted
    /// into, once started (-1 before, and for a stream left out).
    std::vector<StreamRoute> routes;
    std::vector<int> stream_map;
    /// For each source stream, the time base of the packets it is given
    /// in: the demuxer's for a copied stream, the converter's for a
    /// converted one.
    std::vector<Rational> packet_time_bases;
    Rational encoder_time_base;
    /// For each output stream, what its timestamps move by, in its time
    /// base: the start time a container without one drops, and the codec
    /// delay a container keeps apart.
    std::vector<std::int64_t> shifts;
    /// For each source stream, the window of its own time the output holds
    /// (a part of the movie, a sound file laid in), and for each copied one
    /// how late its first packet came after the window's start, in its time
    /// base (-1: none yet), for the note where no edit list starts it exactly.
    std::vector<StreamWindow> windows;
    std::vector<std::int64_t> late_starts;
    /// The span of the frames, and where the output's first frame lies, in
    /// the source video's time base (the video's own start).
    MovieSpan span;
    std::int64_t first_frame = 0;
    /// For each output stream, the first and last instants written, in
    /// microseconds, for the note on a sound file's length.
    std::vector<Extent> extents;
    bool started = false;
    bool finished = false;

    Internals(const std::string& target_, const SourceDescription& source_,
              const ContainerPolicy* container_, std::vector<StreamRoute> routes_)
        : target(target_),
          source(source_),
          container(container_),
          file(target_),
          routes(std::move(routes_)) {}

    [[noreturn]] void Fail(const std::string& what, int code) const {
        throw MovieError(fmt::format("{}: {}: {}", target, what, ErrorText(code)));
    }
    void CreateContainer();
    /// Adds the copied and converted streams, in the source's order.
    void AddOtherStreams(const std::vector<EncodedStream>& converted);
    AVStream* AddStream(const SourceStream& stream, const AVCodecParameters& parameters);
    /// Sets `shifts` and `windows` once the header has fixed the time bases.
    void SetShifts();
    /// Where source stream `stream` lies: its window and, in microseconds,
    /// the shift that lays it on the output's timeline.
    StreamWindow WindowOf(const SourceStream& stream, std::int64_t& shift) const;
    /// The timecode in `metadata`, moved on with a part's first frame.
    void MoveTimecode(AVDictionary** metadata) const;
    void CopyMetadataAndChapters();
    void AddVideoStream(const EncodedVideo& encoded);
    void AddVideoSideData(const EncodedVideo& encoded, std::vector<std::string>& notes);
    std::vector<std::string> WhatIsDropped(const EncodedVideo& encoded) const;
    void WriteHeader();
    /// Writes `packet`, in `from`'s time base, into output stream
    /// `to`; a failure names the source stream `from` (-1: the video).
    void Write(AVPacket& packet, Rational from_time_base, int to, int from);
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

MovieMuxer::MovieMuxer(const std::string& target, const SourceDescription& source,
                       std::vector<StreamRoute> routes)
    : out_(std::make_unique<Internals>(target, source, &ContainerOrRefuse(target),
                                       std::move(routes))) {
    InstallFfmpegLog();
    if (out_->routes.size() != source.streams.size()) {
        throw std::logic_error("MovieMuxer: a route for every stream of the source");
    }
    out_->CreateContainer();
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

AVStream* MovieMuxer::Internals::AddStream(const SourceStream& stream,
                                           const AVCodecParameters& parameters) {
    const AVOutputFormat* format = output->oformat;
    AVStream* out = avformat_new_stream(output.get(), nullptr);
    if (out == nullptr) throw std::bad_alloc();
    if (int code = avcodec_parameters_copy(out->codecpar, &parameters); code < 0) {
        Fail("copying a stream", code);
    }
    // Keep the codec tag where the container knows it for this codec (or
    // knows no tags); else let the muxer choose, as ffmpeg does.
    unsigned tag = 0;
    if (format->codec_tag == nullptr ||
        av_codec_get_id(format->codec_tag, parameters.codec_tag) == parameters.codec_id ||
        !av_codec_get_tag2(format->codec_tag, parameters.codec_id, &tag)) {
        out->codecpar->codec_tag = parameters.codec_tag;
    } else {
        out->codecpar->codec_tag = 0;
    }
    out->disposition = stream.disposition;
    out->sample_aspect_ratio = ToAv(stream.sample_aspect_ratio);
    out->avg_frame_rate = ToAv(stream.avg_frame_rate);
    out->r_frame_rate = ToAv(stream.r_frame_rate);
    SetMetadata(&out->metadata, stream.metadata);
    stream_map[std::size_t(stream.index)] = out->index;
    return out;
}

void MovieMuxer::Internals::AddOtherStreams(const std::vector<EncodedStream>& converted) {
    stream_map.assign(source.streams.size(), -1);
    packet_time_bases.assign(source.streams.size(), Rational{});
    for (const SourceStream& stream : source.streams) {
        const auto index = std::size_t(stream.index);
        if (routes[index].action == StreamRoute::Action::kCopy) {
            AddStream(stream, stream.parameters.get())->time_base = ToAv(stream.time_base);
            packet_time_bases[index] = stream.time_base;
        } else if (routes[index].action == StreamRoute::Action::kConvert) {
            const auto found = std::find_if(
                converted.begin(), converted.end(),
                [&](const EncodedStream& e) { return e.source_index == stream.index; });
            if (found == converted.end()) {
                throw std::logic_error("MovieMuxer::Start without a converted stream");
            }
            AVStream* out = AddStream(stream, found->parameters.get());
            out->time_base = ToAv(found->time_base);
            // The encoder that made the source's stream did not make this one.
            av_dict_set(&out->metadata, "encoder", nullptr, 0);
            packet_time_bases[index] = found->time_base;
        }
    }
}

void MovieMuxer::Internals::SetShifts() {
    AVFormatContext* out = output.get();
    shifts.assign(out->nb_streams, 0);
    // Where each stream lies: a part's streams move back with its first
    // frame, a sound file's lie where it is placed.
    const SourceStream& frames = source.video_stream();
    const StreamWindow moved = WindowFor(frames, {}, span, frames.time_base, first_frame);
    shifts[std::size_t(video->index)] = av_rescale_q(moved.shift, kMicroseconds, video->time_base);
    windows.assign(source.streams.size(), {});
    windows[std::size_t(frames.index)] = moved;
    late_starts.assign(source.streams.size(), -1);
    for (const SourceStream& stream : source.streams) {
        const auto index = std::size_t(stream.index);
        if (stream_map[index] < 0) continue;
        windows[index] = WindowFor(stream, routes[index], span, frames.time_base, first_frame);
        shifts[std::size_t(stream_map[index])] = av_rescale_q(
            windows[index].shift, kMicroseconds, out->streams[stream_map[index]]->time_base);
    }
    // A container without a start time: every stream moves back together by
    // the file's start, so sound and video stay in step from 0.
    const std::int64_t start = source.start_time;
    const bool drop_start = !container->start_time && start != kNoTimestamp && start > 0;
    for (unsigned i = 0; i < out->nb_streams; ++i) {
        const AVStream* stream = out->streams[i];
        if (drop_start) shifts[i] -= av_rescale_q(start, kMicroseconds, stream->time_base);
        // Opus's codec delay kept apart (Matroska's CodecDelay): the demuxer
        // reads the stream that much earlier, and the muxer does not add it
        // back, so it is added here, once.
        const AVCodecParameters& parameters = *stream->codecpar;
        if (container->codec_delay_apart && parameters.codec_id == AV_CODEC_ID_OPUS &&
            parameters.initial_padding > 0 && parameters.sample_rate > 0) {
            shifts[i] += av_rescale_q(parameters.initial_padding, {1, parameters.sample_rate},
                                      stream->time_base);
        }
    }
}

void MovieMuxer::Internals::CopyMetadataAndChapters() {
    AVFormatContext* out = output.get();
    SetMetadata(&out->metadata, source.metadata);
    MoveTimecode(&out->metadata);
    av_dict_set(&out->metadata, "encoder", LIBAVFORMAT_IDENT, 0);
    for (const SourceChapter& from : ChaptersOfSpan(source, span, first_frame)) {
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

void MovieMuxer::Internals::MoveTimecode(AVDictionary** metadata) const {
    const AVDictionaryEntry* timecode = av_dict_get(*metadata, "timecode", nullptr, 0);
    const Rational rate = source.video.frame_rate;
    if (span.from == kNoTimestamp || timecode == nullptr || !rate.valid()) return;
    const long frames = long(av_rescale_q(
        span.from - first_frame, ToAv(source.video_stream().time_base), {rate.den, rate.num}));
    const std::string moved = MovedTimecode(timecode->value, rate, frames);
    av_dict_set(metadata, "timecode", moved.c_str(), 0);
}

const ContainerPolicy& MovieMuxer::container() const {
    return *out_->container;
}

bool MovieMuxer::global_header() const {
    return (out_->output->oformat->flags & AVFMT_GLOBALHEADER) != 0;
}

bool MovieMuxer::Takes(int stream) const {
    // Attachments travel in the header, not as packets.
    const std::vector<StreamRoute>& routes = out_->routes;
    return stream >= 0 && std::size_t(stream) < routes.size() &&
           routes[std::size_t(stream)].action != StreamRoute::Action::kLeaveOut &&
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
    MoveTimecode(&video->metadata);
    // The encoder that made the source's video did not make this one, and
    // Matroska's muxer marks an alpha side stream itself where the video
    // has one: the source's marks are not carried.
    av_dict_set(&video->metadata, "encoder", nullptr, 0);
    av_dict_set(&video->metadata, "alpha_mode", nullptr, 0);
    // QuickTime's muxer tags 4:2:2 10-bit H.264 at AVC-Intra sizes as
    // AVC-Intra, which decoders then read wrongly, unless told to follow
    // unofficial practice: then it keeps avc1.
    if (container->avc_intra_tags && encoded.parameters.get().codec_id == AV_CODEC_ID_H264) {
        output->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
    }
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
    if (!encoded.buffer.empty()) {
        add(AV_PKT_DATA_CPB_PROPERTIES, encoded.buffer.data(), encoded.buffer.size());
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
            fmt::format("{}: {} holds no start time: the movie starts at 0, not {:.3f} s, every "
                        "stream moved together",
                        target, container->name, double(start) / AV_TIME_BASE));
    }
    return notes;
}

std::vector<std::string> MovieMuxer::Start(const EncodedVideo& encoded,
                                           const std::vector<EncodedStream>& converted,
                                           const MovieSpan& span) {
    Internals& out = *out_;
    if (out.started) throw std::logic_error("MovieMuxer::Start twice");
    out.span = span;
    const std::int64_t video_start = out.source.video_stream().start_time;
    out.first_frame = video_start != kNoTimestamp ? video_start : 0;
    // The video stream first, then the copied and converted ones in the
    // source's order.
    out.AddVideoStream(encoded);
    std::vector<std::string> notes;
    out.AddVideoSideData(encoded, notes);
    out.AddOtherStreams(converted);
    for (std::string& note : out.WhatIsDropped(encoded)) notes.push_back(std::move(note));
    out.CopyMetadataAndChapters();
    out.WriteHeader();
    out.SetShifts();
    out.extents.assign(out.output->nb_streams, {});
    out.started = true;
    return notes;
}

StreamWindow MovieMuxer::Window(int stream) const {
    return out_->windows.at(std::size_t(stream));
}

std::int64_t MovieMuxer::OutputTime(int stream, std::int64_t time) const {
    const Internals& out = *out_;
    return av_rescale_q(time, ToAv(out.source.streams.at(std::size_t(stream)).time_base),
                        kMicroseconds) +
           out.windows[std::size_t(stream)].shift;
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

void MovieMuxer::Internals::Write(AVPacket& packet, Rational from_time_base, int to, int from) {
    const AVStream* stream = output->streams[to];
    av_packet_rescale_ts(&packet, ToAv(from_time_base), stream->time_base);
    const std::int64_t shift = shifts[std::size_t(to)];
    if (packet.pts != kNoTimestamp) packet.pts += shift;
    if (packet.dts != kNoTimestamp) packet.dts += shift;
    packet.stream_index = to;
    if (const std::int64_t at = packet.pts != kNoTimestamp ? packet.pts : packet.dts;
        at != kNoTimestamp) {
        extents[std::size_t(to)].Add(
            av_rescale_q(at, stream->time_base, kMicroseconds),
            av_rescale_q(packet.duration, stream->time_base, kMicroseconds));
    }
    if (int code = av_interleaved_write_frame(output.get(), &packet); code < 0) {
        Fail(from < 0 ? std::string("cannot write a video packet")
                      : fmt::format("cannot write a packet of stream {}", from),
             code);
    }
}

void MovieMuxer::WriteVideo(MoviePacket& packet) {
    Internals& out = *out_;
    out.Write(*packet.get(), out.encoder_time_base, out.video->index, -1);
}

void MovieMuxer::WriteOther(MoviePacket& packet) {
    Internals& out = *out_;
    AVPacket* written = packet.get();
    const auto from = std::size_t(written->stream_index);
    if (from >= out.stream_map.size() || out.stream_map[from] < 0) {
        throw std::logic_error("MovieMuxer::WriteOther of a stream it does not take");
    }
    written->pos = -1;
    if (out.routes[from].action == StreamRoute::Action::kCopy &&
        !PlacePacket(*written, out.windows[from], out.source.streams[from].kind,
                     out.container->edit_list, out.late_starts[from])) {
        return;
    }
    out.Write(*written, out.packet_time_bases[from], out.stream_map[from], int(from));
}

std::vector<std::string> MovieMuxer::Finish() {
    Internals& out = *out_;
    if (out.finished) return {};
    AVFormatContext* output = out.output.get();
    if (int code = av_write_trailer(output); code < 0) out.Fail("cannot finish the file", code);
    if (output->pb != nullptr && !(output->oformat->flags & AVFMT_NOFILE)) {
        if (int code = avio_closep(&output->pb); code < 0) out.Fail("cannot close the file", code);
    }
    out.file.Commit();
    out.finished = true;
    return PlacementNotes({out.target, out.source, out.routes, *out.container}, out.stream_map,
                          out.late_starts, out.extents);
}

}  // namespace render
