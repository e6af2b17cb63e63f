#include "tools/vemra-render/io/stream_converter.h"

#include <fmt/format.h>

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/io/ffmpeg_log.h"
#include "tools/vemra-render/run/library_log.h"

namespace render {

using namespace movie;

namespace {

struct SwrDeleter {
    void operator()(SwrContext* context) const { swr_free(&context); }
};
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

struct FifoDeleter {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoDeleter>;

/// The rate among those `codec` takes nearest `rate`, as the ffmpeg program
/// chooses it; `rate` itself when the encoder takes any.
int NearestRate(const AVCodec& codec, int rate) {
    if (codec.supported_samplerates == nullptr) return rate;
    int best = codec.supported_samplerates[0];
    for (const int* r = codec.supported_samplerates; *r != 0; ++r) {
        if (std::abs(*r - rate) < std::abs(best - rate)) best = *r;
    }
    return best;
}

/// The sample format `codec` takes: `format` when it takes it, else its first.
AVSampleFormat SampleFormatFor(const AVCodec& codec, AVSampleFormat format) {
    if (codec.sample_fmts == nullptr) return format;
    for (const AVSampleFormat* f = codec.sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
        if (*f == format) return format;
    }
    return codec.sample_fmts[0];
}

/// The channel layout `codec` takes for sound laid out as `from`: `from`
/// (in FFmpeg's default order for its channel count where it has none),
/// else the encoder's first of as many channels, else its first.
void ChooseLayout(const AVCodec& codec, const AVChannelLayout& from, AVChannelLayout& into) {
    AVChannelLayout wanted{};
    if (from.order == AV_CHANNEL_ORDER_NATIVE) {
        av_channel_layout_copy(&wanted, &from);
    } else {
        av_channel_layout_default(&wanted, from.nb_channels > 0 ? from.nb_channels : 2);
    }
    const AVChannelLayout* chosen = &wanted;
    if (codec.ch_layouts != nullptr) {
        const AVChannelLayout* same_count = nullptr;
        const AVChannelLayout* same = nullptr;
        for (const AVChannelLayout* l = codec.ch_layouts; l->nb_channels != 0; ++l) {
            if (av_channel_layout_compare(l, &wanted) == 0) same = l;
            if (same_count == nullptr && l->nb_channels == wanted.nb_channels) same_count = l;
        }
        chosen = same != nullptr ? same : same_count != nullptr ? same_count : codec.ch_layouts;
    }
    av_channel_layout_copy(&into, chosen);
    av_channel_layout_uninit(&wanted);
}

}  // namespace

struct StreamConverter::Internals {
    std::string target;
    std::string what;  ///< "stream N" for messages
    AVRational source_time_base{1, 1};
    bool audio = false;
    CodecContextPtr decoder;
    CodecContextPtr encoder;
    EncodedStream stream;
    MoviePacket out;
    FramePtr decoded = NewFrame();
    // Sound: the resampler (made with the first frame, whose layout it
    // takes), the samples waiting for a whole encoder frame, the frame sent.
    SwrPtr resampler;
    FifoPtr fifo;
    FramePtr chunk = NewFrame();
    std::int64_t next_pts = kNoTimestamp;  ///< in the encoder's time base
    StreamWindow window;                   ///< the sound kept, in the source's time base

