// What the tool's jobs share: notes printed once per run, the buffers a
// frame in flight keeps, rendering samples through the effect, and planning
// the frames in flight.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/world.h"
#include "tools/vemra-render/jobs/options.h"
#include "tools/vemra-render/pixels/samples.h"
#include "tools/vemra-render/run/atomic_output.h"
#include "tools/vemra-render/run/progress.h"
#include "tools/vemra-render/run/work_plan.h"
#include "tools/vemra-render/session/effect_session.h"
#include "tools/vemra-render/session/layout_choice.h"

namespace render {

/// Notes on standard error, each kind once per run, kept off the progress
/// line. Printed by one thread at a time (frames print theirs in order).
class Notes {
  public:
    Notes(bool quiet, Progress* progress) : quiet_(quiet), progress_(progress) {}
    /// Prints "vemra-render: note: TEXT" unless quiet or a note of `kind`
    /// was printed already.
    void Once(const std::string& kind, const std::string& text);

  private:
    bool quiet_;
    Progress* progress_;
    std::set<std::string> printed_;
};

/// A note a frame leaves for the notes, printed when the frame finishes.
struct PendingNote {
    std::string kind;
    std::string text;
};

/// What one frame in flight keeps from frame to frame: its worlds and
/// buffers, so that a running sequence allocates no frame-sized memory.
struct FrameSlot {
    std::optional<sim::World> input;
    std::optional<sim::World> output;
    std::vector<PendingNote> notes;
};

/// A frame in flight that writes image files: the buffer its files are
/// encoded in, and the outputs waiting to be renamed into place in frame order.
struct ImageFilesSlot : FrameSlot {
    std::vector<unsigned char> encoded;
    std::unique_ptr<AtomicFile> pending_output;
    std::unique_ptr<AtomicFile> pending_compare;

    /// Renames the waiting outputs into place and prints the frame's notes.
    void Commit(Notes& printer);
    /// Drops the waiting outputs (their temporaries are removed) and the notes.
    void Drop();
};

/// Renders `samples` into `slot.output` in the host and layout chosen for
/// their type, with the slot's hosts; a note for samples clipped on their
/// way in is left in `slot.notes`, naming `name`.
sim::World& RenderSamples(EffectSession& session, int slot_index, FrameSlot& slot,
                          const Options& options, const sim::ParamValues& values,
                          const ConstSamples& samples, const std::string& name);

/// True when `a` and `b` name one file: the same inode if both exist, else
/// the same path once made absolute and normalised.
bool SameFile(const std::string& a, const std::string& b);

/// True when something, even a broken link, sits at `path`.
bool Exists(const std::string& path);

/// Bytes one frame in flight holds at most, for `pixels` pixels of samples
/// `sample` bytes deep: the decoded channels (eight at most), the input
/// and output worlds, the output samples and the encoded file.
std::uint64_t FrameFootprint(std::uint64_t pixels, std::size_t sample, sim::Layout layout,
                             std::size_t decoded_channels);

/// The frames in flight and threads for `frames` frames of about
/// `bytes_per_frame` each, with the session's hosts (and the image library's
/// threads) set up for them.
WorkPlan PrepareWork(const Options& options, EffectSession& session, long frames,
                     std::uint64_t bytes_per_frame);

/// "37 rendered, 2 skipped, 1 failed", and the frames a stop left unrendered.
std::string Tally(long rendered, long skipped, long failed, long left);

}  // namespace render
