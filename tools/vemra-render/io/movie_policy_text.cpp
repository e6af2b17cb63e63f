// The movie policy table in words: the paragraph and the tables --help
// prints and docs/movies.md embeds, all made from the table itself.
#include <fmt/format.h>

#include <vector>

#include "tools/vemra-render/io/movie_policy.h"

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

/// `names` as "a, b and c".
std::string Listed(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

std::string Endings(const ContainerPolicy& container) {
    std::string endings;
    for (std::string_view ending : container.endings) {
        endings += endings.empty() ? "." : " .";
        endings += ending;
    }
    return endings;
}

std::string Choices(std::span<const EncoderChoice> choices) {
    std::string fallback;
    for (const EncoderChoice& choice : choices) {
        if (!fallback.empty()) fallback += ", else ";
        fallback += choice.encoder;
        if (!choice.profile.empty() && !choice.pixel_format.empty()) {
            fallback += fmt::format(" ({}, {})", choice.profile, choice.pixel_format);
        } else if (!choice.profile.empty()) {
            fallback += fmt::format(" ({})", choice.profile);
        }
    }
    return fallback;
}

std::string Fallback(const ContainerPolicy& container) {
    return Choices(container.fallback);
}

/// The default for frames from images without alpha, in words.
std::string ImagesText(const ContainerPolicy& container) {
    return container.images.empty() ? "the fallback" : Choices(container.images);
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

std::string_view RateText(RateRule rate) {
    switch (rate) {
        case RateRule::kQuality:
            return "its own quality, or --quality";
        case RateRule::kProfile:
            return "the profile";
        case RateRule::kSourceRate:
            break;
    }
    return "the source's rate";
}

/// What a container converts sound it cannot hold to, in words.
std::string SoundText(const ContainerPolicy& c) {
    if (c.audio_encoder.empty()) return "left out";
    return c.audio_rate == 0 ? std::string(c.audio_encoder)
                             : fmt::format("{} at {} Hz", c.audio_encoder, c.audio_rate);
}

/// The encoders with a rule, as "a, b and c".
template <typename Rule>
std::string EncodersWith(Rule EncoderPolicy::*rule, Rule value) {
    std::vector<std::string> names;
    for (const EncoderPolicy& encoder : MovieEncoders()) {
        if (encoder.*rule == value) names.emplace_back(encoder.encoder);
    }
    return Listed(names);
}

/// The containers with a rule, as their first endings.
std::string ContainersWith(bool ContainerPolicy::*rule, bool value) {
    std::string text;
    for (const ContainerPolicy& container : MovieContainers()) {
        if (container.*rule != value) continue;
        if (!text.empty()) text += " ";
        text += '.';
        text += container.endings.front();
    }
    return text;
}

/// The codecs each container stores without reordering, as ".avi: h264 ...; .mxf: h264".
std::string NoReordering() {
    std::vector<std::string> parts;
    for (const ContainerPolicy& c : MovieContainers()) {
        if (!c.no_reordering.empty()) {
            parts.push_back(fmt::format(".{} ({})", c.endings.front(), Joined(c.no_reordering)));
        }
    }
    return Listed(parts);
}

/// The codecs whose profiles are kept, as "prores, dnxhd, h264 and hevc".
std::string CodecsWithProfiles() {
    std::vector<std::string> codecs;
    for (const ProfileRule& rule : MovieProfiles()) {
        if (codecs.empty() || codecs.back() != rule.codec) codecs.emplace_back(rule.codec);
    }
    return Listed(codecs);
}

/// The containers' sample-rate rules, as ".mxf 48000 Hz".
std::string SoundRates() {
    std::vector<std::string> parts;
    for (const ContainerPolicy& c : MovieContainers()) {
        if (c.audio_rate != 0)
            parts.push_back(fmt::format(".{} {} Hz", c.endings.front(), c.audio_rate));
    }
    return Listed(parts);
}

}  // namespace

std::string MoviePolicyRules() {
    return fmt::format(
        "A movie output keeps the source's frame rate, each frame's timestamp and duration "
        "(evenly spaced frames are counted in frames, others in the stream's own ticks, down to "
        "the container's clock), the start time (where the container holds one; where it holds "
        "none, {}, every stream moves back together by the file's start, with a note), the "
        "sample aspect ratio, the colour tags (primaries, transfer, and matrix, range and "
        "chroma siting for YCbCr outputs, set on the encoder and on every frame, so that the "
        "coded video and the container say the same; dnxhd codes none, and DNxHR's live in "
        "the container), HDR10's mastering display and light level (in the stream, and for {} "
        "in its own parameters), an hvc1 tag, the stream dispositions, the container and stream "
        "metadata including a timecode, and the chapters. A part of a movie (--start, "
        "--duration, --frames) starts where the movie starts, its timecode moved with its first "
        "frame; copied sound and subtitles cover the same span, the start exact through an edit "
        "list in {}, else at the first packet within the span (a note says by how much), the "
        "end at the next packet boundary; sound that is converted is cut to the sample. Time "
        "counts in whole frames for {} and "
        "in {}, which refuse frames that are not evenly spaced (told by the timestamps: the "
        "presentation times where every packet has one, else the decoding times). Interlaced "
        "video keeps its field order and is coded as fields by {}; 4:2:0 interlaced video is "
        "converted to RGBA as progressive frames, as ffmpeg's default is. A display matrix (a "
        "phone held upright) is kept with the frames as coded in {}; into other containers and "
        "image files the frames are turned upright losslessly (quarter turns and mirrors; other "
        "angles are refused) with a note, unless --no-autorotate. A/53 closed captions go "
        "through {}; other encoders drop them, with a note, and Dolby Vision configurations and "
        "HDR10+ dynamic metadata never survive a re-encode (a note names them). The video is "
        "re-encoded: by default with the source's codec where this FFmpeg has an encoder for it "
        "and the container holds it (ProRes with prores_ks), with its profile ({}: the table "
        "below), its bit depth and chroma (the source's pixel format where the encoder takes "
        "it, else the encoder's nearest to the rendered frames); where the container cannot "
        "hold the codec, with the nearest format the table names, else the container's "
        "fallback, and a note says what changed. Frames that come from images (an "
        "image sequence, an animated GIF or PNG) have no codec to keep: they take the "
        "container's default for images (below; for frames with alpha, the fallback). The rate is "
        "the source's (its bit rate, "
        "maximum and buffer) for {}, the profile's for {}, and the encoder's own quality for "
        "the others, unless --quality. The encoder says whether it takes the frame size: an "
        "odd one it refuses is refused in one line naming --pix-fmt or a crop. Frames are coded "
        "in display order (no B-frames) where the container stores no composition times: {}. "
        "H.264 in {} keeps its avc1 tag at AVC-Intra sizes. Alpha is kept wherever the output "
        "holds it (for {} only in {}, which hold their alpha side stream; VP8 and VP9 tagged "
        "alpha_mode=1 are read through libvpx's decoders); elsewhere a note says it is "
        "dropped. Sound, subtitle and data streams are copied packet for packet where the "
        "container holds their codec (and, for sound, the rate its muxer takes: {}); "
        "otherwise sound is converted to the container's own codec and text subtitles to its "
        "text format (below), bitmap subtitles and text ones without a format are left out, "
        "each with a note, and data is left out (--audio and --subtitles copy, convert or "
        "none choose otherwise); attachments (fonts) go into {}; Opus's codec delay, which {} "
        "keep apart, is counted once, so a second pass moves nothing; a QuickTime timecode "
        "track is rebuilt from the timecode; every video stream but the one rendered (cover "
        "art, other angles) is dropped. Only sound and video streams are held to the duration "
        "a file declares: chapters, cover art, data and subtitles may end early or start late.",
        ContainersWith(&ContainerPolicy::start_time, false),
        EncodersWith(&EncoderPolicy::hdr_parameters, true),
        ContainersWith(&ContainerPolicy::edit_list, true),
        EncodersWith(&EncoderPolicy::counts_in_frames, true),
        ContainersWith(&ContainerPolicy::counts_in_frames, true),
        EncodersWith(&EncoderPolicy::field_coding, true),
        ContainersWith(&ContainerPolicy::display_matrix, true),
        EncodersWith(&EncoderPolicy::captions, true), CodecsWithProfiles(),
        EncodersWith(&EncoderPolicy::rate, RateRule::kSourceRate),
        EncodersWith(&EncoderPolicy::rate, RateRule::kProfile), NoReordering(),
        ContainersWith(&ContainerPolicy::avc_intra_tags, true),
        EncodersWith(&EncoderPolicy::alpha_side_stream, true),
        ContainersWith(&ContainerPolicy::alpha_side_stream, true), SoundRates(),
        ContainersWith(&ContainerPolicy::attachments, true),
        ContainersWith(&ContainerPolicy::codec_delay_apart, true));
}

std::string MoviePolicyHelp() {
    std::string text;
    for (const ContainerPolicy& c : MovieContainers()) {
        text += fmt::format(
            "  {} ({}): video {}; sound {}; subtitles {}{}{}. Fallback: {}; for frames from images "
            "without alpha: {}. Sound it cannot hold becomes {}; text subtitles {}. Start time {}, "
            "display matrix {}, time in {}, field order {}, edit list {}.\n",
            c.name, Endings(c), Joined(c.video), c.audio.empty() ? "none" : Joined(c.audio),
            c.subtitles.empty() ? "none" : Joined(c.subtitles),
            c.data.empty() ? "" : "; data " + Joined(c.data), c.attachments ? "; attachments" : "",
            Fallback(c), ImagesText(c), SoundText(c),
            c.text_subtitle_encoder.empty() ? "left out" : c.text_subtitle_encoder,
            c.start_time ? "kept" : "not kept", c.display_matrix ? "kept" : "not kept",
            c.counts_in_frames ? "frames" : "the stream's clock", FieldOrderText(c.field_order),
            c.edit_list ? "yes" : "no");
    }
    text += "  Profiles kept:";
    for (const ProfileRule& rule : MovieProfiles()) {
        text += fmt::format(" {} ({} {}),", rule.name, rule.codec, rule.option);
    }
    text.back() = '.';
    text += " Nearest formats:";
    for (const NearestFormat& nearest : NearestFormats()) {
        const ProfileRule* from = ProfileFor(nearest.from, nearest.from_profile);
        const ProfileRule* to = ProfileFor(nearest.to, nearest.to_profile);
        if (from != nullptr && to != nullptr)
            text += fmt::format(" {} as {},", from->name, to->name);
    }
    text.back() = '.';
    return text + "\n";
}

namespace {

std::string ContainerTables() {
    std::string table =
        "| container | endings | video it holds | sound | subtitles, data, attachments | "
        "fallback encoder | start time | display matrix | time | field order |\n"
        "|---|---|---|---|---|---|---|---|---|---|\n";
    for (const ContainerPolicy& c : MovieContainers()) {
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
        "\n| container | sound it cannot hold becomes | text subtitles it cannot hold become | "
        "coded without reordering | Opus codec delay | VP8/VP9 alpha | H.264 at AVC-Intra "
        "sizes | frames from images without alpha | a part's sound starts |\n"
        "|---|---|---|---|---|---|---|---|---|\n";
    for (const ContainerPolicy& c : MovieContainers()) {
        table += fmt::format(
            "| {} | {} | {} | {} | {} | {} | {} | {} | {} |\n", c.name, SoundText(c),
            c.text_subtitle_encoder.empty() ? "left out" : c.text_subtitle_encoder,
            Joined(c.no_reordering), c.codec_delay_apart ? "kept apart, counted once" : "",
            c.alpha_side_stream ? "kept" : "", c.avc_intra_tags ? "avc1 kept" : "", ImagesText(c),
            c.edit_list ? "exactly (edit list)" : "at a packet boundary");
    }
    return table;
}

std::string FormatTables() {
    const auto yes = [](bool value) { return value ? "yes" : ""; };
    std::string table =
        "\n| encoder | counts in frames | carries captions | codes fields | HDR10 parameters | "
        "rate | alpha beside the frames | named for another codec |\n"
        "|---|---|---|---|---|---|---|---|\n";
    for (const EncoderPolicy& e : MovieEncoders()) {
        table += fmt::format("| {} | {} | {} | {} | {} | {} | {} | {} |\n", e.encoder,
                             yes(e.counts_in_frames), yes(e.captions), yes(e.field_coding),
                             yes(e.hdr_parameters), RateText(e.rate), yes(e.alpha_side_stream),
                             e.default_profile);
    }
    table +=
        "\n| codec | FFmpeg's profile | kept as | encoder's profile | pixel format | "
        "intra only | defined by its rate |\n|---|---|---|---|---|---|---|\n";
    for (const ProfileRule& r : MovieProfiles()) {
        table += fmt::format("| {} | {} | {} | {} | {} | {} | {} |\n", r.codec, r.profile, r.name,
                             r.option, r.pixel_format.empty() ? "the source's" : r.pixel_format,
                             yes(r.intra), r.source_rate ? "the source's kept" : "");
    }
    table += "\n| source | into a container that cannot hold it |\n|---|---|\n";
    for (const NearestFormat& nearest : NearestFormats()) {
        const ProfileRule* from = ProfileFor(nearest.from, nearest.from_profile);
        const ProfileRule* to = ProfileFor(nearest.to, nearest.to_profile);
        if (from != nullptr && to != nullptr) {
            table +=
                fmt::format("| {} | {} ({} {}) |\n", from->name, to->name, to->codec, to->option);
        }
    }
    return table;
}

}  // namespace

std::string MoviePolicyMarkdown() {
    return ContainerTables() + FormatTables();
}

}  // namespace render
