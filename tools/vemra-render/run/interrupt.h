// What happens when the tool is interrupted (SIGINT, SIGTERM, SIGHUP): no
// output file appears or moves any more, every temporary output still being
// written is removed, finished outputs stay, one line goes to standard error,
// and the process then dies by the same signal, as a shell expects.
//
// The signals are taken by a thread of their own (sigwait), not by a handler
// running in the middle of another thread's work. That thread first takes the
// output-files lock for good, so the writers are stopped at the point where
// they would create or rename a file, and only then sweeps the temporaries.
#pragma once

#include <mutex>
#include <string>

namespace render {

/// Blocks the three signals in the calling thread, which every thread started
/// later inherits, and starts the thread that waits for them; ignores SIGPIPE
/// so that a reader closing a pipe shows up as a write error. Call it first
/// in main, before any other thread exists.
void StartInterruptThread();

/// Most temporary outputs alive at once; frames in flight are capped so that
/// their temporaries fit.
inline constexpr int kMaxTemporaries = 64;

/// Held while an output file is created, opened by name or renamed into
/// place. After an interrupt it is never released again.
std::unique_lock<std::mutex> LockOutputFiles();

/// Registers `path` for removal on interrupt and returns its slot. Call with
/// LockOutputFiles() held, before creating the file, so no moment exists in
/// which the file is there and unregistered. Throws std::length_error when the
/// path is longer than the registry holds or all slots are taken.
int RegisterTemporary(const std::string& path);
/// Forgets the slot; the file it named is no longer removed on interrupt.
void UnregisterTemporary(int slot);

/// The count of finished frames the interrupt message reports.
void SetFramesFinished(long frames);

}  // namespace render
