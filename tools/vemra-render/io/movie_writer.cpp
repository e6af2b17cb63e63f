#include "tools/vemra-render/io/movie_writer.h"

#include <fmt/format.h>

#include <array>
#include <cstring>
#include <map>
#include <new>
#include <vector>

#include "tools/vemra-render/io/ffmpeg_common.h"

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

/// True when `codec` drives a hardware device (it may be absent, or slow to
/// start, on the machine that renders) rather than encoding in software.
bool IsHardware(const AVCodec& codec) {
    if (codec.capabilities & AV_CODEC_CAP_HARDWARE) return true;
    for (const char* suffix : {"_omx", "_v4l2m2m", "_vaapi", "_nvenc", "_qsv", "_amf", "_mf",
                               "_videotoolbox", "_mediacodec", "_vulkan"}) {
        const std::size_t name_size = std::strlen(codec.name), suffix_size = std::strlen(suffix);
        if (name_size > suffix_size &&
            std::strcmp(codec.name + name_size - suffix_size, suffix) == 0) {
            return true;
        }
    }
    return false;
}

/// The software encoder this FFmpeg has for `id`, in FFmpeg's own order of
/// preference, except that ProRes goes to prores_ks (which encodes alpha
/// and every profile); null when there is none.
const AVCodec* SoftwareEncoderFor(AVCodecID id) {
    if (id == AV_CODEC_ID_PRORES) {
        if (const AVCodec* codec = avcodec_find_encoder_by_name("prores_ks")) return codec;
    }
    void* state = nullptr;
    while (const AVCodec* codec = av_codec_iterate(&state)) {
        if (codec->id == id && av_codec_is_encoder(codec) && !IsHardware(*codec) &&
            !(codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL)) {
            return codec;
        }
    }
    return nullptr;
}

/// True when the container `format` can certainly hold `id`.
bool ContainerHolds(const AVOutputFormat* format, AVCodecID id) {
    return avformat_query_codec(format, id, FF_COMPLIANCE_NORMAL) == 1;
}

/// True when `format` is a YCbCr (or grey) layout rather than RGB.
bool IsYuv(AVPixelFormat format) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    return desc != nullptr && !(desc->flags & AV_PIX_FMT_FLAG_RGB) &&
           !(desc->flags & AV_PIX_FMT_FLAG_PAL);
}

/// True when `matrix` is one the converter uses as it is (see SetColorDetails).
bool IsUsableMatrix(AVColorSpace matrix) {
    return matrix >= 1 && matrix <= 10 && matrix != AVCOL_SPC_YCGCO &&
           matrix != AVCOL_SPC_UNSPECIFIED;
}

}  // namespace

struct MovieWriter::Internals {
    std::string path;
    std::string target;
    MovieReader::Internals* source = nullptr;
    OutputPtr output;
    CodecContextPtr encoder;
    const AVCodec* codec = nullptr;
    AVStream* video = nullptr;
    /// For each stream of the source, the output stream it is copied into, or -1.
    std::vector<int> stream_map;
    SwsPtr converter;
    AVPixelFormat source_format = AV_PIX_FMT_NONE;
    FramePtr planar_source;  ///< float frames deinterleaved for the converter
    FramePtr frame;          ///< the converted frame handed to the encoder
    PacketPtr packet;
    /// Each pending frame's duration by its pts (encoder time base): the
    /// encoders do not carry it to their packets, and packets come out of
    /// order when frames are reordered.
    std::map<std::int64_t, std::int64_t> durations;
    long frames_written = 0;
    bool finished = false;

    [[noreturn]] void Fail(const std::string& what, int code) const {
        throw MovieError(fmt::format("{}: {}: {}", target, what, ErrorText(code)));
    }
    void ChooseEncoder(const MovieWriteSettings& settings);
    void OpenEncoder(const MovieWriteSettings& settings);
    void AddCopiedStreams();
    void EncodeAndWrite(const AVFrame* input);
    void WriteCopied();
    void WriteCopiedPacket(AVPacket* packet);
};

