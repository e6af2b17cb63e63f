#include "tools/vemra-render/io/movie_writer.h"

#include <fmt/format.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/io/ffmpeg_log.h"
#include "tools/vemra-render/io/movie_encoder.h"
#include "tools/vemra-render/io/movie_source.h"
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

/// What becomes of a stream of the source: copied, left out, or refused.
enum class Copy { kYes, kLeftOut, kRefused };

Copy CopyOf(const AVStream& stream, const AVOutputFormat& format, int video_index) {
    const AVCodecParameters& parameters = *stream.codecpar;
    const AVMediaType type = parameters.codec_type;
    bool copy = type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_SUBTITLE ||
                type == AVMEDIA_TYPE_DATA || type == AVMEDIA_TYPE_ATTACHMENT;
    // A QuickTime timecode track is rebuilt by the muxer from the video
    // stream's timecode tag; Matroska alone stores attachments.
    if (type == AVMEDIA_TYPE_DATA && parameters.codec_tag == MKTAG('t', 'm', 'c', 'd')) {
        copy = false;
    }
    if (type == AVMEDIA_TYPE_ATTACHMENT && std::strcmp(format.name, "matroska") != 0) {
        copy = false;
    }
    if (!copy || stream.index == video_index) return Copy::kLeftOut;
    const int holds = avformat_query_codec(&format, parameters.codec_id, FF_COMPLIANCE_NORMAL);
    if (holds == 0 || parameters.codec_id == AV_CODEC_ID_NONE) {
        // Data the container has no place for is left out; anything else refused.
        return type == AVMEDIA_TYPE_DATA ? Copy::kLeftOut : Copy::kRefused;
    }
    return Copy::kYes;
}

/// True when `format` is QuickTime's or one of its MP4 kin, whose muxer
/// writes a display matrix (libavformat 5.1 writes one for no other).
bool HoldsDisplayMatrix(const AVOutputFormat& format) {
    for (const char* name : {"mov", "mp4", "ipod", "3gp", "3g2", "ismv", "psp", "f4v"}) {
        if (std::strcmp(format.name, name) == 0) return true;
    }
    return false;
}

}  // namespace

struct MovieWriter::Internals {
    std::string path;
    std::string target;
    const MovieSource& source;
    CopiedPackets& packets;
    OutputPtr output;
    std::unique_ptr<MovieEncoder> encoder;
    AVStream* video = nullptr;
    /// For each stream of the source, the output stream it is copied into,
    /// or -1, and its time base (read here once: the reader's demuxer runs
    /// on another thread meanwhile).
    std::vector<int> stream_map;
    std::vector<AVRational> source_time_bases;
    std::vector<int> copied_streams;
    PacketPtr packet;  ///< a copied packet on its way out
    bool finished = false;
    std::vector<std::string> notes;
    EncoderFrame sequential;  ///< for Write(const MovieFrame&)

    Internals(const std::string& path_, const std::string& target_, const MovieSource& source_,
              CopiedPackets& packets_)
        : path(path_), target(target_), source(source_), packets(packets_), packet(NewPacket()) {}

    [[noreturn]] void Fail(const std::string& what, int code) const {
        throw MovieError(fmt::format("{}: {}: {}", target, what, ErrorText(code)));
    }
    void CreateContainer();
    void AddVideoStream();
    void AddVideoSideData();
    void AddCopiedStreams();
    void NoteWhatIsDropped();
    void CopyMetadataAndChapters();
    void OpenFile();
    void WriteEncoded(AVPacket& encoded);
    void WriteCopied();
};

void MovieWriter::Internals::CreateContainer() {
    const AVOutputFormat* format = av_guess_format(nullptr, target.c_str(), nullptr);
    if (format == nullptr) {
        throw MovieRefused(fmt::format("{}: no movie format for this file name", target));
    }
    AVFormatContext* created = nullptr;
    if (int code = avformat_alloc_output_context2(&created, format, nullptr, path.c_str());
        code < 0) {
        Fail("cannot create the container", code);
    }
    output.reset(created);
}

