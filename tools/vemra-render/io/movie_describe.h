// What the movie demuxer uses to describe a file in the plain values of
// movie_source.h: FFmpeg's rationals, dictionaries, media types and display
// matrices turned into the tool's, and how evenly a video's timestamps lie.
// Only the demuxer includes it.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/io/movie_source.h"

namespace render::movie {

inline Rational ToRational(AVRational value) {
    return {value.num, value.den};
}

/// The entries of `dictionary`, in its order.
Metadata ToMetadata(const AVDictionary* dictionary);

StreamKind KindOf(AVMediaType type);

/// The display matrix `m` as the ffmpeg program reads it (its turn,
/// clockwise, 0 to 360), and the lossless turn it makes for it.
DisplayMatrix ReadDisplayMatrix(const std::int32_t* m);

/// True for a stream that must last as long as the file says: sound and
/// video, but not cover art nor a stream the demuxer does not read.
bool HeldToDuration(const SourceStream& stream);

/// How the video timestamps `stamps` (in `time_base`) lie at `rate`: even
/// when frame k lies within a tick of the first plus k frames, on the grid
/// when the first does too.
VideoSpacing SpacingOfStamps(std::vector<std::int64_t> stamps, Rational rate, Rational time_base);

}  // namespace render::movie