void MovieWriter::Internals::ChooseEncoder(const MovieWriteSettings& settings) {
    const AVOutputFormat* format = output->oformat;
    if (!settings.codec.empty()) {
        codec = avcodec_find_encoder_by_name(settings.codec.c_str());
        if (codec == nullptr || codec->type != AVMEDIA_TYPE_VIDEO) {
            throw MovieError(fmt::format("{}: no video encoder named '{}' in this FFmpeg", target,
                                         settings.codec));
        }
        if (avformat_query_codec(format, codec->id, FF_COMPLIANCE_NORMAL) == 0) {
            throw MovieError(fmt::format("{}: the {} format cannot hold {} video", target,
                                         format->name, avcodec_get_name(codec->id)));
        }
        return;
    }
    const AVCodecID source_id = source->video->codecpar->codec_id;
    if (const AVCodec* own = SoftwareEncoderFor(source_id);
        own && ContainerHolds(format, source_id)) {
        codec = own;
        return;
    }
    std::vector<const char*> fallbacks;
    const std::string_view name = format->name;
    if (name == "mov") {
        fallbacks = {"prores_ks"};
    } else if (name == "matroska" || name == "nut" || name == "avi") {
        fallbacks = {"ffv1"};
    } else if (name == "webm") {
        fallbacks = {"libvpx-vp9", "libaom-av1"};
    } else {
        fallbacks = {"libx264", "mpeg4"};
    }
    for (const char* fallback : fallbacks) {
        const AVCodec* candidate = avcodec_find_encoder_by_name(fallback);
        if (candidate && avformat_query_codec(format, candidate->id, FF_COMPLIANCE_NORMAL) != 0) {
            codec = candidate;
            return;
        }
    }
    throw MovieError(fmt::format("{}: no default video encoder for the {} format; name one", target,
                                 format->name));
}