void MovieWriter::Internals::AddVideoStream() {
    const AVStream& in = *source.video;
    const AVCodecContext& enc = encoder->context();
    video = avformat_new_stream(output.get(), nullptr);
    if (video == nullptr) throw std::bad_alloc();
    if (int code = avcodec_parameters_from_context(video->codecpar, &enc); code < 0) {
        Fail("video stream", code);
    }
    // The muxer may choose another, except where time counts in frames.
    video->time_base = encoder->CountsInFrames() ? enc.time_base : in.time_base;
    video->avg_frame_rate = in.avg_frame_rate;
    video->r_frame_rate = in.r_frame_rate;
    video->sample_aspect_ratio = enc.sample_aspect_ratio;
    video->disposition = in.disposition;
    av_dict_copy(&video->metadata, in.metadata, 0);
    // The encoder that made the source's video did not make this one.
    av_dict_set(&video->metadata, "encoder", nullptr, 0);
    AddVideoSideData();
    // Players want HEVC in QuickTime and MP4 tagged as the source had it.
    if (enc.codec_id == AV_CODEC_ID_HEVC && HoldsDisplayMatrix(*output->oformat) &&
        in.codecpar->codec_tag == MKTAG('h', 'v', 'c', '1')) {
        video->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
    }
}

void MovieWriter::Internals::AddVideoSideData() {
    const auto add = [&](AVPacketSideDataType type, const void* data, std::size_t size) {
        std::uint8_t* added = av_stream_new_side_data(video, type, size);
        if (added == nullptr) throw std::bad_alloc();
        std::memcpy(added, data, size);
    };
    if (source.display_matrix != nullptr) {
        if (HoldsDisplayMatrix(*output->oformat)) {
            add(AV_PKT_DATA_DISPLAYMATRIX, source.display_matrix, 9 * sizeof(std::int32_t));
        } else {
            notes.push_back(fmt::format(
                "{}: the display matrix of {} is dropped ({} has no place for it); the frames "
                "stay as coded",
                target, source.path, output->oformat->name));
        }
    }
    if (source.mastering != nullptr) {
        add(AV_PKT_DATA_MASTERING_DISPLAY_METADATA, source.mastering, sizeof *source.mastering);
    }
    if (source.light_level != nullptr) {
        add(AV_PKT_DATA_CONTENT_LIGHT_LEVEL, source.light_level, sizeof *source.light_level);
    }
}

void MovieWriter::Internals::NoteWhatIsDropped() {
    const std::string_view encoder_name = encoder->context().codec->name;
    if (source.dolby_vision) {
        notes.push_back(fmt::format(
            "{}: the Dolby Vision configuration of {} is dropped: a re-encode cannot carry it",
            target, source.path));
    }
    if (source.hdr10_plus) {
        notes.push_back(fmt::format(
            "{}: the HDR10+ dynamic metadata of {} is dropped: a re-encode cannot carry it", target,
            source.path));
    }
    if (source.captions && encoder_name != "libx264" && encoder_name != "mpeg2video") {
        notes.push_back(fmt::format(
            "{}: the closed captions of {} are dropped: the {} encoder does not carry them", target,
            source.path, encoder_name));
    }
    const std::int64_t start = source.container->start_time;
    if (std::strcmp(output->oformat->name, "avi") == 0 && start != kNoTimestamp && start > 0) {
        notes.push_back(
            fmt::format("{}: AVI holds no start time: the movie starts at 0, not {:.3f} s", target,
                        double(start) / AV_TIME_BASE));
    }
}

void MovieWriter::Internals::AddCopiedStreams() {
    const AVFormatContext* in = source.container;
    const AVOutputFormat* format = output->oformat;
    stream_map.assign(in->nb_streams, -1);
    source_time_bases.clear();
    for (unsigned i = 0; i < in->nb_streams; ++i)
        source_time_bases.push_back(in->streams[i]->time_base);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream* stream = in->streams[i];
        const AVCodecParameters* parameters = stream->codecpar;
        const Copy copy = CopyOf(*stream, *format, source.video->index);
        if (copy == Copy::kLeftOut) continue;
        if (copy == Copy::kRefused) {
            throw MovieRefused(fmt::format(
                "{}: the {} format cannot hold stream {} ({} {}) of {}; choose another "
                "container (.mov or .mkv hold most)",
                target, format->name, i, av_get_media_type_string(parameters->codec_type),
                avcodec_get_name(parameters->codec_id), source.path));
        }
        AVStream* out = avformat_new_stream(output.get(), nullptr);
        if (out == nullptr) throw std::bad_alloc();
        if (int code = avcodec_parameters_copy(out->codecpar, parameters); code < 0) {
            Fail("copying a stream", code);
        }
        // Keep the source's codec tag where the container knows it for this
        // codec (or knows no tags); else let the muxer choose, as ffmpeg does.
        unsigned tag = 0;
        if (format->codec_tag == nullptr ||
            av_codec_get_id(format->codec_tag, parameters->codec_tag) == parameters->codec_id ||
            !av_codec_get_tag2(format->codec_tag, parameters->codec_id, &tag)) {
            out->codecpar->codec_tag = parameters->codec_tag;
        } else {
            out->codecpar->codec_tag = 0;
        }
        out->time_base = stream->time_base;
        out->disposition = stream->disposition;
        out->sample_aspect_ratio = stream->sample_aspect_ratio;
        out->avg_frame_rate = stream->avg_frame_rate;
        out->r_frame_rate = stream->r_frame_rate;
        av_dict_copy(&out->metadata, stream->metadata, 0);
        stream_map[i] = out->index;
        if (parameters->codec_type != AVMEDIA_TYPE_ATTACHMENT) copied_streams.push_back(int(i));
    }
}

