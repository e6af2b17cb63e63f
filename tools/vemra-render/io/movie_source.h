// What a movie writer takes from the movie it re-encodes: the demuxer's
// description of the source (its streams, metadata and chapters) and of its
// video, read when the writer is made. The packets of the streams it copies
// come separately, through CopiedPackets. Only io/ includes it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/pixels/image.h"

namespace render {

/// How a video's frames lie in time.
struct VideoSpacing {
    /// Every frame lies a whole frame of the stream's rate after the first,
    /// within a tick: a constant frame rate.
    bool even = false;
    /// And the first lies on that rate's grid too, so that every timestamp
    /// counted in frames is exact.
    bool on_grid = false;
};

struct MovieSource {
    std::string path;                            ///< for messages
    const AVFormatContext* container = nullptr;  ///< streams, metadata, chapters
    const AVStream* video = nullptr;             ///< the stream the frames come from
    /// The video's sample aspect ratio as FFmpeg reads it from stream and codec.
    AVRational sample_aspect_ratio{0, 1};
    int width = 0;
    int height = 0;
    SampleType type = SampleType::kUint8;  ///< of the decoded frames
    bool has_alpha = false;
    /// How the video's frames are spaced, as their timestamps say (not as
    /// the declared rates do). Asked only by a writer, and answered once:
    /// from the sample table where QuickTime and MP4 list every frame, else
    /// by reading the video's packets once more.
    std::function<VideoSpacing()> spacing;
    /// The display matrix the frames as delivered have; null: none (or the
    /// reader turned them upright).
    const std::int32_t* display_matrix = nullptr;
    /// HDR10's static metadata, from the stream or else from its first frame
    /// (MovieReader::Prime); null: none.
    const AVMasteringDisplayMetadata* mastering = nullptr;
    const AVContentLightMetadata* light_level = nullptr;
    /// What a re-encode cannot carry, for notes: a Dolby Vision
    /// configuration, HDR10+ dynamic metadata on the first frame.
    bool dolby_vision = false;
    bool hdr10_plus = false;
    /// The first frame carries A/53 closed captions.
    bool captions = false;
};

}  // namespace render
