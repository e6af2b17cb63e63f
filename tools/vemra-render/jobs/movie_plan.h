// What a movie run decides before its first frame: whether its frames are
// turned upright as its display matrix says, how many threads its codecs
// take and what they hold of --memory, and how many frames are in flight.
#pragma once

#include <string>

#include "tools/vemra-render/io/movie_source.h"
#include "tools/vemra-render/jobs/options.h"
#include "tools/vemra-render/run/work_plan.h"
#include "tools/vemra-render/session/effect_session.h"

namespace render {

/// Decides whether the movie's frames are turned upright as its display
/// matrix says: where the output keeps no matrix (any container but
/// QuickTime and MP4, and image files), unless --no-autorotate; a turn that
/// is no quarter turn or mirror is refused (RefusedError) into every output
/// unless --no-autorotate. Marks `source` turned (its size as delivered)
/// when they are. Returns the note that says what was done with the
/// matrix; empty: nothing to say.
std::string TurnUpright(const Options& options, SourceDescription& source, bool to_movie);

/// The options a movie runs with: its codecs' threads fewer where their
/// buffers would take more than half of --memory, and what they take set
/// aside from what the frames in flight may take. Where even one codec
/// thread each and one frame exceed --memory, `note` says so: the run goes
/// on with the least it can hold.
Options WithCodecBudget(const Options& options, const SourceDescription& source, std::string& note);

/// The work plan for `frames` frames of a movie (-1: not known; a part of
/// it, or an image sequence described as one), sized by its frame size.
WorkPlan PrepareMovieWork(const Options& options, EffectSession& session,
                          const SourceDescription& source, long frames);

}  // namespace render
