// Notes on standard error, "vemra-render: note: ...", each kind once per run
// and kept off the progress line.
#pragma once

#include <set>
#include <string>

#include "tools/vemra-render/run/progress.h"

namespace render {

class Notes {
  public:
    /// Prints nothing when `quiet`; clears `progress` (when given) before a note.
    Notes(bool quiet, Progress* progress) : quiet_(quiet), progress_(progress) {}
    /// Prints "vemra-render: note: TEXT" unless quiet or a note of `kind`
    /// was printed already. One thread at a time (frames print theirs in order).
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

}  // namespace render
