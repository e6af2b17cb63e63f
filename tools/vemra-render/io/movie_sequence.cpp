#include "tools/vemra-render/io/movie_sequence.h"

#include <OpenImageIO/imageio.h>
#include <fmt/format.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/parseutils.h>
}

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <set>

#include "tools/vemra-render/io/image_files_oiio.h"

namespace render {

namespace {

/// Two binary-coded decimal digits of `bits`, at `shift`, of `width` bits in all.
unsigned Bcd(unsigned bits, int shift, int width) {
    const unsigned value = (bits >> shift) & ((1u << width) - 1);
    return (value >> 4) * 10 + (value & 0xf);
}

/// An SMPTE timecode as OpenEXR and the image library pack it (its time
/// and flags word): hours, minutes, seconds and frames in binary-coded
/// decimal from the top byte down, bit 6 the drop-frame flag.
std::string TimecodeText(unsigned packed) {
    const bool drop = (packed >> 6) & 1;
    return fmt::format("{:02}:{:02}:{:02}{}{:02}", Bcd(packed, 24, 6), Bcd(packed, 16, 7),
                       Bcd(packed, 8, 7), drop ? ';' : ':', Bcd(packed, 0, 6));
}

/// The rate a header gives as a float (a DPX header's): the NTSC rates
/// (24, 30, 48, 60 and 120 x 1000/1001) as their exact ratios, others as
/// the nearest ratio of small numbers.
Rational RateOfFloat(float rate) {
    if (!(rate > 0) || !std::isfinite(rate)) return {};
    for (int base : {24, 30, 48, 60, 120}) {
        if (std::abs(double(rate) - base * 1000.0 / 1001.0) < 0.001) return {base * 1000, 1001};
    }
    const AVRational ratio = av_d2q(double(rate), 1001000);
    return {ratio.num, ratio.den};
}

}  // namespace

SequenceTiming TimingOf(const LoadedImage& first) {
    SequenceTiming timing;
    if (!first.header) return timing;
    const OIIO::ImageSpec& header = first.header->fields;
    timing.format_name = first.format_name;
    if (const OIIO::ParamValue* fps = header.find_attribute("FramesPerSecond");
        fps != nullptr && fps->type() == OIIO::TypeRational) {
        const int* ratio = static_cast<const int*>(fps->data());
        if (ratio[0] > 0 && ratio[1] > 0) timing.frame_rate = {ratio[0], ratio[1]};
    } else if (const OIIO::ParamValue* dpx = header.find_attribute("dpx:FrameRate");
               dpx != nullptr && dpx->type() == OIIO::TypeFloat) {
        timing.frame_rate = RateOfFloat(*static_cast<const float*>(dpx->data()));
    }
    if (const OIIO::ParamValue* timecode = header.find_attribute("smpte:TimeCode");
        timecode != nullptr && timecode->type() == OIIO::TypeTimeCode) {
        timing.timecode = TimecodeText(*static_cast<const unsigned*>(timecode->data()));
    }
    return timing;
}

std::vector<std::string> ImageFilesIn(const std::string& folder) {
    std::set<std::string> endings;
    for (const auto& [format, extensions] : OIIO::get_extension_map()) {
        for (const std::string& extension : extensions) endings.insert("." + extension);
    }
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::filesystem::path& path = entry.path();
        std::string ending = path.extension().string();
        for (char& c : ending) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (entry.is_regular_file(error) && path.filename().string()[0] != '.' &&
            endings.count(ending) != 0) {
            files.push_back(path.string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

Rational ParseFrameRate(const std::string& text) {
    AVRational rate{0, 1};
    if (av_parse_video_rate(&rate, text.c_str()) < 0 || rate.num <= 0 || rate.den <= 0) return {};
    return {rate.num, rate.den};
}

SourceDescription DescribeSequence(const SequenceVideo& video) {
    SourceDescription source;
    source.path = video.name;
    source.format_name = "image2";
    source.start_time = 0;
    const Rational rate = video.frame_rate;
    source.duration = av_rescale_q(video.frame_count, {rate.den, rate.num}, {1, AV_TIME_BASE});

    SourceStream stream;
    stream.index = 0;
    stream.kind = StreamKind::kVideo;
    AVCodecParameters& parameters = stream.parameters.edit();
    parameters.codec_type = AVMEDIA_TYPE_VIDEO;
    parameters.codec_id = AV_CODEC_ID_NONE;
    parameters.width = video.width;
    parameters.height = video.height;
    parameters.color_primaries = AVCOL_PRI_BT709;
    parameters.color_trc = AVCOL_TRC_BT709;
    parameters.color_space = AVCOL_SPC_BT709;
    parameters.color_range = AVCOL_RANGE_MPEG;
    stream.time_base = {rate.den, rate.num};
    stream.start_time = 0;
    stream.duration = video.frame_count;
    stream.avg_frame_rate = rate;
    stream.r_frame_rate = rate;
    if (!video.timecode.empty()) stream.metadata.emplace_back("timecode", video.timecode);
    source.streams.push_back(std::move(stream));

    SourceVideo& described = source.video;
    described.index = 0;
    described.width = video.width;
    described.height = video.height;
    described.type = video.type;
    described.has_alpha = video.has_alpha;
    described.frame_rate = rate;
    described.frame_count = video.frame_count;
    described.spacing = VideoSpacing{true, true};
    described.from_images = true;
    return source;
}

}  // namespace render
