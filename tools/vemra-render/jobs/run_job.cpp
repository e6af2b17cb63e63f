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
               (IsMoviePath(options.inputs[0]) || AnimatedPngFrames(options.inputs[0]) ||
                AnimatedGifFrames(options.inputs[0]))) {
        // An animated PNG's and an animated GIF's frames come from the movie
        // reader: the image library shows an APNG's first frame alone, and
        // lays a GIF's frames over each other without their disposal.
        RunMovie(options, session);
    } else {
        RunFiles(options, session);
    }
}

}  // namespace render
