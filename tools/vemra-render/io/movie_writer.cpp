#include "tools/vemra-render/io/movie_writer.h"

#include <fmt/format.h>

#include <cstring>
#include <new>
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

}  // namespace

struct MovieWriter::Internals {
    std::string path;
    std::string target;
    const MovieSource& source;
    CopiedPackets& packets;
    OutputPtr output;
    std::unique_ptr<MovieEncoder> encoder;
    AVStream* video = nullptr;
    /// For each stream of the source, the output stream it is copied into, or -1.
    std::vector<int> stream_map;
    std::vector<int> copied_streams;
    PacketPtr packet;  ///< a copied packet on its way out
    bool finished = false;

    Internals(const std::string& path_, const std::string& target_, const MovieSource& source_,
              CopiedPackets& packets_)
        : path(path_), target(target_), source(source_), packets(packets_), packet(NewPacket()) {}

    [[noreturn]] void Fail(const std::string& what, int code) const {
        throw MovieError(fmt::format("{}: {}: {}", target, what, ErrorText(code)));
    }
    void CreateContainer();
    void AddVideoStream();
    void AddCopiedStreams();
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
    video->time_base = in.time_base;  // the muxer may choose another
    video->avg_frame_rate = in.avg_frame_rate;
    video->r_frame_rate = in.r_frame_rate;
    video->sample_aspect_ratio = enc.sample_aspect_ratio;
    video->disposition = in.disposition;
    av_dict_copy(&video->metadata, in.metadata, 0);
    // The encoder that made the source's video did not make this one.
    av_dict_set(&video->metadata, "encoder", nullptr, 0);
}

void MovieWriter::Internals::AddCopiedStreams() {
    const AVFormatContext* in = source.container;
    const AVOutputFormat* format = output->oformat;
    stream_map.assign(in->nb_streams, -1);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream* stream = in->streams[i];
        const AVCodecParameters* parameters = stream->codecpar;
        const AVMediaType type = parameters->codec_type;
        bool copy = type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_SUBTITLE ||
                    type == AVMEDIA_TYPE_DATA || type == AVMEDIA_TYPE_ATTACHMENT;
        // A QuickTime timecode track is rebuilt by the muxer from the video
        // stream's timecode tag; Matroska alone stores attachments.
        if (type == AVMEDIA_TYPE_DATA && parameters->codec_tag == MKTAG('t', 'm', 'c', 'd')) {
            copy = false;
        }
        if (type == AVMEDIA_TYPE_ATTACHMENT && std::strcmp(format->name, "matroska") != 0) {
            copy = false;
        }
        if (!copy || int(i) == source.video->index) continue;
        const int holds = avformat_query_codec(format, parameters->codec_id, FF_COMPLIANCE_NORMAL);
        if (holds == 0 || parameters->codec_id == AV_CODEC_ID_NONE) {
            if (type == AVMEDIA_TYPE_DATA) continue;  // data the container has no place for
            throw MovieRefused(
                fmt::format("{}: the {} format cannot hold stream {} ({} {}) of {}; choose another "
                            "container (.mov or .mkv hold most)",
                            target, format->name, i, av_get_media_type_string(type),
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
        if (type != AVMEDIA_TYPE_ATTACHMENT) copied_streams.push_back(int(i));
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
        av_packet_rescale_ts(packet.get(), source.container->streams[from]->time_base,
                             out->time_base);
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
    out_->CopyMetadataAndChapters();
    out_->OpenFile();
}

MovieWriter::~MovieWriter() = default;

const std::vector<int>& MovieWriter::copied_streams() const {
    return out_->copied_streams;
}

void MovieWriter::Write(const MovieFrame& frame) {
    Internals& out = *out_;
    if (out.finished) throw std::logic_error("MovieWriter::Write after Finish");
    out.encoder->Encode(frame, [&](AVPacket& packet) { out.WriteEncoded(packet); });
    out.WriteCopied();
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

bool MovieWriter::HasFormatFor(const std::string& target_name) {
    return av_guess_format(nullptr, target_name.c_str(), nullptr) != nullptr;
}

std::string MovieWriter::EncoderDescription() const {
    return out_->encoder->Description();
}

std::string_view MovieWriter::Keeps() {
    return "A movie output keeps the source's frame rate, each frame's timestamp and duration, "
           "the start time, the video time base where the container allows it, the sample "
           "aspect ratio, the field order, the colour tags (primaries, transfer, and matrix, "
           "range and chroma siting for YCbCr outputs), the stream dispositions, the container "
           "and stream metadata including a timecode, and the chapters. Audio, subtitle and "
           "data streams are copied packet for packet, unchanged; attachments (fonts) are "
           "copied into Matroska and dropped elsewhere; a QuickTime timecode track is rebuilt "
           "from the timecode; data streams the container cannot hold, and every video stream "
           "but the one rendered (cover art, other angles), are dropped. The video is "
           "re-encoded: by default with the source's codec where this FFmpeg has an encoder for "
           "it and the container takes it, else ProRes 4444 for .mov, FFV1 for .mkv, .nut and "
           ".avi, H.264 (libx264) for others; and in the source's pixel format where the encoder "
           "takes it, else the encoder's nearest to the rendered frames.";
}

}  // namespace render
