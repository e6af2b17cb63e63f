// What a movie writer takes from the movie it re-encodes: the demuxer's
// description of the source (its streams, metadata and chapters) and of its
// video, read when the writer is made. The packets of the streams it copies
// come separately, through CopiedPackets. Only io/ includes it.
#pragma once

#include <string>

#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/pixels/image.h"

namespace render {

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
};

}  // namespace render
