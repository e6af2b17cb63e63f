#include "tools/vemra-render/io/movie_formats.h"
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
               (IsMoviePath(options.inputs[0]) || AnimatedPngFrames(options.inputs[0]))) {
        // An animated PNG's frames come from the movie reader: the image
        // library shows its first frame alone.
        RunMovie(options, session);
    } else {
        RunFiles(options, session);
    }
}

}  // namespace render