    [[noreturn]] void Fail(const std::string& doing, int code) const {
        throw MovieError(
            fmt::format("{}: converting {}: {}: {}", target, what, doing, ErrorText(code)));
    }
    void OpenDecoder(const SourceStream& source);
    void OpenEncoder(const AVCodec& codec, const StreamRoute& route, bool global_header);
    void SetUpSound(const AVCodec& codec, const StreamRoute& route);
    /// A decoded frame's samples within the window.
    struct Samples {
        std::vector<const std::uint8_t*> planes;
        int count = 0;
        std::int64_t start = kNoTimestamp;  ///< in the source's time base
    };
    /// The part of `frame` within the window into `kept`; false: none.
    bool Trim(const AVFrame& frame, Samples& kept) const;
    void Resample(const AVFrame* frame);
    /// Encodes whole encoder frames from the queue, and at the end what is left.
    void EncodeQueued(bool end, const PacketSink& sink);
    void Encode(const AVFrame* frame, const PacketSink& sink);
    void ConvertSubtitle(const MoviePacket& packet, const PacketSink& sink);
};

StreamConverter::StreamConverter(const SourceStream& stream, const StreamRoute& route,
                                 bool global_header, const std::string& target)
    : in_(std::make_unique<Internals>()) {
    Internals& in = *in_;
    InstallFfmpegLog();
    in.target = target;
    in.what = fmt::format("stream {}", stream.index);
    in.audio = stream.kind == StreamKind::kAudio;
    in.source_time_base = {stream.time_base.num, stream.time_base.den};
    in.OpenDecoder(stream);
    const AVCodec* codec = avcodec_find_encoder_by_name(route.encoder.c_str());
    if (codec == nullptr) {
        throw MovieError(
            fmt::format("{}: converting {}: no encoder {}", target, in.what, route.encoder));
    }
    in.OpenEncoder(*codec, route, global_header);
    in.stream.source_index = stream.index;
    AVCodecParameters* parameters = avcodec_parameters_alloc();
    if (parameters == nullptr) throw std::bad_alloc();
    const int code = avcodec_parameters_from_context(parameters, in.encoder.get());
    if (code >= 0) in.stream.parameters = CodecParameters(*parameters);
    avcodec_parameters_free(&parameters);
    if (code < 0) in.Fail("its parameters", code);
    in.stream.time_base = {in.encoder->time_base.num, in.encoder->time_base.den};
}

StreamConverter::~StreamConverter() = default;

const EncodedStream& StreamConverter::stream() const {
    return in_->stream;
}

void StreamConverter::Internals::OpenDecoder(const SourceStream& source) {
    const AVCodecParameters& parameters = source.parameters.get();
    const AVCodec* codec = avcodec_find_decoder(parameters.codec_id);
    if (codec == nullptr) {
        throw MovieError(fmt::format("{}: converting {}: no {} decoder", target, what,
                                     avcodec_get_name(parameters.codec_id)));
    }
    decoder.reset(avcodec_alloc_context3(codec));
    if (!decoder) throw std::bad_alloc();
    if (int code = avcodec_parameters_to_context(decoder.get(), &parameters); code < 0) {
        Fail("its parameters", code);
    }
    decoder->pkt_timebase = source_time_base;
    LogWatch log(decoder.get());
    if (int code = avcodec_open2(decoder.get(), codec, nullptr); code < 0) {
        throw MovieError(WithCause(fmt::format("{}: converting {}: cannot open the {} decoder: {}",
                                               target, what, codec->name, ErrorText(code)),
                                   log));
    }
}

void StreamConverter::Internals::OpenEncoder(const AVCodec& codec, const StreamRoute& route,
                                             bool global_header) {
    encoder.reset(avcodec_alloc_context3(&codec));
    if (!encoder) throw std::bad_alloc();
    AVCodecContext* enc = encoder.get();
    if (audio) {
        SetUpSound(codec, route);
    } else {
        // Text subtitles carry their styles in the header the decoder makes
        // (ASS's); the encoder takes them from there. Times in microseconds,
        // as the decoder gives them.
        enc->time_base = AVRational{1, AV_TIME_BASE};
        if (decoder->subtitle_header != nullptr && decoder->subtitle_header_size > 0) {
            const auto size = std::size_t(decoder->subtitle_header_size);
            enc->subtitle_header = static_cast<std::uint8_t*>(av_mallocz(size + 1));
            if (enc->subtitle_header == nullptr) throw std::bad_alloc();
            std::memcpy(enc->subtitle_header, decoder->subtitle_header, size);
            enc->subtitle_header_size = decoder->subtitle_header_size;
        }
    }
    if (global_header) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    LogWatch log(enc);
    if (int code = avcodec_open2(enc, &codec, nullptr); code < 0) {
        throw MovieError(WithCause(fmt::format("{}: converting {}: cannot open the {} encoder: {}",
                                               target, what, codec.name, ErrorText(code)),
                                   log));
    }
    for (const LoggedMessage& message : log.Take()) NoteLibraryMessage(message.text);
}

void StreamConverter::Internals::SetUpSound(const AVCodec& codec, const StreamRoute& route) {
    AVCodecContext* enc = encoder.get();
    const AVCodecContext& dec = *decoder;
    enc->sample_rate =
        route.sample_rate > 0 ? route.sample_rate : NearestRate(codec, dec.sample_rate);
    enc->sample_fmt = SampleFormatFor(codec, dec.sample_fmt);
    ChooseLayout(codec, dec.ch_layout, enc->ch_layout);
    enc->time_base = AVRational{1, enc->sample_rate};
    fifo.reset(av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, 1));
    if (!fifo) throw std::bad_alloc();
}

void StreamConverter::Keep(const StreamWindow& window) {
    in_->window = window;
}

void StreamConverter::Convert(const MoviePacket& packet, const PacketSink& sink) {
    Internals& in = *in_;
    if (!in.audio) {
        in.ConvertSubtitle(packet, sink);
        return;
    }
    const int code = avcodec_send_packet(in.decoder.get(), packet.get());
    if (code < 0 && code != kErrorEof) in.Fail("cannot decode", code);
    for (;;) {
        const int received = avcodec_receive_frame(in.decoder.get(), in.decoded.get());
        if (received == kErrorAgain || received == kErrorEof) return;
        if (received < 0) in.Fail("cannot decode", received);
        in.Resample(in.decoded.get());
        av_frame_unref(in.decoded.get());
        in.EncodeQueued(false, sink);
    }
}

void StreamConverter::Flush(const PacketSink& sink) {
    Internals& in = *in_;
    if (!in.audio) return;  // text subtitle decoders hold nothing back
    if (int code = avcodec_send_packet(in.decoder.get(), nullptr); code < 0 && code != kErrorEof) {
        in.Fail("cannot decode", code);
    }
    while (avcodec_receive_frame(in.decoder.get(), in.decoded.get()) >= 0) {
        in.Resample(in.decoded.get());
        av_frame_unref(in.decoded.get());
    }
    if (in.resampler) in.Resample(nullptr);  // what the resampler holds
    in.EncodeQueued(true, sink);
    in.Encode(nullptr, sink);
}

bool StreamConverter::Internals::Trim(const AVFrame& frame, Samples& kept) const {
    const int channels = frame.ch_layout.nb_channels;
    const auto format = AVSampleFormat(frame.format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const std::int64_t start = frame.best_effort_timestamp;
    std::int64_t skip = 0;
    std::int64_t end = frame.nb_samples;
    if (start != kNoTimestamp) {
        const AVRational rate{1, frame.sample_rate};
        if (window.from != kNoTimestamp && window.from > start) {
            skip = av_rescale_q(window.from - start, source_time_base, rate);
        }
        if (window.to != kNoTimestamp) {
            end = std::min(end, av_rescale_q(window.to - start, source_time_base, rate));
        }
        kept.start = start + av_rescale_q(skip, rate, source_time_base);
    }
    if (end <= skip) return false;
    kept.count = int(end - skip);
    const std::size_t offset = std::size_t(skip) * std::size_t(av_get_bytes_per_sample(format)) *
                               std::size_t(planar ? 1 : channels);
    kept.planes.assign(std::size_t(planar ? channels : 1), nullptr);
    for (std::size_t p = 0; p < kept.planes.size(); ++p) {
        kept.planes[p] = frame.extended_data[p] + offset;
    }
    return true;
}

void StreamConverter::Internals::Resample(const AVFrame* frame) {
    AVCodecContext* enc = encoder.get();
    Samples kept;
    if (frame != nullptr && !Trim(*frame, kept)) return;
    if (!resampler && frame != nullptr) {
        // The source's channels as laid out, or in FFmpeg's default order
        // for their count where the file gives none.
        AVChannelLayout from{};
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_NATIVE) {
            av_channel_layout_copy(&from, &frame->ch_layout);
        } else {
            av_channel_layout_default(&from, frame->ch_layout.nb_channels);
        }
        SwrContext* made = nullptr;
        const int code =
            swr_alloc_set_opts2(&made, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &from,
                                AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&from);
        if (code < 0) Fail("cannot resample", code);
        resampler.reset(made);
        if (const int init = swr_init(made); init < 0) Fail("cannot resample", init);
        // The converted sound starts where the source's does (or its window).
        const std::int64_t start = kept.start;
        next_pts =
            start == kNoTimestamp ? 0 : av_rescale_q(start, source_time_base, enc->time_base);
    }
    if (!resampler) return;
    const int wanted = swr_get_out_samples(resampler.get(), frame != nullptr ? kept.count : 0);
    if (wanted <= 0) return;
    std::uint8_t** planes = nullptr;
    if (int code = av_samples_alloc_array_and_samples(&planes, nullptr, enc->ch_layout.nb_channels,
                                                      wanted, enc->sample_fmt, 0);
        code < 0) {
        Fail("cannot resample", code);
    }
    const int got = swr_convert(resampler.get(), planes, wanted,
                                frame != nullptr ? kept.planes.data() : nullptr,
                                frame != nullptr ? kept.count : 0);
    const int written =
        got > 0 ? av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(planes), got) : got;
    av_freep(&planes[0]);
    av_freep(&planes);
    if (written < 0) Fail("cannot resample", written);
}

