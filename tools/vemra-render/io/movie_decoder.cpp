#include "tools/vemra-render/io/movie_decoder.h"

#include <fmt/format.h>

#include <array>
#include <cstring>
#include <new>
#include <string>

#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/io/movie_conversion.h"
#include "tools/vemra-render/pixels/orientation.h"

namespace render {

using namespace movie;

namespace {

/// A converter to RGBA and what it was set up for; one per frame in flight,
/// since a converter serves one thread at a time.
struct ConversionState {
    SwsPtr converter;
    AVPixelFormat from = AV_PIX_FMT_NONE;
    AVColorSpace matrix = AVCOL_SPC_NB;
    AVColorRange range = AVCOL_RANGE_NB;
    FramePtr planar;  ///< the conversion's output for float sources, and unaligned rows
};

/// The frame's side data of `kind` when it is at least `size` bytes; empty otherwise.
std::vector<std::uint8_t> SideData(const AVFrame& frame, AVFrameSideDataType kind,
                                   std::size_t size) {
    const AVFrameSideData* data = av_frame_get_side_data(&frame, kind);
    if (data == nullptr || data->size < size) return {};
    return {data->data, data->data + size};
}

/// Copies the rows of plane 0 of `from` into the tight rows of `image`.
void CopyRows(const AVFrame& from, Image& image) {
    for (int y = 0; y < image.height; ++y) {
        std::memcpy(image.PixelAddress(0, y), from.data[0] + std::ptrdiff_t(y) * from.linesize[0],
                    image.RowBytes());
    }
}

}  // namespace

struct DecodedFrame::Data {
    FramePtr frame = NewFrame();  ///< as the decoder gave it; blank once converted
    long number = 0;
    ConversionState conversion;
    Image coded;  ///< the frame as coded, on its way to being turned upright
};

DecodedFrame::DecodedFrame() : data_(std::make_unique<Data>()) {}
DecodedFrame::~DecodedFrame() = default;
DecodedFrame::DecodedFrame(DecodedFrame&&) noexcept = default;
DecodedFrame& DecodedFrame::operator=(DecodedFrame&&) noexcept = default;
long DecodedFrame::number() const {
    return data_->number;
}
std::int64_t DecodedFrame::pts() const {
    return data_->frame->best_effort_timestamp;
}

struct MovieDecoder::Internals {
    std::string path;
    CodecContextPtr decoder;
    int width = 0;  ///< as coded
    int height = 0;
    SampleType type = SampleType::kUint8;
    bool has_alpha = false;
    bool turn = false;  ///< frames go out upright
    Orientation upright;
    long frames_decoded = 0;
    /// One frame at the stream's rate, in its time base (0: rate unknown),
    /// and where the next frame is due: for a frame the file gives no time
    /// (a program stream's last frames), as the ffmpeg program predicts it.
    std::int64_t frame_ticks = 0;
    std::int64_t next_pts = kNoTimestamp;
    bool ended = false;    ///< SendEnd was called
    bool drained = false;  ///< the decoder gave its last frame

