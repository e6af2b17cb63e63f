// The movie policy table against FFmpeg and against the manual: every codec
// a container is said to hold goes into a header that its muxer writes, every
// fallback encoder is one the container holds, and docs/movies.md shows the
// table as the code has it.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tools/vemra-render/io/movie_policy.h"

namespace render {
namespace {

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};

/// Fills `parameters` for a small stream of `id` (sound at `sample_rate`):
/// from its encoder, opened, where FFmpeg has one that opens (so the header
/// the muxer writes holds real codec data), else plain ones of the right
/// kind and size.
void MakeParameters(AVCodecID id, int sample_rate, bool global_header,
                    AVCodecParameters& parameters) {
    parameters.codec_type = avcodec_get_type(id);
    parameters.codec_id = id;
    parameters.width = 256;
    parameters.height = 144;
    parameters.sample_rate = sample_rate;
    av_channel_layout_default(&parameters.ch_layout, 2);
    const AVCodec* encoder = avcodec_find_encoder(id);
    if (encoder == nullptr) return;
    std::unique_ptr<AVCodecContext, CodecContextDeleter> context(avcodec_alloc_context3(encoder));
    context->width = 256;
    context->height = 144;
    context->time_base = {1, 25};
    context->framerate = {25, 1};
    context->pix_fmt = encoder->pix_fmts != nullptr ? encoder->pix_fmts[0] : AV_PIX_FMT_YUV420P;
    context->sample_rate =
        encoder->supported_samplerates != nullptr ? encoder->supported_samplerates[0] : 48000;
    context->sample_fmt =
        encoder->sample_fmts != nullptr ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&context->ch_layout, 2);
    context->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    if (global_header) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // x265 prints for itself unless told not to.
    if (std::string_view(encoder->name) == "libx265") {
        av_opt_set(context->priv_data, "x265-params", "log-level=none", 0);
    }
    // DNxHD's own profiles fix the frame size; DNxHR's take any.
    if (id == AV_CODEC_ID_DNXHD) {
        av_opt_set(context->priv_data, "profile", "dnxhr_sq", 0);
        context->pix_fmt = AV_PIX_FMT_YUV422P;
    }
    if (avcodec_open2(context.get(), encoder, nullptr) >= 0) {
        avcodec_parameters_from_context(&parameters, context.get());
    }
}

/// Writes the header of a `muxer` file holding a stream of `codec` (after a
/// video stream of `video`, for a codec that is not video) into memory;
/// FFmpeg's error code, or 0.
int WriteHeader(const ContainerPolicy& container, std::string_view codec, std::string_view video,
                int sample_rate) {
    AVFormatContext* output = nullptr;
    const std::string muxer(container.muxer);
    if (avformat_alloc_output_context2(&output, nullptr, muxer.c_str(), nullptr) < 0) return -1;
    const bool global_header = (output->oformat->flags & AVFMT_GLOBALHEADER) != 0;
    std::vector<std::string_view> streams;
    const AVCodecDescriptor* held = avcodec_descriptor_get_by_name(std::string(codec).c_str());
    if (held != nullptr && held->type != AVMEDIA_TYPE_VIDEO) streams.push_back(video);
    streams.push_back(codec);
    int code = 0;
    for (std::string_view name : streams) {
        const AVCodecDescriptor* desc = avcodec_descriptor_get_by_name(std::string(name).c_str());
        AVStream* stream = avformat_new_stream(output, nullptr);
        if (desc == nullptr || stream == nullptr) code = -1;
        if (code < 0) break;
        MakeParameters(desc->id, sample_rate, global_header, *stream->codecpar);
        stream->time_base = stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO
                                ? AVRational{1, stream->codecpar->sample_rate}
                                : AVRational{1, 25};
        stream->avg_frame_rate = {25, 1};
    }
    if (code == 0) code = avio_open_dyn_buf(&output->pb);
    if (code == 0) code = avformat_write_header(output, nullptr);
    if (output->pb != nullptr) {
        std::uint8_t* bytes = nullptr;
        avio_close_dyn_buf(output->pb, &bytes);
        av_free(bytes);
        output->pb = nullptr;
    }
    avformat_free_context(output);
    return code < 0 ? code : 0;
}

TEST(MoviePolicy, EveryContainerWritesAHeaderForEveryCodecItHolds) {
    av_log_set_level(AV_LOG_QUIET);
    for (const ContainerPolicy& container : MovieContainers()) {
        ASSERT_FALSE(container.video.empty()) << container.muxer;
        for (const auto* list :
             {&container.video, &container.audio, &container.subtitles, &container.data}) {
            for (std::string_view codec : *list) {
                // At 48 kHz, or at 44.1 kHz for the containers that take no 48 (FLV).
                const std::string_view video = container.video.front();
                EXPECT_TRUE(WriteHeader(container, codec, video, 48000) == 0 ||
                            WriteHeader(container, codec, video, 44100) == 0)
                    << container.muxer << " with " << codec;
            }
        }
    }
}

