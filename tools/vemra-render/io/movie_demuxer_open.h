// Opening a movie for the demuxer (movie_demuxer.h), and the checks made
// before FFmpeg reads a byte of it: the frame size a header declares, held
// to --max-pixels before anything is allocated for it, and an animated
// image cut short. Then the open itself, under the format and protocol
// whitelists, with FFmpeg's log watched from the start. Only the demuxer
// includes it.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdint>
#include <memory>
#include <string>

#include "tools/vemra-render/io/movie_demuxer.h"
#include "tools/vemra-render/run/library_log.h"

namespace render {

struct FormatInputDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
/// A demuxer opened with avformat_open_input.
using InputPtr = std::unique_ptr<AVFormatContext, FormatInputDeleter>;

/// Opens the demuxer over `io` or, when it is null, the local file `name`:
/// only with a demuxer of movie_formats.h, only local files for anything it
/// opens, and within `probe`'s bounds; `watch` takes what it logs. A local
/// file is checked first (see above): MovieRefused for a size above
/// `max_pixels`, DemuxError for an animated image cut short. A `sound`
/// file (--audio-file) may be in a sound format too.
InputPtr OpenMovieInput(const std::string& name, AVIOContext* io, const MovieProbe& probe,
                        std::uint64_t max_pixels, std::unique_ptr<LogWatch>& watch,
                        bool sound = false);

}  // namespace render