void MovieWriter::Internals::CopyMetadataAndChapters() {
    AVFormatContext* out = output.get();
    const AVFormatContext* input = source.container;
    av_dict_copy(&out->metadata, input->metadata, 0);
    av_dict_set(&out->metadata, "encoder", LIBAVFORMAT_IDENT, 0);
    for (unsigned i = 0; i < input->nb_chapters; ++i) {
        const AVChapter* from = input->chapters[i];
        auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (chapter == nullptr) throw std::bad_alloc();
        chapter->id = from->id;
        chapter->time_base = from->time_base;
        chapter->start = from->start;
        chapter->end = from->end;
        av_dict_copy(&chapter->metadata, from->metadata, 0);
        if (av_dynarray_add_nofree(&out->chapters, reinterpret_cast<int*>(&out->nb_chapters),
                                   chapter) < 0) {
            av_dict_free(&chapter->metadata);
            av_free(chapter);
            throw std::bad_alloc();
        }
    }
}

void MovieWriter::Internals::OpenFile() {
    AVFormatContext* out = output.get();
    if (!(out->oformat->flags & AVFMT_NOFILE)) {
        if (int code = avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE); code < 0) {
            Fail(fmt::format("cannot open {}", path), code);
        }
    }
    {
        // What no query tells (a muxer's own limits, such as MXF's audio
        // rates) shows when the muxer is set up, before any frame; the
        // muxer's log says why.
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

void MovieWriter::Internals::WriteEncoded(AVPacket& encoded) {
    encoded.stream_index = video->index;
    av_packet_rescale_ts(&encoded, encoder->context().time_base, video->time_base);
    if (int written = av_interleaved_write_frame(output.get(), &encoded); written < 0) {
        Fail("cannot write a video packet", written);
    }
}

void MovieWriter::Internals::WriteCopied() {
    while (packets.Pop(packet.get())) {
        const int from = packet->stream_index;
        AVStream* out = output->streams[stream_map[std::size_t(from)]];
        av_packet_rescale_ts(packet.get(), source_time_bases[std::size_t(from)], out->time_base);
        packet->stream_index = out->index;
        packet->pos = -1;
        if (int code = av_interleaved_write_frame(output.get(), packet.get()); code < 0) {
            Fail(fmt::format("cannot write a packet of stream {}", from), code);
        }
    }
}

MovieWriter::MovieWriter(const std::string& path, const std::string& target_name,
                         const MovieSource& source, const MovieWriteSettings& settings,
                         CopiedPackets& packets)
    : out_(std::make_unique<Internals>(path, target_name, source, packets)) {
    InstallFfmpegLog();
    out_->CreateContainer();
    out_->encoder =
        std::make_unique<MovieEncoder>(source, *out_->output->oformat, settings, target_name);
    out_->AddVideoStream();
    out_->AddCopiedStreams();
    out_->NoteWhatIsDropped();
    out_->CopyMetadataAndChapters();
    out_->OpenFile();
}

MovieWriter::~MovieWriter() = default;

const std::vector<int>& MovieWriter::copied_streams() const {
    return out_->copied_streams;
}

void MovieWriter::Prepare(const MovieFrame& frame, EncoderFrame& into) const {
    out_->encoder->Prepare(frame, into);
}

void MovieWriter::Write(EncoderFrame& frame) {
    Internals& out = *out_;
    if (out.finished) throw std::logic_error("MovieWriter::Write after Finish");
    out.encoder->Encode(frame, [&](AVPacket& packet) { out.WriteEncoded(packet); });
    out.WriteCopied();
}

void MovieWriter::Write(const MovieFrame& frame) {
    Prepare(frame, out_->sequential);
    Write(out_->sequential);
}

void MovieWriter::Finish() {
    Internals& out = *out_;
    if (out.finished) return;
    if (!out.packets.closed()) {
        throw std::logic_error("MovieWriter::Finish before the source was read to its end");
    }
    out.encoder->Flush([&](AVPacket& packet) { out.WriteEncoded(packet); });
    out.WriteCopied();
    AVFormatContext* output = out.output.get();
    if (int code = av_write_trailer(output); code < 0) out.Fail("cannot finish the file", code);
    if (output->pb != nullptr && !(output->oformat->flags & AVFMT_NOFILE)) {
        if (int code = avio_closep(&output->pb); code < 0) out.Fail("cannot close the file", code);
    }
    out.finished = true;
}

const std::vector<std::string>& MovieWriter::notes() const {
    return out_->notes;
}

std::vector<int> MovieWriter::CopiedStreams(const MovieSource& source,
                                            const std::string& target_name) {
    std::vector<int> streams;
    const AVOutputFormat* format = av_guess_format(nullptr, target_name.c_str(), nullptr);
    if (format == nullptr) return streams;
    for (unsigned i = 0; i < source.container->nb_streams; ++i) {
        const AVStream& stream = *source.container->streams[i];
        if (CopyOf(stream, *format, source.video->index) == Copy::kYes &&
            stream.codecpar->codec_type != AVMEDIA_TYPE_ATTACHMENT) {
            streams.push_back(int(i));
        }
    }
    return streams;
}

bool MovieWriter::KeepsDisplayMatrix(const std::string& target_name) {
    const AVOutputFormat* format = av_guess_format(nullptr, target_name.c_str(), nullptr);
    return format != nullptr && HoldsDisplayMatrix(*format);
}

bool MovieWriter::HasFormatFor(const std::string& target_name) {
    return av_guess_format(nullptr, target_name.c_str(), nullptr) != nullptr;
}

std::string MovieWriter::EncoderDescription() const {
    return out_->encoder->Description();
}

std::string_view MovieWriter::Keeps() {
    return "A movie output keeps the source's frame rate, each frame's timestamp and duration "
           "(evenly spaced frames are counted in frames, others in the stream's own ticks, down "
           "to the container's clock; MPEG-1/2 and MPEG-4 video, MXF and AVI count in frames "
           "and refuse frames that are not evenly spaced), the start time (AVI holds none: a "
           "note says so), the sample aspect ratio, the colour tags (primaries, transfer, and "
           "matrix, range and chroma siting for YCbCr outputs), HDR10's mastering display and "
           "light level (in the stream, and for x265 in its parameters), an hvc1 tag, the "
           "stream dispositions, the container and stream metadata including a timecode, and "
           "the chapters. Interlaced video keeps its field order as the source states it, and "
           "its frames are coded as fields where the encoder can (mpeg2video, libx264, "
           "prores_ks, dnxhd); MXF takes the field order from the MPEG-2 video itself, QuickTime "
           "and Matroska from the stream, FFV1 carries it in the container only and NUT keeps "
           "none. A display matrix (a phone held upright) is kept in .mov and .mp4 with the "
           "frames as coded; into other containers and image files the frames are turned "
           "upright losslessly (quarter turns and mirrors; other angles are refused) with a "
           "note, unless --no-autorotate. A/53 closed captions go through libx264 and "
           "mpeg2video; other encoders drop them, with a note, and Dolby Vision configurations "
           "and HDR10+ dynamic metadata never survive a re-encode (a note names them). Audio, "
           "subtitle and data streams are copied packet for packet, unchanged; attachments "
           "(fonts) are copied into Matroska and dropped elsewhere; a QuickTime timecode track "
           "is rebuilt from the timecode; data streams the container cannot hold, and every "
           "video stream but the one rendered (cover art, other angles), are dropped. The video "
           "is re-encoded: by default with the source's codec where this FFmpeg has an encoder "
           "for it and the container takes it, else ProRes 4444 for .mov, FFV1 for .mkv, .nut "
           "and .avi, H.264 (libx264) for others; and in the source's pixel format where the "
           "encoder takes it, else the encoder's nearest to the rendered frames. Interlaced "
           "4:2:0 video is converted to RGBA as progressive frames, as ffmpeg's default is: its "
           "chroma mixes between the fields.";
}

}  // namespace render
