// Frames in flight: several frames taken, worked on and finished at once, on
// as many worker threads as frames in flight, with the order of a sequence
// kept where it shows. Taking a frame (reading a pipe) and finishing it
// (renaming its output into place, writing it to a pipe) happen one frame at
// a time in frame order; the work between them runs concurrently. Each worker
// has a slot number, so its buffers and worlds serve frame after frame.
//
// After a failure the frames before the failing one are still completed and
// finished, the frames after it are discarded, and no new frame is taken;
// or, when asked to keep going, every other frame is still worked on and
// finished, and only the failing ones are discarded.
// A memory budget may weigh each frame as it is taken: it starts only once
// it fits beside what the other slots hold, or alone.
// The pipeline knows nothing of images or files, so tests drive it with
// readers and writers of their own.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>

namespace render {

/// What happens to each frame. Frames are numbered 0, 1, 2, ... in order;
/// `slot` is the worker's, from 0 to frames in flight - 1.
struct FrameStages {
    /// In frame order, one at a time: claims frame `frame` for `slot`.
    /// Returns false when there are no more frames. May be empty (every frame
    /// up to the count given to RunFrames is taken).
    std::function<bool(long frame, int slot)> take;
    /// Concurrently with other frames' work: the frame's main work.
    std::function<void(long frame, int slot)> work;
    /// In frame order, one at a time, after the frame's work succeeded and
    /// every earlier frame finished: makes the frame's result final.
    std::function<void(long frame, int slot)> finish;
    /// For a frame whose work was done or failed but that will not be
    /// finished (a frame at or after the failing one): drops its result.
    /// Must not throw.
    std::function<void(long frame, int slot)> discard;
    /// In frame order, after `discard`, for each frame whose work or finish
    /// threw, with what it threw (a failure to take a frame is in the result
    /// alone). May be empty. Must not throw.
    std::function<void(long frame, const std::exception_ptr& error)> failed;
};

/// Memory shared by the slots. A slot holds what its frame needs while the
/// frame is in flight, and keeps it afterwards (buffers sized for the frame,
/// reused by the next) until it is released. Each frame is weighed once
/// taken; it starts its work only when the slots' holdings, its own grown to
/// what the frame needs, fit within `bytes`. To make room, what idle slots
/// keep is released (the taking slot's own too, when more than its frame
/// needs); a frame that does not fit even so waits for frames in flight to
/// finish, and starts alone, whatever it needs, once none is. Frames start
/// in frame order, so a frame waiting for room holds back those after it;
/// it never waits on a later frame, so the wait always ends.
struct FrameBudget {
    std::uint64_t bytes = 0;  ///< 0: no budget, nothing is weighed
    /// After `take`, in frame order: what frame `frame` needs in `slot`.
    std::function<std::uint64_t(long frame, int slot)> weigh;
    /// Frees what `slot` keeps; called for a slot with no frame in flight,
    /// on the taking thread. May be empty: slots keep nothing.
    std::function<void(int slot)> release;
};

/// What a frame's failure does to the frames after it.
enum class OnFailure {
    kStop,       ///< later frames are discarded and no new frame is taken
    kKeepGoing,  ///< later frames go on; only failing frames are discarded
};

/// How a run ended.
struct FramesResult {
    long finished = 0;         ///< frames finished (with kStop, all before `failed_frame`)
    long failures = 0;         ///< frames that failed
    long failed_frame = -1;    ///< the lowest-numbered frame that failed, or -1
    std::exception_ptr error;  ///< what that frame threw
    bool stopped = false;      ///< `stop` was seen before every frame was taken
};

/// Runs frames 0 .. `count` - 1 (or until `take` returns false; `count` < 0:
/// no limit) through `stages` with `in_flight` workers (at least 1; 1 runs
/// each frame from start to finish before the next, on the calling thread).
/// Stops taking frames once `stop` (when given) is set. Never throws for a
/// frame's failure: it is in the result. A failure to take a frame always
/// stops the run, whatever `on_failure` says: no later frame can be taken.
/// A frame whose weighing throws fails as one whose take does.
FramesResult RunFrames(const FrameStages& stages, int in_flight, long count = -1,
                       const std::atomic<bool>* stop = nullptr,
                       OnFailure on_failure = OnFailure::kStop, const FrameBudget& budget = {});

}  // namespace render
