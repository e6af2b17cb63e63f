// The journal of a run that renders frames over their own inputs
// (--overwrite-input): once a frame is renamed over its input, the input is
// gone, and the file alone cannot tell whether it was rendered. So before
// each such rename the run writes to a journal beside the frames which file
// is about to become the frame (its inode, size and modification time) and
// flushes it to disk. A frame counts as rendered when its journal entry
// names the very file that is there now: a rename that never happened (a
// kill between the entry and the rename) leaves the old file in place, which
// the entry does not name. A run again with the same values renders exactly
// the frames not yet rendered; a run with other values may start only where
// the earlier run had finished or had rendered nothing.
//
// The journal is text, one entry a line, each line closed by a checksum, so
// that a line cut short by a crash is told and ignored (its rename never
// happened: the entry is on disk before the rename begins). It is created
// or started anew whole (written beside it and renamed into place), and
// appended to under a lock on the open file (run/file_lock.h), so the tasks
// of a farm job rendering chunks of one sequence in place share it.
#pragma once

#include <filesystem>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/vemra-render/run/refusal.h"

namespace render {

/// An in-place run that cannot be made safe, refused before any frame:
/// an unfinished run with other values, a journal that cannot be read or
/// locked.
class JournalRefused : public std::runtime_error, public Refusal {
  public:
    using std::runtime_error::runtime_error;
};

class InPlaceJournal {
  public:
    /// Opens the journal at `path` (made when missing) for a run that renders
    /// the files `planned` (names in the journal's folder: the whole job's,
    /// every farm task's chunk) over their inputs with `values`, a text that
    /// differs whenever the rendered pixels would. Throws JournalRefused when
    /// the journal holds another `values` whose run rendered some of its
    /// frames and not all, when it is not a journal, and when it cannot be
    /// locked (storage that keeps no locks).
    InPlaceJournal(std::filesystem::path path, std::string values,
                   const std::vector<std::string>& planned);
    ~InPlaceJournal();
    InPlaceJournal(const InPlaceJournal&) = delete;
    InPlaceJournal& operator=(const InPlaceJournal&) = delete;

    /// True when the planned file `name` was rendered with these values by
    /// an earlier run: its entry names the file that is there now.
    bool Done(const std::string& name) const { return done_.count(name) != 0; }

    /// Writes, and flushes to disk, that the finished file `file` is about
    /// to be renamed over `name`. Throws OutputError when it cannot, and
    /// when another run has started the journal anew meanwhile.
    void Record(const std::string& name, const std::string& file);

    const std::filesystem::path& path() const { return path_; }
    /// What opening the journal did that a note should say; empty: nothing
    /// to say.
    const std::string& note() const { return note_; }

  private:
    void Open(const std::vector<std::string>& planned);
    void Rewrite(const std::vector<std::string>& planned);
    void Append(const std::string& lines);

    std::filesystem::path path_;
    std::string values_;
    int fd_ = -1;
    std::set<std::string> done_;
    std::string note_;
    std::mutex mutex_;
};

}  // namespace render
