// The movies the movie tests read, in one place: each made by ffmpeg in a
// line or two at test time, shaped as cameras, phones, broadcast and post
// houses deliver them (small: 320x240 or 64x48 and under a second, but for
// the AVC-Intra sizes), made once per test process on first use into a
// folder removed at its end.
#pragma once

#include <string>

namespace render_test {

/// The path of the fixture `name` (a name in movie_fixtures.cpp's table),
/// made on first use; a failure to make it fails the test and names it.
std::string MovieFixture(const std::string& name);

/// True when this ffmpeg has the encoder `name`.
bool HasEncoder(const std::string& name);

/// A movie of `frames` frames of 64x48 at 25 fps from ffmpeg's moving test
/// pattern, with a 440 Hz tone (AAC into .mp4, else PCM), colour tags of
/// BT.709 and the video coded as `codec_options` say.
void MakeTestMovie(const std::string& path, const std::string& codec_options, int frames);

/// ffprobe's CSV lines of `what` (its -show_entries and other options)
/// for the streams `select` names, without the empty fields and lines
/// ffprobe adds for side data.
std::string Ffprobe(const std::string& path, const std::string& what,
                    const std::string& select = "v:0");

}  // namespace render_test