    /// "FILE: frame N" for messages about the frame being decoded.
    std::string FramePrefix() const {
        return fmt::format("{}: frame {}", path, frames_decoded + 1);
    }
    /// Converts `frame`, decoded as frame `number`, into `image` as RGBA of
    /// `type`, with `state`'s converter. From any thread.
    void Convert(const AVFrame& frame, long number, ConversionState& state, Image& image) const;
    /// Converts `frame` with a converter into `image`.
    void Scale(const AVFrame& frame, ConversionState& state, Image& image) const;
};

MovieDecoder::MovieDecoder(const SourceDescription& source, int threads)
    : in_(std::make_unique<Internals>()) {
    Internals& in = *in_;
    const SourceStream& stream = source.video_stream();
    const AVCodecParameters& parameters = stream.parameters.get();
    in.path = source.path;
    in.width = parameters.width;
    in.height = parameters.height;
    in.type = source.video.type;
    in.has_alpha = source.video.has_alpha;
    in.turn = source.video.turned;
    in.upright = source.video.matrix.upright;

    const AVCodec* codec = source.video.decoder.empty()
                               ? avcodec_find_decoder(parameters.codec_id)
                               : avcodec_find_decoder_by_name(source.video.decoder.c_str());
    if (codec == nullptr) {
        throw MovieError(fmt::format("{}: no decoder for its video stream ({})", in.path,
                                     avcodec_get_name(parameters.codec_id)));
    }
    in.decoder.reset(avcodec_alloc_context3(codec));
    if (!in.decoder) throw std::bad_alloc();
    AVCodecContext* context = in.decoder.get();
    if (int code = avcodec_parameters_to_context(context, &parameters); code < 0) {
        throw MovieError(fmt::format("{}: {}", in.path, ErrorText(code)));
    }
    context->pkt_timebase = {stream.time_base.num, stream.time_base.den};
    if (source.video.frame_rate.valid()) {
        in.frame_ticks = av_rescale_q(1, {source.video.frame_rate.den, source.video.frame_rate.num},
                                      context->pkt_timebase);
    }
    av_opt_set(context, "threads", threads > 0 ? std::to_string(threads).c_str() : "auto", 0);
    if (int code = avcodec_open2(context, codec, nullptr); code < 0) {
        throw MovieError(fmt::format("{}: cannot open the {} decoder: {}", in.path, codec->name,
                                     ErrorText(code)));
    }
}

MovieDecoder::~MovieDecoder() = default;

void MovieDecoder::Send(const MoviePacket& packet) {
    const int code = avcodec_send_packet(in_->decoder.get(), packet.get());
    if (code < 0 && code != kErrorEof) {
        throw MovieError(fmt::format("{}: cannot decode: {}", in_->FramePrefix(), ErrorText(code)));
    }
}

void MovieDecoder::SendEnd() {
    in_->ended = true;
    const int code = avcodec_send_packet(in_->decoder.get(), nullptr);
    if (code < 0 && code != kErrorEof) {
        throw MovieError(fmt::format("{}: cannot decode: {}", in_->FramePrefix(), ErrorText(code)));
    }
}

MovieDecoder::Result MovieDecoder::Receive(DecodedFrame& into) {
    Internals& in = *in_;
    if (in.drained) return Result::kEnd;
    AVFrame* decoded = into.data_->frame.get();
    av_frame_unref(decoded);
    const int code = avcodec_receive_frame(in.decoder.get(), decoded);
    if (code == kErrorEof) {
        in.drained = true;
        return Result::kEnd;
    }
    if (code == kErrorAgain) {
        // Only after the end was sent can the decoder run out: asking for
        // more then would loop.
        if (in.ended) throw MovieError(fmt::format("{}: the decoder stalled", in.FramePrefix()));
        return Result::kNeedPacket;
    }
    if (code < 0) {
        throw MovieError(fmt::format("{}: cannot decode: {}", in.FramePrefix(), ErrorText(code)));
    }
    if ((decoded->flags & AV_FRAME_FLAG_CORRUPT) || decoded->decode_error_flags != 0) {
        av_frame_unref(decoded);
        throw MovieError(fmt::format("{}: the decoder found the frame damaged", in.FramePrefix()));
    }
    if (decoded->best_effort_timestamp == kNoTimestamp) {
        decoded->best_effort_timestamp = in.next_pts;
    }
    if (decoded->best_effort_timestamp != kNoTimestamp) {
        const std::int64_t duration =
            decoded->pkt_duration > 0 ? decoded->pkt_duration : in.frame_ticks;
        in.next_pts = decoded->best_effort_timestamp + duration;
    }
    into.data_->number = ++in.frames_decoded;
    return Result::kFrame;
}

long MovieDecoder::frames_decoded() const {
    return in_->frames_decoded;
}

void MovieDecoder::Internals::Convert(const AVFrame& frame, long number, ConversionState& state,
                                      Image& image) const {
    if (frame.width != width || frame.height != height) {
        throw MovieError(fmt::format("{}: frame {}: the frame size changes from {}x{} to {}x{}",
                                     path, number, width, height, frame.width, frame.height));
    }
    image.Reshape(width, height, type, has_alpha);
    // Frames already in the wanted layout pass unconverted, as they pass the
    // ffmpeg program's filters (the converter would round float samples).
    if (AVPixelFormat(frame.format) != RgbaFormatOf(type)) {
        Scale(frame, state, image);
    } else if (type == SampleType::kFloat) {
        InterleaveFloat(frame, image);
    } else {
        CopyRows(frame, image);
    }
}

void MovieDecoder::Internals::Scale(const AVFrame& frame, ConversionState& state,
                                    Image& image) const {
    const auto from = AVPixelFormat(frame.format);
    const AVPixelFormat to = RgbaFormatOf(type);
    if (!state.converter || from != state.from) {
        state.converter = MakeConverter(width, height, from, to, path);
        state.from = from;
        state.matrix = AVCOL_SPC_NB;
    }
    const AVColorSpace tagged_matrix =
        ValidTag(frame.colorspace, AVCOL_SPC_NB, AVCOL_SPC_UNSPECIFIED);
    const AVColorRange tagged_range =
        ValidTag(frame.color_range, AVCOL_RANGE_NB, AVCOL_RANGE_UNSPECIFIED);
    if (tagged_matrix != state.matrix || tagged_range != state.range) {
        SetColorDetails(state.converter.get(), tagged_matrix, tagged_range, -1);
        state.matrix = tagged_matrix;
        state.range = tagged_range;
    }
    // FFmpeg's frames have rows aligned for its SIMD code; the image's rows
    // are tight. Converting into an aligned frame keeps the converter on the
    // code path the ffmpeg program takes, so the samples come out the same.
    const int row_bytes = int(image.RowBytes());
    const bool aligned = type != SampleType::kFloat && row_bytes % 64 == 0 &&
                         reinterpret_cast<std::uintptr_t>(image.pixels.data()) % 64 == 0;
    if (aligned) {
        std::array<std::uint8_t*, 4> planes{reinterpret_cast<std::uint8_t*>(image.pixels.data()),
                                            nullptr, nullptr, nullptr};
        std::array<int, 4> strides{row_bytes, 0, 0, 0};
        sws_scale(state.converter.get(), frame.data, frame.linesize, 0, height, planes.data(),
                  strides.data());
        return;
    }
    FramePtr& planar = state.planar;
    if (!planar || planar->width != width || planar->height != height) {
        planar = NewFrameWithBuffer(to, width, height, path);
    }
    sws_scale(state.converter.get(), frame.data, frame.linesize, 0, height, planar->data,
              planar->linesize);
    if (type == SampleType::kFloat) {
        InterleaveFloat(*planar, image);
    } else {
        CopyRows(*planar, image);
    }
}

void MovieDecoder::Convert(DecodedFrame& decoded, MovieFrame& frame) const {
    const Internals& in = *in_;
    DecodedFrame::Data& data = *decoded.data_;
    const AVFrame& coded = *data.frame;
    if (in.turn) {
        in.Convert(coded, data.number, data.conversion, data.coded);
        Orient(data.coded, in.upright, frame.image);
    } else {
        in.Convert(coded, data.number, data.conversion, frame.image);
    }
    frame.pts = coded.best_effort_timestamp;
    frame.duration = coded.pkt_duration;
    frame.number = data.number;
    frame.interlaced = coded.interlaced_frame != 0;
    frame.top_field_first = coded.top_field_first != 0;
    frame.captions.clear();
    if (const AVFrameSideData* cc = av_frame_get_side_data(&coded, AV_FRAME_DATA_A53_CC)) {
        frame.captions.assign(cc->data, cc->data + cc->size);
    }
    frame.mastering = SideData(coded, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA,
                               sizeof(AVMasteringDisplayMetadata));
    frame.light_level =
        SideData(coded, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL, sizeof(AVContentLightMetadata));
    frame.hdr10_plus = av_frame_get_side_data(&coded, AV_FRAME_DATA_DYNAMIC_HDR_PLUS) != nullptr;
    av_frame_unref(data.frame.get());
}

}  // namespace render
