#include "tools/vemra-render/io/movie_formats.h"
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
               (IsMoviePath(options.inputs[0]) || AnimatedPngFrames(options.inputs[0]) ||
                IsGifFile(options.inputs[0]))) {
        // An animated PNG's and a GIF's frames come from the movie reader:
        // the image library shows an APNG's first frame alone, lays a GIF's
        // frames over each other without their disposal, and takes a cut
        // GIF's frames for the whole.
        RunMovie(options, session);
    } else if (ContainerFor(options.output) != nullptr) {
        RunSequenceMovie(options, session);
    } else {
        RunFiles(options, session);
    }
}

}  // namespace render