void MovieWriter::Internals::OpenEncoder(const MovieWriteSettings& settings) {
    const MovieReader::Internals& in = *source;
    const AVCodecParameters* parameters = in.video->codecpar;
    source_format = RgbaFormatOf(in.type);

    AVPixelFormat pixel_format = AV_PIX_FMT_NONE;
    if (!settings.pix_fmt.empty()) {
        pixel_format = av_get_pix_fmt(settings.pix_fmt.c_str());
        bool taken = pixel_format != AV_PIX_FMT_NONE;
        if (taken && codec->pix_fmts != nullptr) {
            taken = false;
            for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p) {
                taken = taken || *p == pixel_format;
            }
        }
        if (!taken) {
            throw MovieError(fmt::format("{}: the {} encoder does not take the pixel format '{}'",
                                         target, codec->name, settings.pix_fmt));
        }
    } else if (codec->pix_fmts != nullptr) {
        // The source's own pixel format when the encoder takes it: a 4:2:0
        // H.264 stays 4:2:0, as players and editors expect, and a ProRes 4444
        // keeps its alpha and depth.
        const auto source_pixels = static_cast<AVPixelFormat>(in.video->codecpar->format);
        for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p) {
            if (*p == source_pixels) pixel_format = source_pixels;
        }
    }
    if (pixel_format == AV_PIX_FMT_NONE && codec->pix_fmts != nullptr) {
        // Otherwise ranked from the frames' layout, without alpha when the
        // source has none: the choice ffmpeg makes for such frames fed as RGB.
        const AVPixelFormat ranked_from = in.has_alpha                     ? source_format
                                          : in.type == SampleType::kUint8  ? AV_PIX_FMT_RGB24
                                          : in.type == SampleType::kUint16 ? AV_PIX_FMT_RGB48LE
                                                                           : AV_PIX_FMT_GBRPF32LE;
        pixel_format =
            avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, ranked_from, in.has_alpha, nullptr);
    } else if (pixel_format == AV_PIX_FMT_NONE) {
        pixel_format = source_format;
    }

    encoder.reset(avcodec_alloc_context3(codec));
    if (!encoder) throw std::bad_alloc();
    AVCodecContext* enc = encoder.get();
    enc->width = in.width;
    enc->height = in.height;
    enc->pix_fmt = pixel_format;
    enc->framerate =
        in.video->avg_frame_rate.num > 0 ? in.video->avg_frame_rate : in.video->r_frame_rate;
    // A constant frame rate whose frames last a whole number of the stream's
    // ticks: the encoder counts in frames, as the ffmpeg program has it, so
    // what the encoders derive from the time base (H.264's timing info, MPEG-4's
    // limits) is what it would be there, and every timestamp on the grid maps
    // back exactly. Otherwise the encoder counts in the stream's own ticks.
    const AVRational rate = in.video->avg_frame_rate;
    const bool constant =
        rate.num > 0 && rate.den > 0 && av_cmp_q(rate, in.video->r_frame_rate) == 0;
    enc->time_base = in.video->time_base;
    if (constant && av_div_q(av_inv_q(rate), in.video->time_base).den == 1) {
        enc->time_base = av_inv_q(rate);
    }
    enc->sample_aspect_ratio = av_guess_sample_aspect_ratio(in.input.get(), in.video, nullptr);
    enc->field_order = parameters->field_order;
    enc->color_primaries = parameters->color_primaries;
    enc->color_trc = parameters->color_trc;
    enc->chroma_sample_location = parameters->chroma_location;

    // The frames are RGB; the tags describe how the encoded samples relate
    // to them. A YCbCr output is converted with the source's matrix (BT.601
    // where it names none it can use) and range, and tagged with what was
    // used; an RGB output is full-range RGB.
    int output_full_range = -1;
    if (IsYuv(pixel_format)) {
        const bool source_yuv = IsYuv(AVPixelFormat(parameters->format));
        const AVColorSpace matrix = parameters->color_space;
        enc->colorspace = source_yuv && IsUsableMatrix(matrix) ? matrix
                          : matrix == AVCOL_SPC_UNSPECIFIED    ? AVCOL_SPC_UNSPECIFIED
                                                               : AVCOL_SPC_SMPTE170M;
        const AVColorRange range = parameters->color_range;
        if (source_yuv && range != AVCOL_RANGE_UNSPECIFIED) {
            output_full_range = range == AVCOL_RANGE_JPEG;
            enc->color_range = range;
        } else {
            const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pixel_format);
            const bool full_by_format = std::strncmp(desc->name, "yuvj", 4) == 0;
            enc->color_range = full_by_format                     ? AVCOL_RANGE_JPEG
                               : range == AVCOL_RANGE_UNSPECIFIED ? AVCOL_RANGE_UNSPECIFIED
                                                                  : AVCOL_RANGE_MPEG;
        }
    } else {
        enc->colorspace = AVCOL_SPC_RGB;
        enc->color_range = AVCOL_RANGE_JPEG;
    }
    if (output->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(enc, "threads", "auto", 0);
    if (settings.codec.empty() && std::strcmp(codec->name, "prores_ks") == 0 &&
        source->video->codecpar->codec_id != AV_CODEC_ID_PRORES) {
        av_opt_set(enc->priv_data, "profile", "4444", 0);
    }
    if (settings.quality >= 0) {
        if (enc->priv_data != nullptr &&
            av_opt_find(enc->priv_data, "crf", nullptr, 0, 0) != nullptr) {
            av_opt_set_int(enc->priv_data, "crf", settings.quality, 0);
        } else {
            enc->flags |= AV_CODEC_FLAG_QSCALE;
            enc->global_quality = FF_QP2LAMBDA * settings.quality;
        }
    }
    if (int code = avcodec_open2(enc, codec, nullptr); code < 0) {
        Fail(fmt::format("cannot open the {} encoder for {}", codec->name,
                         av_get_pix_fmt_name(pixel_format)),
             code);
    }

    // Frames already in the encoder's layout go to it unconverted, as in the
    // ffmpeg program (the converter would round float samples).
    if (pixel_format != source_format) {
        converter = MakeConverter(in.width, in.height, source_format, pixel_format, target);
        SetColorDetails(converter.get(), enc->colorspace, AVCOL_RANGE_UNSPECIFIED,
                        output_full_range);
    }
    frame = NewFrame();
    frame->format = pixel_format;
    frame->width = in.width;
    frame->height = in.height;
    if (int code = av_frame_get_buffer(frame.get(), 0); code < 0) Fail("frame buffer", code);
    if (in.type == SampleType::kFloat) {
        planar_source = NewFrame();
        planar_source->format = source_format;
        planar_source->width = in.width;
        planar_source->height = in.height;
        if (int code = av_frame_get_buffer(planar_source.get(), 0); code < 0) {
            Fail("frame buffer", code);
        }
    }

    video = avformat_new_stream(output.get(), nullptr);
    if (video == nullptr) throw std::bad_alloc();
    if (int code = avcodec_parameters_from_context(video->codecpar, enc); code < 0) {
        Fail("video stream", code);
    }
    video->time_base = in.video->time_base;  // the muxer may choose another
    video->avg_frame_rate = in.video->avg_frame_rate;
    video->r_frame_rate = in.video->r_frame_rate;
    video->sample_aspect_ratio = enc->sample_aspect_ratio;
    video->disposition = in.video->disposition;
    av_dict_copy(&video->metadata, in.video->metadata, 0);
    // The encoder that made the source's video did not make this one.
    av_dict_set(&video->metadata, "encoder", nullptr, 0);
}