TEST(MoviePolicy, EveryFallbackEncoderMakesACodecItsContainerHolds) {
    for (const ContainerPolicy& container : MovieContainers()) {
        // The fallback, and the default for frames from images, in the
        // pixel format it names where it names one.
        for (const auto choices : {container.fallback, container.images}) {
            for (const EncoderChoice& choice : choices) {
                const AVCodec* encoder =
                    avcodec_find_encoder_by_name(std::string(choice.encoder).c_str());
                if (encoder == nullptr) continue;  // this FFmpeg lacks it: the next is taken
                EXPECT_TRUE(Holds(container, StreamKind::kVideo, avcodec_get_name(encoder->id)))
                    << container.muxer << " falls back to " << choice.encoder;
                if (choice.pixel_format.empty()) continue;
                const AVPixelFormat format =
                    av_get_pix_fmt(std::string(choice.pixel_format).c_str());
                bool takes = false;
                for (const AVPixelFormat* p = encoder->pix_fmts;
                     p != nullptr && *p != AV_PIX_FMT_NONE; ++p) {
                    takes = takes || *p == format;
                }
                EXPECT_TRUE(takes) << choice.encoder << " " << choice.pixel_format;
            }
        }
    }
}

TEST(MoviePolicy, ConversionsAndProfilesNameWhatContainersHoldAndEncodersTake) {
    av_log_set_level(AV_LOG_QUIET);
    const auto codec_of = [](std::string_view encoder) -> std::string {
        const AVCodec* codec = avcodec_find_encoder_by_name(std::string(encoder).c_str());
        return codec != nullptr ? avcodec_get_name(codec->id) : "";
    };
    for (const ContainerPolicy& container : MovieContainers()) {
        SCOPED_TRACE(container.muxer);
        // Sound converted for the container goes into its header, at the
        // rate its muxer takes.
        const std::string sound = codec_of(container.audio_encoder);
        EXPECT_TRUE(Holds(container, StreamKind::kAudio, sound)) << container.audio_encoder;
        EXPECT_EQ(WriteHeader(container, sound, container.video.front(),
                              container.audio_rate != 0 ? container.audio_rate : 48000),
                  0);
        if (!container.text_subtitle_encoder.empty()) {
            EXPECT_TRUE(
                Holds(container, StreamKind::kSubtitle, codec_of(container.text_subtitle_encoder)));
        }
        for (std::string_view codec : container.no_reordering) {
            EXPECT_TRUE(Holds(container, StreamKind::kVideo, codec)) << codec;
        }
    }
    // Every profile is one its encoder takes, with the pixel format it names.
    for (const ProfileRule& rule : MovieProfiles()) {
        SCOPED_TRACE(std::string(rule.codec) + " " + std::string(rule.option));
        const std::string preferred(PreferredEncoder(rule.codec));
        const AVCodecDescriptor* desc =
            avcodec_descriptor_get_by_name(std::string(rule.codec).c_str());
        ASSERT_NE(desc, nullptr);
        const AVCodec* encoder = preferred.empty()
                                     ? avcodec_find_encoder(desc->id)
                                     : avcodec_find_encoder_by_name(preferred.c_str());
        if (encoder == nullptr) continue;  // this FFmpeg lacks it
        std::unique_ptr<AVCodecContext, CodecContextDeleter> context(
            avcodec_alloc_context3(encoder));
        EXPECT_GE(av_opt_set(context->priv_data, "profile", std::string(rule.option).c_str(), 0),
                  0);
        if (rule.pixel_format.empty()) continue;
        const AVPixelFormat format = av_get_pix_fmt(std::string(rule.pixel_format).c_str());
        bool takes = false;
        for (const AVPixelFormat* p = encoder->pix_fmts; p && *p != AV_PIX_FMT_NONE; ++p) {
            takes = takes || *p == format;
        }
        EXPECT_TRUE(takes) << rule.pixel_format;
    }
    for (const NearestFormat& nearest : NearestFormats()) {
        EXPECT_NE(ProfileFor(nearest.from, nearest.from_profile), nullptr) << nearest.from;
        EXPECT_NE(ProfileFor(nearest.to, nearest.to_profile), nullptr) << nearest.to;
    }
    for (const EncoderPolicy& encoder : MovieEncoders()) {
        if (encoder.default_profile.empty()) continue;
        EXPECT_NE(ProfileNamed(codec_of(encoder.encoder), encoder.default_profile), nullptr)
            << encoder.encoder;
    }
}

TEST(MoviePolicy, TheManualShowsTheTableAsTheCodeHasIt) {
    std::ifstream file(std::string(VEMRA_SOURCE_DIR) + "/docs/movies.md");
    ASSERT_TRUE(file) << "docs/movies.md";
    std::stringstream manual;
    manual << file.rdbuf();
    EXPECT_NE(manual.str().find(MoviePolicyMarkdown()), std::string::npos)
        << "docs/movies.md does not hold this table:\n"
        << MoviePolicyMarkdown();
}

}  // namespace
}  // namespace render
