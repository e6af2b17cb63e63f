// What every job does with its frames: plan how many are in flight from
// what each holds, run them through the frame pipeline with what every job
// shares (each frame's notes, the library's notes, the progress line), and
// render one frame's samples through the effect with the slot's hosts.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "tools/vemra-render/jobs/options.h"
#include "tools/vemra-render/pixels/samples.h"
#include "tools/vemra-render/run/frame_pipeline.h"
#include "tools/vemra-render/run/notes.h"
#include "tools/vemra-render/run/progress.h"
#include "tools/vemra-render/run/work_plan.h"
#include "tools/vemra-render/session/effect_session.h"

namespace render {

/// What one frame in flight holds besides the host's two worlds, as each
/// job states it for the memory budget.
struct FrameFootprint {
    std::uint64_t pixels = 0;
    std::uint64_t source_bytes = 0;   ///< the frame as read: decoded samples, raw bytes
    std::uint64_t result_bytes = 0;   ///< its results outside the worlds: samples, an encoded file
    std::uint64_t waiting_bytes = 0;  ///< what waits with it: a movie's copied packets
};

/// The footprint of a frame decoded from a file of `channels` channels
/// (eight at most) of `type`: the decoded channels, then the output samples
/// and the encoded file, four channels each.
FrameFootprint DecodedFootprint(std::uint64_t pixels, SampleType type, std::size_t channels);

/// Bytes a frame in flight holds at most: its footprint and the input and
/// output worlds of `choice`. The one formula every job's plan uses.
std::uint64_t FootprintBytes(const FrameFootprint& footprint, const LayoutChoice& choice);

/// What the frames in flight may take: --memory, else the default budget.
std::uint64_t MemoryBudget(const Options& options);

/// The frames in flight and threads for `frames` frames (-1: not known) of
/// about `bytes_per_frame` each, with the session's hosts and the image
/// library's threads set up for them.
WorkPlan PrepareWork(const Options& options, EffectSession& session, long frames,
                     std::uint64_t bytes_per_frame);

/// What a job does with each frame (run/frame_pipeline.h), without what
/// every job shares, which RunFrameJob adds.
struct FrameJob {
    /// In frame order: claims frame `index` for `slot`; false: no more frames.
    std::function<bool(long index, int slot)> take;
    /// Concurrently: the frame's work. Notes for the frame go to `notes`,
    /// printed when the frame is finished and dropped when it is not.
    std::function<void(long index, int slot, std::vector<PendingNote>& notes)> work;
    /// In frame order, after the frame's work: makes its result final.
    std::function<void(long index, int slot)> finish;
    /// For a frame that will not be finished; may be empty. Must not throw.
    std::function<void(long index, int slot)> discard = {};
    /// For each frame that failed, in frame order; may be empty. Must not throw.
    std::function<void(long index, const std::exception_ptr& error)> failed = {};
    /// After `take`, in frame order: the bytes frame `index` holds in `slot`
    /// (FootprintBytes), for the memory budget; empty: frames are not weighed.
    std::function<std::uint64_t(long index, int slot)> weigh = {};
    /// Frees what `slot` keeps from frame to frame (run/frame_pipeline.h's
    /// FrameBudget); may be empty.
    std::function<void(int slot)> release = {};
};

/// Where a job's frames report.
struct FrameRun {
    int in_flight = 1;
    Notes& notes;
    Progress& progress;
    OnFailure on_failure = OnFailure::kStop;
    /// Bytes the frames in flight may hold together, when the job weighs them.
    std::uint64_t memory_budget = 0;
};

/// Runs `job`'s frames `run.in_flight` at a time, within `run.memory_budget`
/// when the job weighs them. After each finished frame
/// its notes are printed (each text once), then what the movie library
/// logged, and the progress line counts it. Never throws for a frame's
/// failure: it is in the result.
FramesResult RunFrameJob(const FrameJob& job, const FrameRun& run);

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