void StreamConverter::Internals::EncodeQueued(bool end, const PacketSink& sink) {
    AVCodecContext* enc = encoder.get();
    const bool any_size =
        enc->frame_size <= 0 || (enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    const int frame_size = any_size ? 4096 : enc->frame_size;
    while (av_audio_fifo_size(fifo.get()) >= frame_size ||
           (end && av_audio_fifo_size(fifo.get()) > 0)) {
        const int count = std::min(frame_size, av_audio_fifo_size(fifo.get()));
        // A short last frame is padded with silence where the encoder takes
        // whole frames only.
        const bool pad = count < frame_size && !any_size &&
                         !(enc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
        AVFrame* frame = chunk.get();
        av_frame_unref(frame);
        frame->nb_samples = pad ? frame_size : count;
        frame->format = enc->sample_fmt;
        frame->sample_rate = enc->sample_rate;
        if (int code = av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout); code < 0) {
            Fail("frame buffer", code);
        }
        if (int code = av_frame_get_buffer(frame, 0); code < 0) Fail("frame buffer", code);
        if (pad) {
            av_samples_set_silence(frame->extended_data, 0, frame_size, enc->ch_layout.nb_channels,
                                   enc->sample_fmt);
        }
        av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(frame->extended_data), count);
        frame->pts = next_pts;
        next_pts += frame->nb_samples;
        Encode(frame, sink);
    }
}

