// The task-printing job (--print-tasks): the array range of farm tasks a
// sequence needs in chunks, for the scheduler's submit command. It needs the
// frame list alone, not the effect.
#include <fmt/format.h>

#include "tools/vemra-render/io/frame_pattern.h"
#include "tools/vemra-render/jobs/image_frames.h"
#include "tools/vemra-render/jobs/jobs.h"
#include "tools/vemra-render/jobs/task_range.h"

namespace render {

void PrintTasks(const Options& options) {
    const std::optional<FramePattern> pattern = FramePattern::Parse(options.inputs[0]);
    if (!pattern) {
        throw UsageError(
            fmt::format("--print-tasks: \"{}\" is not a frame pattern (e.g. "
                        "plate.####.exr)",
                        options.inputs[0]));
    }
    fmt::print("{}\n",
               TaskRange(TaskCount(SequenceNumbers(options, *pattern).size(), options.chunk)));
}

}  // namespace render
