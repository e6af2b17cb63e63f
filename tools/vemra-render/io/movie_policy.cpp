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
// H.263 and MPEG-4 video are outside FLV's own specification: left out.
constexpr Names kFlvVideo[] = {"h264", "flv1"};
constexpr Names kFlvAudio[] = {"aac", "mp3"};
constexpr Names kOgvEndings[] = {"ogv"};
constexpr Names kOgvVideo[] = {"theora", "vp8"};
constexpr Names kOgvAudio[] = {"vorbis", "opus", "flac"};
constexpr EncoderChoice kOgvFallback[] = {{"libtheora", ""}, {"libvpx", ""}};

// One row a container: muxer, name, endings; the video, sound, subtitle and
// data codecs it holds, and whether attachments; its fallback encoders;
// whether time counts in frames, a start time is kept, a display matrix is
// kept; where the field order goes.
// clang-format off
constexpr ContainerPolicy kContainers[] = {
    {"mov", "QuickTime", kMovEndings, kMovVideo, kMovAudio, kMovSubtitles, {}, false,
     kMovFallback, false, true, true, FieldOrderStore::kStream},
    {"mp4", "MP4", kMp4Endings, kMp4Video, kMp4Audio, kMp4Subtitles, kMp4Data, false,
     kH264Fallback, false, true, true, FieldOrderStore::kStream},
    {"ipod", "MP4 for iPod", kM4vEndings, kM4vVideo, kM4vAudio, kM4vSubtitles, {}, false,
     kH264Fallback, false, true, true, FieldOrderStore::kStream},
    {"matroska", "Matroska", kMkvEndings, kMkvVideo, kMkvAudio, kMkvSubtitles, {}, true,
     kLosslessFallback, false, true, false, FieldOrderStore::kStream},
    {"webm", "WebM", kWebmEndings, kWebmVideo, kWebmAudio, kWebmSubtitles, {}, false,
     kWebmFallback, false, true, false, FieldOrderStore::kStream},
    {"avi", "AVI", kAviEndings, kAviVideo, kAviAudio, {}, {}, false,
     kLosslessFallback, true, false, false, FieldOrderStore::kStream},
    {"mxf", "MXF", kMxfEndings, kMxfVideo, kMxfAudio, {}, {}, false,
     kMpeg2Fallback, true, true, false, FieldOrderStore::kVideo},
    {"mpegts", "MPEG-TS", kTsEndings, kTsVideo, kTsAudio, kTsSubtitles, kTsData, false,
     kH264Fallback, false, true, false, FieldOrderStore::kVideo},
    {"mpeg", "MPEG-PS", kPsEndings, kPsVideo, kPsAudio, kPsSubtitles, {}, false,
     kMpeg2Fallback, false, true, false, FieldOrderStore::kVideo},
    {"nut", "NUT", kNutEndings, kNutVideo, kNutAudio, kNutSubtitles, {}, false,
     kLosslessFallback, false, true, false, FieldOrderStore::kNone},
    {"flv", "FLV", kFlvEndings, kFlvVideo, kFlvAudio, {}, {}, false,
     kFlvFallback, false, true, false, FieldOrderStore::kNone},
    {"ogv", "Ogg", kOgvEndings, kOgvVideo, kOgvAudio, {}, {}, false,
     kOgvFallback, false, true, false, FieldOrderStore::kNone},
};
// clang-format on

constexpr EncoderPolicy kEncoders[] = {
    {"libx264", false, true, true, false},   {"libx265", false, false, false, true},
    {"mpeg2video", true, true, true, false}, {"mpeg1video", true, false, false, false},
    {"mpeg4", true, false, false, false},    {"prores_ks", false, false, true, false},
    {"dnxhd", false, false, true, false},
};

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

