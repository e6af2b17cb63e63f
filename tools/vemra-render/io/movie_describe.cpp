#include "tools/vemra-render/io/movie_describe.h"

#include <algorithm>
#include <cmath>

namespace render::movie {

Metadata ToMetadata(const AVDictionary* dictionary) {
    Metadata metadata;
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(dictionary, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr) {
        metadata.emplace_back(entry->key, entry->value);
    }
    return metadata;
}

StreamKind KindOf(AVMediaType type) {
    switch (type) {
        case AVMEDIA_TYPE_VIDEO:
            return StreamKind::kVideo;
        case AVMEDIA_TYPE_AUDIO:
            return StreamKind::kAudio;
        case AVMEDIA_TYPE_SUBTITLE:
            return StreamKind::kSubtitle;
        case AVMEDIA_TYPE_DATA:
            return StreamKind::kData;
        case AVMEDIA_TYPE_ATTACHMENT:
            return StreamKind::kAttachment;
        default:
            return StreamKind::kOther;
    }
}

/// The display matrix `m` as the ffmpeg program reads it (its turn,
/// clockwise, 0 to 360), and the lossless turn it makes for it.
DisplayMatrix ReadDisplayMatrix(const std::int32_t* m) {
    DisplayMatrix matrix;
    matrix.present = true;
    std::copy(m, m + 9, matrix.values.begin());
    matrix.rotation = std::round(av_display_rotation_get(m));
    double theta = -matrix.rotation;
    theta -= 360 * std::floor(theta / 360 + 0.9 / 360);
    if (std::abs(theta - 90) < 1) {
        matrix.upright = {true, false, m[3] <= 0};
    } else if (std::abs(theta - 180) < 1) {
        matrix.upright = {false, m[0] < 0, m[4] < 0};
    } else if (std::abs(theta - 270) < 1) {
        matrix.upright = {true, true, m[3] < 0};
    } else if (std::abs(theta) < 1) {
        matrix.upright = {false, false, m[4] < 0};
    } else {
        matrix.whole_turn = false;
    }
    return matrix;
}

/// True for a stream that must last as long as the file says: sound and
/// video, but not cover art nor a stream the demuxer does not read.
bool HeldToDuration(const SourceStream& stream) {
    return (stream.kind == StreamKind::kAudio || stream.kind == StreamKind::kVideo) &&
           !stream.attached_picture && !stream.discarded;
}

VideoSpacing SpacingOfStamps(std::vector<std::int64_t> stamps, Rational rate, Rational time_base) {
    if (stamps.empty() || !rate.valid()) return {};
    // Frame k lies within a tick of the first plus k frames.
    std::sort(stamps.begin(), stamps.end());
    const double frame =
        double(rate.den) / double(rate.num) / (double(time_base.num) / double(time_base.den));
    for (std::size_t k = 0; k < stamps.size(); ++k) {
        const double expected = double(stamps.front()) + double(k) * frame;
        if (std::abs(double(stamps[k]) - expected) > 1.0) return {};
    }
    const double first = double(stamps.front()) / frame;
    return {true, std::abs(first - std::round(first)) * frame <= 1.0};
}

}  // namespace render::movie
