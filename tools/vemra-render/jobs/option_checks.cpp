#include "tools/vemra-render/jobs/option_checks.h"

#include <fmt/format.h>

#include "tools/vemra-render/io/encoder_choice.h"
#include "tools/vemra-render/io/movie_formats.h"
#include "tools/vemra-render/io/raw_frames.h"

namespace render {

namespace {

void CheckRawOptions(const Options& options) {
    if (!options.raw_size) {
        if (options.pix_fmt && !IsMoviePath(options.output)) {
            throw UsageError("--pix-fmt goes with --raw or a movie output");
        }
        return;
    }
    if (!options.inputs.empty() || !options.output.empty() || options.compare) {
        throw UsageError(
            "--raw reads standard input and writes standard output: give no files, -o or "
            "--compare");
    }
    try {
        FindRawFormat(options.pix_fmt.value_or(kDefaultRawPixFmt));
    } catch (const RawError& e) {
        throw UsageError(fmt::format("--pix-fmt: {}", e.what()));
    }
}

/// The options of a movie output alone, and how they go together.
void CheckMovieOptions(const Options& options) {
    const bool movie = IsMoviePath(options.output);
    if ((!options.codec.empty() || options.quality) && !movie) {
        throw UsageError("--codec and --quality go with a movie output (e.g. -o out.mov)");
    }
    if ((options.start || options.duration || options.frame_rate || !options.audio_file.empty() ||
         options.audio_offset || !options.color_matrix.empty() || !options.color_range.empty()) &&
        !movie) {
        throw UsageError(
            "--start, --duration, --frame-rate, --audio-file, --audio-offset, --color-matrix and "
            "--color-range go with a movie output (e.g. -o out.mov)");
    }
    if (options.audio_offset && options.audio_file.empty()) {
        throw UsageError("--audio-offset goes with --audio-file");
    }
    if (movie && (options.chunk != 0 || !options.task_text.empty() || options.print_tasks)) {
        throw UsageError(
            "--chunk, --task and --print-tasks go with image outputs: a movie is one task");
    }
    if (options.start && *options.start < 0) throw UsageError("--start: give a time from 0 on");
    if (options.duration && *options.duration <= 0) {
        throw UsageError("--duration: give a time above 0");
    }
    if (const std::string problem = ColourNameProblem(options.color_matrix, options.color_range);
        !problem.empty()) {
        throw UsageError(problem);
    }
}

void CheckSequenceOptions(const Options& options) {
    if (!options.frames.empty() && options.inputs.size() != 1) {
        throw UsageError(
            "--frames goes with one input: a frame pattern, or a file of several frames");
    }
    if (options.chunk == 0 && options.task_text.empty() && !options.print_tasks) return;
    if (options.inputs.size() != 1) {
        throw UsageError("--chunk, --task and --print-tasks go with one input frame pattern");
    }
    if (options.chunk == 0) throw UsageError("--task and --print-tasks need --chunk N");
    if (options.task_text.empty() && !options.print_tasks) {
        throw UsageError("--chunk needs --task T (or auto), or --print-tasks");
    }
}

}  // namespace

void CheckOptions(const Options& options) {
    CheckRawOptions(options);
    CheckMovieOptions(options);
    CheckSequenceOptions(options);
}

}  // namespace render