void MovieWriter::Internals::AddCopiedStreams() {
    AVFormatContext* in = source->input.get();
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
        if (!copy || int(i) == source->video_index) continue;
        const int holds = avformat_query_codec(format, parameters->codec_id, FF_COMPLIANCE_NORMAL);
        if (holds == 0 || parameters->codec_id == AV_CODEC_ID_NONE) {
            if (type == AVMEDIA_TYPE_DATA) continue;  // data the container has no place for
            throw MovieError(
                fmt::format("{}: the {} format cannot hold stream {} ({} {}) of {}; choose another "
                            "container (.mov or .mkv hold most)",
                            target, format->name, i, av_get_media_type_string(type),
                            avcodec_get_name(parameters->codec_id), source->path));
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
        if (type != AVMEDIA_TYPE_ATTACHMENT) source->keep_stream[i] = true;
    }
}

void MovieWriter::Internals::WriteCopiedPacket(AVPacket* copied) {
    const int from = copied->stream_index;
    AVStream* out = output->streams[stream_map[std::size_t(from)]];
    av_packet_rescale_ts(copied, source->input->streams[from]->time_base, out->time_base);
    copied->stream_index = out->index;
    copied->pos = -1;
    if (int code = av_interleaved_write_frame(output.get(), copied); code < 0) {
        Fail(fmt::format("cannot write a packet of stream {}", from), code);
    }
}

void MovieWriter::Internals::WriteCopied() {
    while (!source->kept.empty()) {
        PacketPtr copied = std::move(source->kept.front());
        source->kept.pop_front();
        WriteCopiedPacket(copied.get());
    }
}

void MovieWriter::Internals::EncodeAndWrite(const AVFrame* input) {
    AVCodecContext* enc = encoder.get();
    if (int code = avcodec_send_frame(enc, input); code < 0) {
        Fail(fmt::format("cannot encode frame {}", frames_written + 1), code);
    }
    for (;;) {
        const int code = avcodec_receive_packet(enc, packet.get());
        if (code == kErrorAgain || code == kErrorEof) return;
        if (code < 0) Fail(fmt::format("cannot encode frame {}", frames_written + 1), code);
        if (auto found = durations.find(packet->pts); found != durations.end()) {
            if (packet->duration == 0) packet->duration = found->second;
            durations.erase(found);
        }
        packet->stream_index = video->index;
        av_packet_rescale_ts(packet.get(), enc->time_base, video->time_base);
        if (int written = av_interleaved_write_frame(output.get(), packet.get()); written < 0) {
            Fail("cannot write a video packet", written);
        }
    }
}

MovieWriter::MovieWriter(const std::string& path, const std::string& target_name,
                         MovieReader& source, const MovieWriteSettings& settings)
    : out_(std::make_unique<Internals>()) {
    Internals& out = *out_;
    out.path = path;
    out.target = target_name;
    out.source = source.in_.get();
    out.packet = NewPacket();
    QuietFfmpegLog();
    if (out.source->frames_decoded > 0 || out.source->video_packets > 0) {
        throw std::logic_error("MovieWriter: create the writer before reading the source");
    }
    const AVOutputFormat* format = av_guess_format(nullptr, target_name.c_str(), nullptr);
    if (format == nullptr) {
        throw MovieError(fmt::format("{}: no movie format for this file name", target_name));
    }
    AVFormatContext* created = nullptr;
    if (int code = avformat_alloc_output_context2(&created, format, nullptr, path.c_str());
        code < 0) {
        out.Fail("cannot create the container", code);
    }
    out.output.reset(created);
    out.ChooseEncoder(settings);
    out.OpenEncoder(settings);
    out.AddCopiedStreams();

    AVFormatContext* output = out.output.get();
    const AVFormatContext* input = out.source->input.get();
    av_dict_copy(&output->metadata, input->metadata, 0);
    av_dict_set(&output->metadata, "encoder", LIBAVFORMAT_IDENT, 0);
    for (unsigned i = 0; i < input->nb_chapters; ++i) {
        const AVChapter* from = input->chapters[i];
        auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (chapter == nullptr) throw std::bad_alloc();
        chapter->id = from->id;
        chapter->time_base = from->time_base;
        chapter->start = from->start;
        chapter->end = from->end;
        av_dict_copy(&chapter->metadata, from->metadata, 0);
        if (av_dynarray_add_nofree(&output->chapters, reinterpret_cast<int*>(&output->nb_chapters),
                                   chapter) < 0) {
            av_dict_free(&chapter->metadata);
            av_free(chapter);
            throw std::bad_alloc();
        }
    }
    if (!(format->flags & AVFMT_NOFILE)) {
        if (int code = avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE); code < 0) {
            out.Fail(fmt::format("cannot open {}", path), code);
        }
    }
    if (int code = avformat_write_header(output, nullptr); code < 0) {
        out.Fail("cannot write the header", code);
    }
}

