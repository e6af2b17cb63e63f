// Which options go together: checked on the Options alone, before the
// effect is loaded or any file is opened.
#pragma once

#include "tools/vemra-render/jobs/options.h"

namespace render {

/// Throws UsageError naming the first combination of options that cannot be
/// followed: raw video with files, a raw pixel format the tool does not know,
/// movie options without a movie output (or farm options with one), --frames
/// or farm options without the one input they go with, --chunk without
/// --task or --print-tasks, a colour matrix or range FFmpeg does not name. Looks at
/// nothing but `options` (file names by their form, not on disk).
void CheckOptions(const Options& options);

}  // namespace render
