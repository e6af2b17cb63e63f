#include "tools/vemra-render/io/image_readers.h"
#include "tools/vemra-render/io/movie_policy.h"
#include "tools/vemra-render/jobs/jobs.h"
#include "tools/vemra-render/jobs/outputs.h"

namespace render {

void RunJob(const Options& given, EffectSession& session) {
    // One input into a folder: the input's own name in it, whatever the job.
    Options options = given;
    if (options.inputs.size() == 1) options.output = OutputOfOne(options.output, options.inputs[0]);
    if (options.describe) {
        Describe(session);
    } else if (options.raw_size) {
        RunRaw(options, session);
    } else if (options.inputs.empty()) {
        RunChart(options, session);
    } else if (options.inputs.size() == 1 &&
               KindOfInput(options.inputs[0], options.max_pixels) != InputKind::kImage) {
        // A movie, an animated PNG and a GIF come from the movie stages.
        RunMovie(options, session);
    } else if (ContainerFor(options.output) != nullptr) {
        RunSequenceMovie(options, session);
    } else {
        RunFiles(options, session);
    }
}

}  // namespace render
