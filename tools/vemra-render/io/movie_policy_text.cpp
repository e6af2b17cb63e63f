// The movie policy table in words: the paragraph and the tables --help
// prints and docs/movies.md embeds, all made from the table itself.
#include <fmt/format.h>

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
    for (const EncoderPolicy& encoder : MovieEncoders()) {
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
    for (const ContainerPolicy& container : MovieContainers()) {
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
    for (const ContainerPolicy& c : MovieContainers()) {
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
        "\n| encoder | counts in frames | carries captions | codes fields | HDR10 parameters |\n"
        "|---|---|---|---|---|\n";
    for (const EncoderPolicy& e : MovieEncoders()) {
        const auto yes = [](bool value) { return value ? "yes" : ""; };
        table += fmt::format("| {} | {} | {} | {} | {} |\n", e.encoder, yes(e.counts_in_frames),
                             yes(e.captions), yes(e.field_coding), yes(e.hdr_parameters));
    }
    return table;
}

}  // namespace render
