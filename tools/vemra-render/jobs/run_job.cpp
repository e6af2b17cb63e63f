#include "tools/vemra-render/io/image_readers.h"
#include "tools/vemra-render/jobs/jobs.h"

namespace render {

void RunJob(const Options& options, EffectSession& session) {
    if (options.describe) {
        Describe(session);
    } else if (options.raw_size) {
        RunRaw(options, session);
    } else if (options.inputs.empty()) {
        RunChart(options, session);
    } else if (options.inputs.size() == 1 &&
               KindOfInput(options.inputs[0], options.max_pixels) != InputKind::kImage) {
        // A movie, and an animated PNG, whose first frame alone the image
        // library shows, come from the movie stages.
        RunMovie(options, session);
    } else {
        RunFiles(options, session);
    }
}

}  // namespace render
