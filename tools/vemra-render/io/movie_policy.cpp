#include "tools/vemra-render/io/movie_policy.h"

#include <fmt/format.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <array>
#include <cctype>

namespace render {

namespace {

using Names = std::string_view;

// QuickTime. Opus, FLAC, VP9 and AV1 are left out: the muxer takes them in
// MP4 mode only.
constexpr Names kMovEndings[] = {"mov"};
constexpr Names kMovVideo[] = {"h264",  "hevc",  "prores", "dnxhd", "mpeg2video", "mpeg1video",
                               "mpeg4", "mjpeg", "png",    "qtrle", "rawvideo"};
constexpr Names kMovAudio[] = {"aac",       "mp3",       "mp2",       "ac3",       "eac3",
                               "alac",      "pcm_s16le", "pcm_s24le", "pcm_s32le", "pcm_s16be",
                               "pcm_s24be", "pcm_s32be", "pcm_f32le", "pcm_f32be"};
constexpr Names kMovSubtitles[] = {"mov_text", "eia_608"};
constexpr EncoderChoice kMovFallback[] = {{"prores_ks", "4444"}};
// Frames from images without alpha, at any depth: ProRes 422 HQ, which
// codes 4:2:2 in 10 bits.
constexpr EncoderChoice kMovImages[] = {{"prores_ks", "hq", "yuv422p10le"}};

// MP4, and the iPod's .m4v.
constexpr Names kMp4Endings[] = {"mp4"};
constexpr Names kMp4Video[] = {"h264", "hevc", "mpeg4", "mpeg2video", "mpeg1video",
                               "vp9",  "av1",  "mjpeg", "png"};
// FLAC in MP4 is experimental in this FFmpeg: left out.
constexpr Names kMp4Audio[] = {"aac", "mp3", "mp2", "ac3", "eac3", "opus", "alac"};
constexpr Names kMp4Subtitles[] = {"mov_text", "dvd_subtitle"};
constexpr Names kMp4Data[] = {"bin_data"};
constexpr Names kM4vEndings[] = {"m4v"};
constexpr Names kM4vVideo[] = {"h264", "mpeg4"};
constexpr Names kM4vAudio[] = {"aac", "ac3", "alac"};
constexpr Names kM4vSubtitles[] = {"mov_text"};
constexpr EncoderChoice kH264Fallback[] = {{"libx264", ""}, {"mpeg4", ""}};
constexpr EncoderChoice kMpeg2Fallback[] = {{"libx264", ""}, {"mpeg2video", ""}};
constexpr EncoderChoice kFlvFallback[] = {{"libx264", ""}, {"flv", ""}};

// Matroska and WebM.
constexpr Names kMkvEndings[] = {"mkv"};
constexpr Names kMkvVideo[] = {"h264", "hevc", "prores", "mpeg2video", "mpeg1video", "mpeg4",
                               "ffv1", "vp8",  "vp9",    "av1",        "mjpeg",      "theora"};
constexpr Names kMkvAudio[] = {"aac",       "mp3",       "mp2",       "ac3",       "eac3",
                               "opus",      "vorbis",    "flac",      "alac",      "pcm_s16le",
                               "pcm_s24le", "pcm_s32le", "pcm_s16be", "pcm_s24be", "pcm_f32le",
                               "dts",       "truehd"};
constexpr Names kMkvSubtitles[] = {
    "subrip", "ass", "webvtt", "dvd_subtitle", "hdmv_pgs_subtitle", "dvb_subtitle", "text"};
constexpr EncoderChoice kLosslessFallback[] = {{"ffv1", ""}};
constexpr Names kWebmEndings[] = {"webm"};
constexpr Names kWebmVideo[] = {"vp8", "vp9", "av1"};
constexpr Names kWebmAudio[] = {"opus", "vorbis"};
constexpr Names kWebmSubtitles[] = {"webvtt"};
constexpr EncoderChoice kWebmFallback[] = {{"libvpx-vp9", ""}, {"libaom-av1", ""}};

// AVI.
constexpr Names kAviEndings[] = {"avi"};
constexpr Names kAviVideo[] = {"h264",    "mpeg2video", "mpeg1video", "mpeg4",    "ffv1",
                               "vp8",     "vp9",        "mjpeg",      "rawvideo", "png",
                               "huffyuv", "ffvhuff",    "utvideo"};
constexpr Names kAviAudio[] = {"aac",  "mp3",  "mp2",       "ac3",
                               "eac3", "flac", "pcm_s16le", "pcm_s24le"};

// MXF: MPEG-2 and DNxHD/DNxHR video, PCM sound.
constexpr Names kMxfEndings[] = {"mxf"};
constexpr Names kMxfVideo[] = {"mpeg2video", "dnxhd", "h264"};
constexpr Names kMxfAudio[] = {"pcm_s16le", "pcm_s24le"};

// MPEG transport and program streams.
constexpr Names kTsEndings[] = {"ts", "mts", "m2ts"};
constexpr Names kTsVideo[] = {"mpeg2video", "mpeg1video", "h264", "hevc", "mpeg4"};
constexpr Names kTsAudio[] = {"mp2", "mp3", "aac", "ac3", "eac3", "opus"};
constexpr Names kTsSubtitles[] = {"dvb_subtitle"};
constexpr Names kTsData[] = {"timed_id3"};
constexpr Names kPsEndings[] = {"mpg", "mpeg"};
constexpr Names kPsVideo[] = {"mpeg1video", "mpeg2video", "h264"};
constexpr Names kPsAudio[] = {"mp2", "mp3"};
constexpr Names kPsSubtitles[] = {"dvd_subtitle"};

// NUT, FLV, Ogg.
constexpr Names kNutEndings[] = {"nut"};
constexpr Names kNutVideo[] = {"h264", "hevc", "mpeg2video", "mpeg1video", "mpeg4", "ffv1",   "vp8",
                               "vp9",  "av1",  "mjpeg",      "rawvideo",   "png",   "huffyuv"};
constexpr Names kNutAudio[] = {"aac",    "mp3",  "mp2",       "ac3",       "eac3",     "opus",
                               "vorbis", "flac", "pcm_s16le", "pcm_s24le", "pcm_f32le"};
constexpr Names kNutSubtitles[] = {"ass", "text"};
constexpr Names kFlvEndings[] = {"flv"};
// H.263 and MPEG-4 video are not among the codecs FLV itself defines: left out.
constexpr Names kFlvVideo[] = {"h264", "flv1"};
constexpr Names kFlvAudio[] = {"aac", "mp3"};
constexpr Names kOgvEndings[] = {"ogv"};
constexpr Names kOgvVideo[] = {"theora", "vp8"};
constexpr Names kOgvAudio[] = {"vorbis", "opus", "flac"};
constexpr EncoderChoice kOgvFallback[] = {{"libtheora", ""}, {"libvpx", ""}};

// Video codecs stored without composition times: AVI has none at all, and
// FFmpeg's MXF muxer writes H.264 without them.
constexpr Names kAviNoReordering[] = {"h264", "mpeg4", "mpeg2video", "mpeg1video"};
constexpr Names kMxfNoReordering[] = {"h264"};
// MXF: DNxHR HQ, a profile any frame size takes, which FFmpeg's MXF muxer
// writes as it should (it takes no ProRes).
constexpr EncoderChoice kMxfFallback[] = {{"dnxhd", "dnxhr_hq"}};

// One row a container: muxer, name, endings; the video, sound, subtitle and
// data codecs it holds, and whether attachments; its fallback encoders;
// whether time counts in frames, a start time is kept, a display matrix is
// kept; where the field order goes. Then: the encoder for sound it cannot
// hold and the one rate its muxer takes (0: any); the encoder for text
// subtitles it cannot hold; the codecs it stores without reordering; whether
// it keeps a codec delay apart, tags AVC-Intra sizes as AVC-Intra, holds an
// alpha side stream, starts a stream inside a packet through an edit list;
// the default encoder for frames from images without alpha (none: the
// fallback).
// clang-format off
constexpr ContainerPolicy kContainers[] = {
    {"mov", "QuickTime", kMovEndings, kMovVideo, kMovAudio, kMovSubtitles, {}, false,
     kMovFallback, false, true, true, FieldOrderStore::kStream,
     "aac", 0, "mov_text", {}, false, true, false, true, kMovImages},
    {"mp4", "MP4", kMp4Endings, kMp4Video, kMp4Audio, kMp4Subtitles, kMp4Data, false,
     kH264Fallback, false, true, true, FieldOrderStore::kStream,
     "aac", 0, "mov_text", {}, false, false, false, true, {}},
    {"ipod", "MP4 for iPod", kM4vEndings, kM4vVideo, kM4vAudio, kM4vSubtitles, {}, false,
     kH264Fallback, false, true, true, FieldOrderStore::kStream,
     "aac", 0, "mov_text", {}, false, false, false, true, {}},
    {"matroska", "Matroska", kMkvEndings, kMkvVideo, kMkvAudio, kMkvSubtitles, {}, true,
     kLosslessFallback, false, true, false, FieldOrderStore::kStream,
     "flac", 0, "ass", {}, true, false, true, false, {}},
    {"webm", "WebM", kWebmEndings, kWebmVideo, kWebmAudio, kWebmSubtitles, {}, false,
     kWebmFallback, false, true, false, FieldOrderStore::kStream,
     "libopus", 0, "webvtt", {}, true, false, true, false, {}},
    {"avi", "AVI", kAviEndings, kAviVideo, kAviAudio, {}, {}, false,
     kLosslessFallback, true, false, false, FieldOrderStore::kStream,
     "pcm_s16le", 0, "", kAviNoReordering, false, false, false, false, {}},
    {"mxf", "MXF", kMxfEndings, kMxfVideo, kMxfAudio, {}, {}, false,
     kMxfFallback, true, true, false, FieldOrderStore::kVideo,
     "pcm_s24le", 48000, "", kMxfNoReordering, false, false, false, false, {}},
    {"mpegts", "MPEG-TS", kTsEndings, kTsVideo, kTsAudio, kTsSubtitles, kTsData, false,
     kH264Fallback, false, true, false, FieldOrderStore::kVideo,
     "mp2", 0, "", {}, false, false, false, false, {}},
    {"mpeg", "MPEG-PS", kPsEndings, kPsVideo, kPsAudio, kPsSubtitles, {}, false,
     kMpeg2Fallback, false, true, false, FieldOrderStore::kVideo,
     "mp2", 0, "", {}, false, false, false, false, {}},
    {"nut", "NUT", kNutEndings, kNutVideo, kNutAudio, kNutSubtitles, {}, false,
     kLosslessFallback, false, true, false, FieldOrderStore::kNone,
     "flac", 0, "ass", {}, false, false, false, false, {}},
    {"flv", "FLV", kFlvEndings, kFlvVideo, kFlvAudio, {}, {}, false,
     kFlvFallback, false, true, false, FieldOrderStore::kNone,
     "aac", 0, "", {}, false, false, false, false, {}},
    {"ogv", "Ogg", kOgvEndings, kOgvVideo, kOgvAudio, {}, {}, false,
     kOgvFallback, false, true, false, FieldOrderStore::kNone,
     "libvorbis", 0, "", {}, false, false, false, false, {}},
};
// clang-format on

// encoder, counts in frames, captions, field coding, HDR10 parameters,
// rate, alpha beside the frames, the profile it is told when named for
// another codec's source.
// clang-format off
constexpr EncoderPolicy kEncoders[] = {
    {"libx264", false, true, true, false, RateRule::kQuality, false},
    {"libx265", false, false, false, true, RateRule::kQuality, false},
    {"libvpx-vp9", false, false, false, false, RateRule::kQuality, true},
    {"libvpx", false, false, false, false, RateRule::kQuality, true},
    {"mpeg2video", true, true, true, false, RateRule::kSourceRate, false},
    {"mpeg1video", true, false, false, false, RateRule::kSourceRate, false},
    {"mpeg4", true, false, false, false, RateRule::kQuality, false},
    {"prores_ks", false, false, true, false, RateRule::kProfile, false},
    {"dnxhd", false, false, true, false, RateRule::kProfile, false, "dnxhr_hq"},
};

// The profiles kept from the source, by FFmpeg's numbers (FF_PROFILE_*):
// codec, number, name, the encoder's option, the pixel format it codes,
// intra-only, defined by its rate. H.264's intra profiles are the others
// with bit 11 set, constrained baseline baseline with bit 9.
constexpr ProfileRule kProfiles[] = {
    {"prores", 0, "ProRes 422 Proxy", "proxy", ""},
    {"prores", 1, "ProRes 422 LT", "lt", ""},
    {"prores", 2, "ProRes 422", "standard", ""},
    {"prores", 3, "ProRes 422 HQ", "hq", ""},
    {"prores", 4, "ProRes 4444", "4444", ""},
    {"prores", 5, "ProRes 4444 XQ", "4444xq", ""},
    {"dnxhd", 0, "DNxHD", "dnxhd", "", false, true},
    {"dnxhd", 1, "DNxHR LB", "dnxhr_lb", "yuv422p"},
    {"dnxhd", 2, "DNxHR SQ", "dnxhr_sq", "yuv422p"},
    {"dnxhd", 3, "DNxHR HQ", "dnxhr_hq", "yuv422p"},
    {"dnxhd", 4, "DNxHR HQX", "dnxhr_hqx", "yuv422p10le"},
    {"dnxhd", 5, "DNxHR 444", "dnxhr_444", "yuv444p10le"},
    {"h264", 66, "Baseline", "baseline", ""},
    {"h264", 66 | 512, "Constrained Baseline", "baseline", ""},
    {"h264", 77, "Main", "main", ""},
    {"h264", 100, "High", "high", ""},
    {"h264", 110, "High 10", "high10", ""},
    {"h264", 110 | 2048, "High 10 Intra", "high10", "", true},
    {"h264", 122, "High 4:2:2", "high422", ""},
    {"h264", 122 | 2048, "High 4:2:2 Intra", "high422", "", true},
    {"h264", 244, "High 4:4:4 Predictive", "high444", ""},
    {"h264", 244 | 2048, "High 4:4:4 Intra", "high444", "", true},
    {"hevc", 1, "Main", "main", ""},
    {"hevc", 2, "Main 10", "main10", ""},
};
// clang-format on

// ProRes where the container holds none (MXF): DNxHR, profile for profile,
// in 10 bits from ProRes 422 HQ up.
constexpr NearestFormat kNearest[] = {
    {"prores", 0, "dnxhd", 1}, {"prores", 1, "dnxhd", 2}, {"prores", 2, "dnxhd", 3},
    {"prores", 3, "dnxhd", 4}, {"prores", 4, "dnxhd", 5}, {"prores", 5, "dnxhd", 5},
};

constexpr AlphaDecoder kAlphaDecoders[] = {{"vp8", "libvpx"}, {"vp9", "libvpx-vp9"}};

struct Preferred {
    std::string_view codec;
    std::string_view encoder;
};
constexpr Preferred kPreferredEncoders[] = {{"prores", "prores_ks"}};

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& ch : lower) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return lower;
}