MovieWriter::~MovieWriter() = default;

void MovieWriter::Write(const MovieFrame& frame) {
    Internals& out = *out_;
    if (out.finished) throw std::logic_error("MovieWriter::Write after Finish");
    const Image& image = frame.image;
    const MovieReader::Internals& in = *out.source;
    if (image.width != in.width || image.height != in.height || image.type != in.type ||
        image.pixels.size() < image.RowBytes() * std::size_t(image.height)) {
        throw MovieError(fmt::format("{}: frame {} is {}x{} {}, not the source's {}x{} {}",
                                     out.target, frame.number, image.width, image.height,
                                     SampleTypeName(image.type), in.width, in.height,
                                     SampleTypeName(in.type)));
    }
    AVFrame* encoded = out.frame.get();
    // The encoder may still hold the last frame's buffer.
    if (int code = av_frame_make_writable(encoded); code < 0) out.Fail("frame buffer", code);
    if (!out.converter) {
        if (image.type == SampleType::kFloat) {
            DeinterleaveFloat(image, *encoded);
        } else {
            for (int y = 0; y < image.height; ++y) {
                std::memcpy(encoded->data[0] + std::ptrdiff_t(y) * encoded->linesize[0],
                            image.PixelAddress(0, y), image.RowBytes());
            }
        }
    } else if (image.type == SampleType::kFloat) {
        DeinterleaveFloat(image, *out.planar_source);
        sws_scale(out.converter.get(), out.planar_source->data, out.planar_source->linesize, 0,
                  image.height, encoded->data, encoded->linesize);
    } else {
        std::array<const std::uint8_t*, 4> planes{
            reinterpret_cast<const std::uint8_t*>(image.pixels.data()), nullptr, nullptr, nullptr};
        std::array<int, 4> strides{int(image.RowBytes()), 0, 0, 0};
        sws_scale(out.converter.get(), planes.data(), strides.data(), 0, image.height,
                  encoded->data, encoded->linesize);
    }
    const AVRational from = in.video->time_base, to = out.encoder->time_base;
    encoded->pts = av_rescale_q(frame.pts, from, to);
    encoded->pkt_duration = av_rescale_q(frame.duration, from, to);
    encoded->sample_aspect_ratio = out.encoder->sample_aspect_ratio;
    out.durations[encoded->pts] = encoded->pkt_duration;
    out.EncodeAndWrite(encoded);
    ++out.frames_written;
    out.WriteCopied();
}

void MovieWriter::Finish() {
    Internals& out = *out_;
    if (out.finished) return;
    out.EncodeAndWrite(nullptr);
    out.WriteCopied();
    MovieReader::Internals& in = *out.source;
    while (!in.demuxed_all) {
        if (in.ReadPacket() == MovieReader::Internals::Read::kVideo) {
            av_packet_unref(in.packet.get());
        }
        out.WriteCopied();
    }
    AVFormatContext* output = out.output.get();
    if (int code = av_write_trailer(output); code < 0) out.Fail("cannot finish the file", code);
    if (output->pb != nullptr && !(output->oformat->flags & AVFMT_NOFILE)) {
        if (int code = avio_closep(&output->pb); code < 0) out.Fail("cannot close the file", code);
    }
    out.finished = true;
}

std::string MovieWriter::EncoderDescription() const {
    return fmt::format("{} ({})", out_->codec->name, av_get_pix_fmt_name(out_->encoder->pix_fmt));
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
