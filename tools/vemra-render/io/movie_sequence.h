// An image sequence as a movie output sees it: the rate and timecode its
// first frame's header gives (an OpenEXR file's framesPerSecond and
// timeCode, a DPX header's frame rate and timecode), and the description
// the movie encoder and muxer take in place of a demuxer's
// (movie_source.h): one video stream of frames from images, evenly spaced
// at the rate, tagged BT.709 and limited range, the timecode its own.
#pragma once

#include <string>
#include <vector>

#include "tools/vemra-render/io/image_files.h"
#include "tools/vemra-render/io/movie_source.h"

namespace render {

/// What an image file's header says of the sequence it belongs to.
struct SequenceTiming {
    Rational frame_rate;      ///< invalid: the header gives none
    std::string timecode;     ///< "HH:MM:SS:FF" (";" before FF: drop-frame); empty: none
    std::string format_name;  ///< the image library's name of its format: "openexr", "dpx"
};

/// The timing the header of `first`, a sequence's first frame as read,
/// gives.
SequenceTiming TimingOf(const LoadedImage& first);

/// The image files in `folder` that the image library reads (by their
/// endings), by name; hidden files and subfolders left out. Empty for a
/// folder that holds none or cannot be listed.
std::vector<std::string> ImageFilesIn(const std::string& folder);

/// A frame rate as ffmpeg reads -framerate: a number ("25", "23.976"), a
/// ratio ("24000/1001") or a name ("ntsc", "film"); invalid for anything
/// else and for a rate not above 0.
Rational ParseFrameRate(const std::string& text);

/// The frames of a sequence, as the movie output takes them.
struct SequenceVideo {
    std::string name;  ///< the pattern or the first file, for messages
    int width = 0;
    int height = 0;
    SampleType type = SampleType::kUint8;
    bool has_alpha = false;
    Rational frame_rate;
    long frame_count = 0;
    std::string timecode;  ///< of the first frame; empty: none
};

/// The description of `video` as a movie's source: frame k (from 0) at
/// time k in a time base of one frame, lasting one; BT.709 primaries,
/// transfer and matrix, limited range.
SourceDescription DescribeSequence(const SequenceVideo& video);

}  // namespace render