void StreamConverter::Internals::Encode(const AVFrame* frame, const PacketSink& sink) {
    if (int code = avcodec_send_frame(encoder.get(), frame); code < 0 && code != kErrorEof) {
        Fail("cannot encode", code);
    }
    for (;;) {
        const int code = avcodec_receive_packet(encoder.get(), out.get());
        if (code == kErrorAgain || code == kErrorEof) return;
        if (code < 0) Fail("cannot encode", code);
        out.get()->stream_index = stream.source_index;
        sink(out);
        out.Clear();
    }
}

void StreamConverter::Internals::ConvertSubtitle(const MoviePacket& packet,
                                                 const PacketSink& sink) {
    const AVPacket& in = *packet.get();
    const std::int64_t at = in.pts != kNoTimestamp ? in.pts : in.dts;
    const PacketFit fit =
        at != kNoTimestamp ? FitPacket(window, at, in.duration) : PacketFit::kInside;
    if (fit == PacketFit::kBefore || fit == PacketFit::kPast) return;
    AVSubtitle subtitle{};
    int got = 0;
    const int code = avcodec_decode_subtitle2(decoder.get(), &subtitle, &got,
                                              const_cast<AVPacket*>(packet.get()));
    if (code < 0) Fail("cannot decode", code);
    if (!got) return;
    // As the ffmpeg program encodes a subtitle: shown from its start, for
    // the time between its start and end; one shown when the window opens,
    // from then.
    std::int64_t pts = subtitle.pts;
    if (pts == kNoTimestamp && in.pts != kNoTimestamp) {
        pts = av_rescale_q(in.pts, source_time_base, AVRational{1, AV_TIME_BASE});
    }
    pts +=
        av_rescale_q(subtitle.start_display_time, AVRational{1, 1000}, AVRational{1, AV_TIME_BASE});
    subtitle.end_display_time -= subtitle.start_display_time;
    subtitle.start_display_time = 0;
    if (fit == PacketFit::kAcross) {
        const std::int64_t from = av_rescale_q(window.from, source_time_base, kMicroseconds);
        const std::int64_t cut =
            av_rescale_q(std::max<std::int64_t>(0, from - pts), kMicroseconds, AVRational{1, 1000});
        subtitle.end_display_time -=
            std::uint32_t(std::min<std::int64_t>(cut, subtitle.end_display_time));
        pts = std::max(pts, from);
    }
    subtitle.pts = pts;
    std::vector<std::uint8_t> buffer(1 << 20);
    const int size = subtitle.num_rects > 0 ? avcodec_encode_subtitle(encoder.get(), buffer.data(),
                                                                      int(buffer.size()), &subtitle)
                                            : 0;
    const std::uint32_t shown = subtitle.end_display_time;
    avsubtitle_free(&subtitle);
    if (size < 0) Fail("cannot encode", size);
    if (size == 0) return;
    AVPacket* written = out.get();
    if (int made = av_new_packet(written, size); made < 0) Fail("packet", made);
    std::memcpy(written->data, buffer.data(), std::size_t(size));
    written->pts = written->dts = pts;
    if (shown != std::numeric_limits<std::uint32_t>::max()) {
        written->duration = av_rescale_q(shown, AVRational{1, 1000}, AVRational{1, AV_TIME_BASE});
    }
    written->stream_index = stream.source_index;
    sink(out);
    out.Clear();
}

}  // namespace render
