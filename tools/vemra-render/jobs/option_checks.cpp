#include "tools/vemra-render/jobs/option_checks.h"

#include <fmt/format.h>

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
    if ((!options.codec.empty() || options.quality) && !IsMoviePath(options.output)) {
        throw UsageError("--codec and --quality go with a movie output (e.g. -o out.mov)");
    }
    CheckSequenceOptions(options);
}

}  // namespace render
