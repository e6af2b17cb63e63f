// What every job does with its frames: plan how many are in flight, and
// render one frame's samples through the effect with the slot's hosts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/vemra-render/jobs/options.h"
#include "tools/vemra-render/pixels/samples.h"
#include "tools/vemra-render/run/notes.h"
#include "tools/vemra-render/run/work_plan.h"
#include "tools/vemra-render/session/effect_session.h"

namespace render {

/// Bytes one frame in flight holds at most, for `pixels` pixels of samples
/// of `type` rendered in `choice`'s worlds: the decoded channels (eight at
/// most), the input and output worlds, the output samples and the encoded file.
std::uint64_t FrameFootprint(std::uint64_t pixels, SampleType type, const LayoutChoice& choice,
                             std::size_t decoded_channels);

/// The frames in flight and threads for `frames` frames (-1: not known) of
/// about `bytes_per_frame` each, with the session's hosts and the image
/// library's threads set up for them.
WorkPlan PrepareWork(const Options& options, EffectSession& session, long frames,
                     std::uint64_t bytes_per_frame);

/// Renders `before` into `after` with the hosts of `slot`, in the host and
/// layout the options and the samples' type choose; a note for samples
/// clipped on their way in, naming `name`, is added to `notes`.
void RenderFrame(EffectSession& session, int slot, const Options& options,
                 const ParamValues& values, const ConstSamples& before, const Samples& after,
                 const std::string& name, std::vector<PendingNote>& notes);

/// Prints what the movie library logged since the last call as notes, each
/// distinct text once (run/library_log.h).
void PrintLibraryNotes(Notes& notes);

/// "37 rendered, 2 skipped, 1 failed", and the frames a stop left unrendered.
std::string Tally(long rendered, long skipped, long failed, long left);

}  // namespace render