namespace render {

namespace {

std::string Joined(std::span<const std::string_view> names, std::string_view separator = " ") {
    std::string joined;
    for (std::string_view name : names) {
        if (!joined.empty()) joined += separator;
        joined += name;
    }
    return joined;
}

std::string Endings(const ContainerPolicy& container) {
    std::string endings;
    for (std::string_view ending : container.endings) {
        endings += endings.empty() ? "." : " .";
        endings += ending;
    }
    return endings;
}

std::string Fallback(const ContainerPolicy& container) {
    std::string fallback;
    for (const EncoderChoice& choice : container.fallback) {
        if (!fallback.empty()) fallback += ", else ";
        fallback += choice.encoder;
        if (!choice.profile.empty()) fallback += fmt::format(" ({})", choice.profile);
    }
    return fallback;
}

std::string_view FieldOrderText(FieldOrderStore store) {
    switch (store) {
        case FieldOrderStore::kStream:
            return "in the stream";
        case FieldOrderStore::kVideo:
            return "in the coded video";
        case FieldOrderStore::kNone:
            break;
    }
    return "not kept";
}

/// The encoders with a rule, as "a, b and c".
std::string EncodersWith(bool EncoderPolicy::*rule) {
    std::vector<std::string_view> names;
    for (const EncoderPolicy& encoder : kEncoders) {
        if (encoder.*rule) names.push_back(encoder.encoder);
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

/// The containers with a rule, as their first endings.
std::string ContainersWith(bool ContainerPolicy::*rule, bool value) {
    std::string text;
    for (const ContainerPolicy& container : kContainers) {
        if (container.*rule != value) continue;
        if (!text.empty()) text += " ";
        text += '.';
        text += container.endings.front();
    }
    return text;
}

}  // namespace

std::string MoviePolicyRules() {
    return fmt::format(
        "A movie output keeps the source's frame rate, each frame's timestamp and duration "
        "(evenly spaced frames are counted in frames, others in the stream's own ticks, down to "
        "the container's clock), the start time (where the container holds one; elsewhere a "
        "note says the movie starts at 0: {}), the sample aspect ratio, the colour tags "
        "(primaries, transfer, and matrix, range and chroma siting for YCbCr outputs), HDR10's "
        "mastering display and light level (in the stream, and for {} in its own parameters), "
        "an hvc1 tag, the stream dispositions, the container and stream metadata including a "
        "timecode, and the chapters. Time counts in whole frames for {} and in {}, which refuse "
        "frames that are not evenly spaced. Interlaced video keeps its field order and is coded "
        "as fields by {}; 4:2:0 interlaced video is converted to RGBA as progressive frames, as "
        "ffmpeg's default is (its chroma mixes between the fields). A display matrix (a phone "
        "held upright) is kept with the frames as coded in {}; into other containers and image "
        "files the frames are turned upright losslessly (quarter turns and mirrors; other "
        "angles are refused) with a note, unless --no-autorotate. A/53 closed captions go "
        "through {}; other encoders drop them, with a note, and Dolby Vision configurations and "
        "HDR10+ dynamic metadata never survive a re-encode (a note names them). Sound, subtitle "
        "and data streams are copied packet for packet where the container holds their codec "
        "(below): sound or subtitles it cannot hold are refused, data it cannot hold is "
        "dropped; attachments (fonts) are copied into the containers that hold them; a "
        "QuickTime timecode track is rebuilt from the timecode; every video stream but the one "
        "rendered (cover art, other angles) is dropped. The video is re-encoded: by default "
        "with the source's codec where this FFmpeg has an encoder for it and the container "
        "holds it (ProRes with prores_ks), else with the container's fallback (below); in the "
        "source's pixel format where the encoder takes it, else the encoder's nearest to the "
        "rendered frames.",
        ContainersWith(&ContainerPolicy::start_time, false),
        EncodersWith(&EncoderPolicy::hdr_parameters),
        EncodersWith(&EncoderPolicy::counts_in_frames),
        ContainersWith(&ContainerPolicy::counts_in_frames, true),
        EncodersWith(&EncoderPolicy::field_coding),
        ContainersWith(&ContainerPolicy::display_matrix, true),
        EncodersWith(&EncoderPolicy::captions));
}

std::string MoviePolicyHelp() {
    std::string text;
    for (const ContainerPolicy& c : kContainers) {
        text += fmt::format(
            "  {} ({}): video {}; sound {}; subtitles {}{}{}. Fallback: {}. Start time {}, "
            "display matrix {}, time in {}, field order {}.\n",
            c.name, Endings(c), Joined(c.video), c.audio.empty() ? "none" : Joined(c.audio),
            c.subtitles.empty() ? "none" : Joined(c.subtitles),
            c.data.empty() ? "" : "; data " + Joined(c.data), c.attachments ? "; attachments" : "",
            Fallback(c), c.start_time ? "kept" : "not kept", c.display_matrix ? "kept" : "not kept",
            c.counts_in_frames ? "frames" : "the stream's clock", FieldOrderText(c.field_order));
    }
    return text;
}

std::string MoviePolicyMarkdown() {
    std::string table =
        "| container | endings | video it holds | sound | subtitles, data, attachments | "
        "fallback encoder | start time | display matrix | time | field order |\n"
        "|---|---|---|---|---|---|---|---|---|---|\n";
    for (const ContainerPolicy& c : kContainers) {
        std::string other = Joined(c.subtitles);
        if (!c.data.empty()) {
            other += fmt::format("{}data {}", other.empty() ? "" : "; ", Joined(c.data));
        }
        if (c.attachments) other += other.empty() ? "attachments" : "; attachments";
        table +=
            fmt::format("| {} | {} | {} | {} | {} | {} | {} | {} | {} | {} |\n", c.name, Endings(c),
                        Joined(c.video), Joined(c.audio), other, Fallback(c),
                        c.start_time ? "kept" : "not kept", c.display_matrix ? "kept" : "not kept",
                        c.counts_in_frames ? "frames" : "clock", FieldOrderText(c.field_order));
    }
    table +=
        "\n| encoder | counts in frames | carries captions | codes fields | HDR10 parameters |\n"
        "|---|---|---|---|---|\n";
    for (const EncoderPolicy& e : kEncoders) {
        const auto yes = [](bool value) { return value ? "yes" : ""; };
        table += fmt::format("| {} | {} | {} | {} | {} |\n", e.encoder, yes(e.counts_in_frames),
                             yes(e.captions), yes(e.field_coding), yes(e.hdr_parameters));
    }
    return table;
}

}  // namespace render
