#include "tools/vemra-render/io/movie_encoder.h"

#include <fmt/format.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "tools/vemra-render/io/encoder_setup.h"
#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/io/ffmpeg_log.h"
#include "tools/vemra-render/io/movie_conversion.h"
#include "tools/vemra-render/run/library_log.h"

namespace render {

using namespace movie;

namespace {

AVRational ToAv(Rational value) {
    return {value.num, value.den};
}

Rational FromAv(AVRational value) {
    return {value.num, value.den};
}

}  // namespace

struct EncoderFrame::Data {
    FramePtr frame;          ///< in the encoder's layout, ready to send
    SwsPtr converter;        ///< this frame's own: converters are not shared between threads
    FramePtr planar_source;  ///< float frames deinterleaved for the converter
    std::int64_t pts = 0;    ///< in the source video's time base
    std::int64_t duration = 0;
    /// What the frame carried that the encoder takes from the first frame.
    std::vector<std::uint8_t> mastering;
    std::vector<std::uint8_t> light_level;
    bool hdr10_plus = false;
    bool captions = false;
    bool ready = false;
};

EncoderFrame::EncoderFrame() : data_(std::make_unique<Data>()) {}
EncoderFrame::~EncoderFrame() = default;
EncoderFrame::EncoderFrame(EncoderFrame&&) noexcept = default;
EncoderFrame& EncoderFrame::operator=(EncoderFrame&&) noexcept = default;

struct MovieEncoder::Internals {
    std::string target;
    std::string source_path;
    const ContainerPolicy& container;
    const AVCodec* codec = nullptr;
    ChosenEncoder chosen;
    CodecContextPtr encoder;
    EncoderSettings settings;
    // What the encoder takes from the source, read once.
    CodecParameters source_parameters;
    AVRational source_time_base{0, 1};
    Rational frame_rate;
    Rational sample_aspect_ratio;
    VideoSpacing spacing;
    int width = 0;
    int height = 0;
    SampleType type = SampleType::kUint8;
    bool has_alpha = false;
    bool from_images = false;
    std::vector<std::uint8_t> stream_mastering;
    std::vector<std::uint8_t> stream_light_level;

    AVPixelFormat rgba_format = AV_PIX_FMT_NONE;  ///< the frames' layout, as FFmpeg names it
    /// The encoder's layout as frames are prepared for it, fixed before it
    /// opens: frames are prepared on other threads while it opens and encodes.
    struct Layout {
        AVPixelFormat pixel_format = AV_PIX_FMT_NONE;
        // The colour tags every frame carries too: some encoders write
        // those of the frames into the bitstream (prores_ks), others those
        // of the context (libx264, libx265, mpeg2video, libvpx-vp9).
        ColourTags tags;
        AVRational sample_aspect_ratio{0, 1};
        bool converts = false;  ///< the encoder's layout is not the frames'
    };
    Layout layout;
    bool opened = false;
    EncodedVideo stream;
    MoviePacket out;
    /// Each pending frame's duration by its pts (encoder time base): the
    /// encoders do not carry it to their packets, and packets come out of
    /// order when frames are reordered.
    std::map<std::int64_t, std::int64_t> durations;
    long frames_sent = 0;