bool Contains(std::span<const std::string_view> names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

std::span<const ContainerPolicy> MovieContainers() {
    return kContainers;
}

std::span<const EncoderPolicy> MovieEncoders() {
    return kEncoders;
}

std::span<const ProfileRule> MovieProfiles() {
    return kProfiles;
}

std::span<const NearestFormat> NearestFormats() {
    return kNearest;
}

const ContainerPolicy* ContainerFor(std::string_view target) {
    const std::size_t slash = target.find_last_of('/');
    const std::string_view name =
        slash == std::string_view::npos ? target : target.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return nullptr;
    const std::string ending = Lower(name.substr(dot + 1));
    for (const ContainerPolicy& container : kContainers) {
        if (Contains(container.endings, ending)) return &container;
    }
    return nullptr;
}

bool FfmpegWrites(const std::string& target) {
    return av_guess_format(nullptr, target.c_str(), nullptr) != nullptr;
}

EncoderPolicy EncoderRules(std::string_view encoder) {
    for (const EncoderPolicy& rules : kEncoders) {
        if (rules.encoder == encoder) return rules;
    }
    return {encoder};
}

bool Holds(const ContainerPolicy& container, StreamKind kind, std::string_view codec) {
    switch (kind) {
        case StreamKind::kVideo:
            return Contains(container.video, codec);
        case StreamKind::kAudio:
            return Contains(container.audio, codec);
        case StreamKind::kSubtitle:
            return Contains(container.subtitles, codec);
        case StreamKind::kData:
            return Contains(container.data, codec);
        case StreamKind::kAttachment:
            return container.attachments;
        case StreamKind::kOther:
            break;
    }
    return false;
}

const ProfileRule* ProfileFor(std::string_view codec, int profile) {
    for (const ProfileRule& rule : kProfiles) {
        if (rule.codec == codec && rule.profile == profile) return &rule;
    }
    return nullptr;
}

const ProfileRule* ProfileNamed(std::string_view codec, std::string_view option) {
    for (const ProfileRule& rule : kProfiles) {
        if (rule.codec == codec && rule.option == option) return &rule;
    }
    return nullptr;
}

const ProfileRule* ProfileCoding(std::string_view codec, std::string_view pixel_format) {
    for (const ProfileRule& rule : kProfiles) {
        if (rule.codec == codec && rule.pixel_format == pixel_format) return &rule;
    }
    return nullptr;
}

const ProfileRule* NearestFor(std::string_view codec, int profile) {
    for (const NearestFormat& nearest : kNearest) {
        if (nearest.from == codec && nearest.from_profile == profile) {
            return ProfileFor(nearest.to, nearest.to_profile);
        }
    }
    return nullptr;
}

std::string_view AlphaDecoderFor(std::string_view codec) {
    for (const AlphaDecoder& alpha : kAlphaDecoders) {
        if (alpha.codec == codec) return alpha.decoder;
    }
    return {};
}

std::string_view PreferredEncoder(std::string_view codec) {
    for (const Preferred& preferred : kPreferredEncoders) {
        if (preferred.codec == codec) return preferred.encoder;
    }
    return {};
}

int CodecThreads(int threads) {
    return threads + threads / 2;
}

}  // namespace render
