// What the user asked vemra-render for: filled by the command line
// (app/command_line.h), checked as a whole by CheckOptions
// (option_checks.h), then followed by a job (jobs.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/vemra-render/io/movie_source.h"
#include "tools/vemra-render/io/stream_plan.h"
#include "tools/vemra-render/pixels/data_type.h"
#include "tools/vemra-render/pixels/image.h"
#include "tools/vemra-render/run/progress.h"
#include "tools/vemra-render/run/refusal.h"
#include "tools/vemra-render/session/host_kind.h"

namespace render {

/// Thrown for a command line that cannot be followed; the message says why.
/// A refusal, reported with a pointer to --help.
class UsageError : public std::runtime_error, public Refusal {
  public:
    using std::runtime_error::runtime_error;
};

/// The effect's controls as the command line gives them, in the units the
/// host's controls show; unset ones take the defaults the effect declares.
struct GivenControls {
    std::optional<double> temperature;
    std::optional<double> magenta;
    std::optional<double> opacity;  ///< percent
    std::optional<bool> clamp;
};

struct Options {
    std::vector<std::string> inputs;  ///< files, or one frame pattern
    std::string output;               ///< -o: a file, a frame pattern or a folder
    bool compare = false;             ///< write the before/after sheet too
    std::string compare_output;       ///< its name; empty: derived from the output's

    GivenControls controls;

    std::optional<HostKind> host;
    std::optional<Depth> depth;
    std::string plugin;  ///< empty: the effect library built beside the tool
    int threads = 1;     ///< threads in all: frames in flight share them out
    /// A movie's decoder and encoder each: CodecThreads(--threads)
    /// (io/movie_policy.h), or 0 for FFmpeg's
    /// own choice (VEMRA_CODEC_THREADS=auto, for comparisons).
    int codec_threads = 1;
    std::optional<int> in_flight;     ///< --in-flight; unset: planned (run/work_plan.h)
    std::uint64_t memory_budget = 0;  ///< --memory, bytes; 0: DefaultMemoryBudget()
    std::string compression;          ///< --compression; empty: see io/compression.h
    /// --data-type (-d): the type image files are written in; unset: the
    /// input's, as the format holds it (io/image_formats.h).
    std::optional<DataType> data_type;
    /// --channels: red, green, blue (and alpha) by name; empty: chosen (io/image_channels.h).
    std::vector<std::string> channels;
    /// --parts: the parts of a multi-part file to render; empty: every part with colour.
    std::vector<std::string> parts;

    std::string frames;  ///< --frames, e.g. "1-240"
    /// --start-number: the file number of a multi-frame input's first frame
    /// in the output pattern; unset: 1.
    std::optional<long> start_number;

    // A sequence in chunks, one per farm task (task_range.h).
    long chunk = 0;              ///< --chunk: frames per task; 0: the whole sequence
    std::string task_text;       ///< --task as given: a number, or "auto"
    std::optional<long> task;    ///< the task index it names (auto looked up), from 1
    bool print_tasks = false;    ///< --print-tasks: print the array range, render nothing
    bool skip_existing = false;  ///< leave frames whose outputs exist untouched
    bool keep_going = false;     ///< a failing frame does not stop the others
    std::optional<std::pair<int, int>> chart_size;

    std::optional<std::pair<int, int>> raw_size;  ///< --raw WIDTHxHEIGHT
    /// --pix-fmt as given: the raw frames' format (default "bgra"), or a
    /// movie output's (default: the writer's choice).
    std::optional<std::string> pix_fmt;

    // A movie output (io/movie_encoder.h).
    std::string codec;           ///< --codec; empty: the writer's default rule
    std::optional<int> quality;  ///< --quality
    /// --no-autorotate: a movie's frames stay as coded, whatever its display
    /// matrix says.
    bool no_autorotate = false;
    /// --audio and --subtitles: what becomes of a movie output's sound and
    /// subtitle streams (io/stream_plan.h).
    StreamHandling audio = StreamHandling::kAuto;
    StreamHandling subtitles = StreamHandling::kAuto;
    /// --start and --duration: the part of a movie rendered into a movie,
    /// in microseconds (io/movie_span.h); unset: from the start, to the end.
    std::optional<std::int64_t> start;
    std::optional<std::int64_t> duration;
    /// --audio-file: a sound file laid into the movie output (jobs/sound_file.h),
    /// --audio-offset where it starts against the first frame, in microseconds.
    std::string audio_file;
    std::optional<std::int64_t> audio_offset;
    /// --frame-rate: an image sequence's rate as a movie; unset: its own, else 24.
    std::optional<Rational> frame_rate;
    /// --color-matrix and --color-range: a movie output's YCbCr matrix and
    /// range (FFmpeg's names); empty: the source's, or BT.709 limited for
    /// frames from images.
    std::string color_matrix;
    std::string color_range;

    std::uint64_t max_pixels = kDefaultMaxPixels;
    bool overwrite_input = false;
    bool describe = false;
    bool quiet = false;
    ProgressStyle progress = ProgressStyle::kBar;  ///< --progress
};

/// The raw frames' pixel format when --pix-fmt names none.
inline constexpr const char* kDefaultRawPixFmt = "bgra";

}  // namespace render