    Internals(const ContainerPolicy& container_) : container(container_) {}
    [[noreturn]] void Fail(const std::string& what, int code) const {
        throw MovieError(fmt::format("{}: {}: {}", target, what, ErrorText(code)));
    }
    bool CountsInFrames() const;
    void SetTiming();
    void SetColourTags();
    void SetQuality();
    void SetFormat();
    void SetFieldCoding();
    void SetOwnPrinting();
    void Convert(const Image& image, EncoderFrame::Data& data) const;
    void AttachSideData(const MovieFrame& frame, AVFrame& encoded) const;
    void Send(const AVFrame* frame, const PacketSink& sink);
};

MovieEncoder::MovieEncoder(const SourceDescription& source, const ContainerPolicy& container,
                           bool global_header, const EncoderSettings& settings,
                           const std::string& target)
    : in_(std::make_unique<Internals>(container)) {
    Internals& in = *in_;
    const SourceStream& video = source.video_stream();
    in.target = target;
    in.source_path = source.path;
    in.settings = settings;
    in.source_parameters = video.parameters;
    in.source_time_base = ToAv(video.time_base);
    in.frame_rate = source.video.frame_rate;
    in.sample_aspect_ratio = source.video.sample_aspect_ratio;
    in.spacing = source.video.spacing.value_or(VideoSpacing{});
    in.width = source.video.width;
    in.height = source.video.height;
    in.type = source.video.type;
    in.has_alpha = source.video.has_alpha;
    in.from_images = source.video.from_images;
    in.stream_mastering = source.video.mastering;
    in.stream_light_level = source.video.light_level;

    in.chosen = ChooseEncoder(source, container, settings, target);
    in.codec = in.chosen.codec;
    in.rgba_format = RgbaFormatOf(in.type);
    const auto pixel_format = static_cast<AVPixelFormat>(in.chosen.pixel_format);

    in.encoder.reset(avcodec_alloc_context3(in.codec));
    if (!in.encoder) throw std::bad_alloc();
    AVCodecContext* enc = in.encoder.get();
    enc->width = in.width;
    enc->height = in.height;
    enc->pix_fmt = pixel_format;
    in.SetTiming();
    in.SetColourTags();
    if (global_header) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(enc, "threads",
               settings.threads > 0 ? std::to_string(settings.threads).c_str() : "auto", 0);
    in.SetFormat();
    in.SetQuality();
    in.SetFieldCoding();
    in.layout.pixel_format = enc->pix_fmt;
    // As the context holds them after every option is set.
    in.layout.tags.primaries = enc->color_primaries;
    in.layout.tags.transfer = enc->color_trc;
    in.layout.tags.matrix = enc->colorspace;
    in.layout.tags.range = enc->color_range;
    in.layout.tags.chroma_location = enc->chroma_sample_location;
    in.layout.sample_aspect_ratio = enc->sample_aspect_ratio;
    // Frames already in the encoder's layout go to it unconverted, as in
    // the ffmpeg program (the converter would round float samples).
    in.layout.converts = enc->pix_fmt != in.rgba_format;
}

MovieEncoder::~MovieEncoder() = default;

bool MovieEncoder::Internals::CountsInFrames() const {
    return EncoderRules(codec->name).counts_in_frames || container.counts_in_frames;
}

void MovieEncoder::Internals::SetTiming() {
    AVCodecContext* enc = encoder.get();
    const AVRational rate = ToAv(frame_rate);
    enc->framerate = rate;
    // Frames evenly spaced on the rate's grid: the encoder counts in
    // frames, as the ffmpeg program has it, so what the encoders derive from
    // the time base (H.264's timing info) is what it would be there, and every
    // timestamp maps back exactly. Otherwise the stream's own ticks, so that
    // every frame keeps its time (the muxer may count more coarsely:
    // Matroska counts milliseconds). Encoders and containers that count time
    // in whole frames take evenly spaced frames only.
    enc->time_base = source_time_base;
    if (CountsInFrames()) {
        if (!frame_rate.valid() || !spacing.even) {
            throw MovieRefused(fmt::format(
                "{}: {} ({}) counts time in whole frames, and the frames of {} are not evenly "
                "spaced (a variable frame rate): write it into .mkv, .mov or .mp4, which keep "
                "each frame's time",
                target, container.muxer, codec->name, source_path));
        }
        enc->time_base = av_inv_q(rate);
    } else if (spacing.even && spacing.on_grid) {
        enc->time_base = av_inv_q(rate);
    }
    enc->sample_aspect_ratio = ToAv(sample_aspect_ratio);
    enc->field_order =
        ValidTag(source_parameters.get().field_order, AV_FIELD_BT + 1, AV_FIELD_UNKNOWN);
}

void MovieEncoder::Internals::SetColourTags() {
    AVCodecContext* enc = encoder.get();
    // Frames from images carry the matrix and range they are to be
    // converted with (BT.709, limited) as their own tags.
    const AVCodecParameters& source = source_parameters.get();
    const AVColorSpace matrix = !settings.color_matrix.empty() ? MatrixNamed(settings.color_matrix)
                                : from_images                  ? source.color_space
                                                               : AVCOL_SPC_UNSPECIFIED;
    const AVColorRange range = !settings.color_range.empty() ? RangeNamed(settings.color_range)
                               : from_images                 ? source.color_range
                                                             : AVCOL_RANGE_UNSPECIFIED;
    layout.tags = ChooseColourTags(source, enc->pix_fmt, matrix, range);
    const ColourTags& tags = layout.tags;
    enc->color_primaries = tags.primaries;
    enc->color_trc = tags.transfer;
    enc->colorspace = tags.matrix;
    enc->color_range = tags.range;
    enc->chroma_sample_location = tags.chroma_location;
}

void MovieEncoder::Internals::SetFormat() {
    AVCodecContext* enc = encoder.get();
    if (const ProfileRule* profile = chosen.profile) {
        av_opt_set(enc->priv_data, "profile", std::string(profile->option).c_str(), 0);
        if (profile->intra) enc->gop_size = 1;
    }
    if (chosen.bit_rate > 0) {
        enc->bit_rate = chosen.bit_rate;
        enc->rc_max_rate = chosen.max_bit_rate;
        enc->rc_buffer_size = int(std::min<std::int64_t>(chosen.buffer_size, INT32_MAX));
    }
    // Frames in display order where the container keeps no composition
    // times: decoders would show them in the order stored.
    for (std::string_view name : container.no_reordering) {
        if (name == avcodec_get_name(codec->id)) enc->max_b_frames = 0;
    }
}

void MovieEncoder::Internals::SetQuality() {
    AVCodecContext* enc = encoder.get();
    if (settings.quality < 0) return;
    if (enc->priv_data != nullptr && av_opt_find(enc->priv_data, "crf", nullptr, 0, 0) != nullptr) {
        av_opt_set_int(enc->priv_data, "crf", settings.quality, 0);
    } else {
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = FF_QP2LAMBDA * settings.quality;
    }
}

void MovieEncoder::Internals::SetFieldCoding() {
    // Interlaced sources are coded as fields by the encoders that can.
    const AVFieldOrder order =
        ValidTag(source_parameters.get().field_order, AV_FIELD_BT + 1, AV_FIELD_UNKNOWN);
    const bool interlaced = order == AV_FIELD_TT || order == AV_FIELD_BB || order == AV_FIELD_TB ||
                            order == AV_FIELD_BT;
    if (interlaced && EncoderRules(codec->name).field_coding) {
        encoder->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
    }
}

void MovieEncoder::Internals::SetOwnPrinting() {
    AVCodecContext* enc = encoder.get();
    // x265 prints to the terminal itself, past FFmpeg's log, and reads the
    // HDR10 metadata from its own parameters only (it ignores the frames').
    if (std::strcmp(codec->name, "libx265") == 0) {
        std::string parameters = settings.quiet ? "log-level=none" : "log-level=error";
        if (EncoderRules(codec->name).hdr_parameters) {
            parameters += X265Hdr10Parameters(stream.mastering, stream.light_level);
        }
        av_opt_set(enc->priv_data, "x265-params", parameters.c_str(), 0);
    }
    // SVT-AV1 reads its level once, when its first encoder opens: errors
    // only, unless the user set one.
    if (std::strcmp(codec->name, "libsvtav1") == 0) ::setenv("SVT_LOG", "1", 0);
}

void MovieEncoder::Open(const EncoderFrame* first) {
    Internals& in = *in_;
    if (in.opened) return;
    EncodedVideo& stream = in.stream;
    // HDR10's static metadata: the source stream's, else its first frame's.
    const EncoderFrame::Data* frame = first != nullptr ? first->data_.get() : nullptr;
    stream.mastering =
        !in.stream_mastering.empty() || frame == nullptr ? in.stream_mastering : frame->mastering;
    stream.light_level = !in.stream_light_level.empty() || frame == nullptr ? in.stream_light_level
                                                                            : frame->light_level;
    stream.hdr10_plus = frame != nullptr && frame->hdr10_plus;
    stream.captions = frame != nullptr && frame->captions;
    in.SetOwnPrinting();
    AVCodecContext* enc = in.encoder.get();
    {
        // An encoder that refuses its settings says why in its log.
        LogWatch log(enc);
        if (int code = avcodec_open2(enc, in.codec, nullptr); code < 0) {
            throw MovieRefused(
                WithCause(fmt::format("{}: cannot open the {} encoder for {} {}x{}: {}", in.target,
                                      in.codec->name, av_get_pix_fmt_name(enc->pix_fmt), enc->width,
                                      enc->height, ErrorText(code)),
                          log) +
                SizeHint(enc->pix_fmt, enc->width, enc->height));
        }
        for (const LoggedMessage& message : log.Take()) NoteLibraryMessage(message.text);
    }
    AVCodecParameters* parameters = avcodec_parameters_alloc();
    if (parameters == nullptr) throw std::bad_alloc();
    const int code = avcodec_parameters_from_context(parameters, enc);
    if (code >= 0) stream.parameters = CodecParameters(*parameters);
    avcodec_parameters_free(&parameters);
    if (code < 0) in.Fail("video stream", code);
    stream.time_base = FromAv(enc->time_base);
    // The buffer of a rate kept from the source (MPEG-2's), for the muxers
    // that size theirs by it.
    for (int i = 0; i < enc->nb_coded_side_data && in.chosen.bit_rate > 0; ++i) {
        const AVPacketSideData& side = enc->coded_side_data[i];
        if (side.type == AV_PKT_DATA_CPB_PROPERTIES) {
            stream.buffer.assign(side.data, side.data + side.size);
        }
    }
    stream.counts_in_frames = in.CountsInFrames();
    stream.encoder = in.codec->name;
    in.opened = true;
}

bool MovieEncoder::opened() const {
    return in_->opened;
}

const EncodedVideo& MovieEncoder::stream() const {
    return in_->stream;
}

void MovieEncoder::Internals::AttachSideData(const MovieFrame& frame, AVFrame& encoded) const {
    // What a frame carries for the encoders that read it from frames:
    // captions (libx264 and mpeg2video embed them), HDR10's static metadata
    // (the frame's own, else the stream's).
    for (AVFrameSideDataType kind : {AV_FRAME_DATA_A53_CC, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA,
                                     AV_FRAME_DATA_CONTENT_LIGHT_LEVEL}) {
        av_frame_remove_side_data(&encoded, kind);
    }
    const auto attach = [&](AVFrameSideDataType kind, const std::vector<std::uint8_t>& data) {
        if (data.empty()) return;
        if (AVFrameSideData* side = av_frame_new_side_data(&encoded, kind, data.size())) {
            std::memcpy(side->data, data.data(), data.size());
        }
    };
    attach(AV_FRAME_DATA_A53_CC, frame.captions);
    attach(AV_FRAME_DATA_MASTERING_DISPLAY_METADATA,
           frame.mastering.empty() ? stream_mastering : frame.mastering);
    attach(AV_FRAME_DATA_CONTENT_LIGHT_LEVEL,
           frame.light_level.empty() ? stream_light_level : frame.light_level);
}

void MovieEncoder::Internals::Convert(const Image& image, EncoderFrame::Data& data) const {
    if (!data.frame) {
        data.frame = NewFrameWithBuffer(layout.pixel_format, image.width, image.height, target);
    }
    AVFrame* encoded = data.frame.get();
    // The encoder may still hold this frame's last buffer.
    if (int code = av_frame_make_writable(encoded); code < 0) Fail("frame buffer", code);
    if (!layout.converts) {
        if (image.type == SampleType::kFloat) {
            DeinterleaveFloat(image, *encoded);
        } else {
            for (int y = 0; y < image.height; ++y) {
                std::memcpy(encoded->data[0] + std::ptrdiff_t(y) * encoded->linesize[0],
                            image.PixelAddress(0, y), image.RowBytes());
            }
        }
        return;
    }
    if (!data.converter) {
        data.converter =
            MakeConverter(image.width, image.height, rgba_format, layout.pixel_format, target);
        SetColorDetails(data.converter.get(), layout.tags.matrix, AVCOL_RANGE_UNSPECIFIED,
                        layout.tags.output_full_range);
    }
    if (image.type == SampleType::kFloat) {
        if (!data.planar_source) {
            data.planar_source = NewFrameWithBuffer(rgba_format, image.width, image.height, target);
        }
        DeinterleaveFloat(image, *data.planar_source);
        sws_scale(data.converter.get(), data.planar_source->data, data.planar_source->linesize, 0,
                  image.height, encoded->data, encoded->linesize);
        return;
    }
    std::array<const std::uint8_t*, 4> planes{
        reinterpret_cast<const std::uint8_t*>(image.pixels.data()), nullptr, nullptr, nullptr};
    std::array<int, 4> strides{int(image.RowBytes()), 0, 0, 0};
    sws_scale(data.converter.get(), planes.data(), strides.data(), 0, image.height, encoded->data,
              encoded->linesize);
}

void MovieEncoder::Prepare(const MovieFrame& frame, EncoderFrame& into) const {
    const Internals& in = *in_;
    const Image& image = frame.image;
    if (image.width != in.width || image.height != in.height || image.type != in.type ||
        image.pixels.size() < image.RowBytes() * std::size_t(image.height)) {
        throw MovieError(fmt::format("{}: frame {} is {}x{} {}, not the source's {}x{} {}",
                                     in.target, frame.number, image.width, image.height,
                                     SampleTypeName(image.type), in.width, in.height,
                                     SampleTypeName(in.type)));
    }
    EncoderFrame::Data& data = *into.data_;
    in.Convert(image, data);
    AVFrame* encoded = data.frame.get();
    data.pts = frame.pts;
    data.duration = frame.duration;
    encoded->sample_aspect_ratio = in.layout.sample_aspect_ratio;
    const ColourTags& tags = in.layout.tags;
    encoded->color_primaries = tags.primaries;
    encoded->color_trc = tags.transfer;
    encoded->colorspace = tags.matrix;
    encoded->color_range = tags.range;
    encoded->chroma_location = tags.chroma_location;
    encoded->interlaced_frame = frame.interlaced;
    encoded->top_field_first = frame.top_field_first;
    in.AttachSideData(frame, *encoded);
    data.mastering = frame.mastering;
    data.light_level = frame.light_level;
    data.hdr10_plus = frame.hdr10_plus;
    data.captions = !frame.captions.empty();
    data.ready = true;
}

void MovieEncoder::Encode(EncoderFrame& frame, const PacketSink& sink) {
    Internals& in = *in_;
    EncoderFrame::Data& data = *frame.data_;
    if (!data.ready || !in.opened) {
        throw std::logic_error("MovieEncoder::Encode of a frame not prepared, or before Open");
    }
    // Timestamps go into the opened encoder's time base here, in frame order.
    AVFrame* encoded = data.frame.get();
    const AVRational to = in.encoder->time_base;
    encoded->pts = av_rescale_q(data.pts, in.source_time_base, to);
    encoded->pkt_duration = av_rescale_q(data.duration, in.source_time_base, to);
    in.durations[encoded->pts] = encoded->pkt_duration;
    in.Send(encoded, sink);
    data.ready = false;
    ++in.frames_sent;
}

std::string MovieEncoder::Description() const {
    return DescribeChoice(in_->chosen);
}

const std::vector<std::string>& MovieEncoder::notes() const {
    return in_->chosen.notes;
}

void MovieEncoder::Flush(const PacketSink& sink) {
    in_->Send(nullptr, sink);
}

void MovieEncoder::Internals::Send(const AVFrame* frame, const PacketSink& sink) {
    AVCodecContext* enc = encoder.get();
    if (int code = avcodec_send_frame(enc, frame); code < 0) {
        Fail(fmt::format("cannot encode frame {}", frames_sent + 1), code);
    }
    for (;;) {
        AVPacket* packet = out.get();
        const int code = avcodec_receive_packet(enc, packet);
        if (code == kErrorAgain || code == kErrorEof) return;
        if (code < 0) Fail(fmt::format("cannot encode frame {}", frames_sent + 1), code);
        if (auto found = durations.find(packet->pts); found != durations.end()) {
            if (packet->duration == 0) packet->duration = found->second;
            durations.erase(found);
        }
        sink(out);
        out.Clear();
    }
}

}  // namespace render
