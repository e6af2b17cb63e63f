// Writing a file so that it is either complete or not there: the bytes go to
// a temporary file beside the target, which is flushed to disk and renamed
// over the target only when everything was written. A failure or an
// interrupt leaves the target as it was (absent, or the old file intact).
//
// A target that is a FIFO or a character device (a pipe a reader waits on,
// /dev/null) is never replaced: the bytes are written into it directly. A
// socket or a block device at the target is refused.
#pragma once

#include <filesystem>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace render {

/// Thrown when an output cannot be written; the message names the file and the cause.
class OutputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// Throws OutputError unless `target` looks writable: its folder exists and
/// is a folder, and the target itself is not a folder, a socket or a block
/// device. Lets a job fail before any work is done; the write itself still
/// checks everything.
void CheckOutputPath(const std::filesystem::path& target);

/// What sits at `target` (a link followed): "a FIFO" or "a character
/// device", which an AtomicFile writes into directly; empty for nothing, a
/// regular file or anything else.
std::string StreamTarget(const std::filesystem::path& target);

class AtomicFile {
  public:
    /// Creates an empty temporary file ".NAME.vemra-HOST-PID-N" in the
    /// target's folder (HOST: this machine's name, so that on shared storage
    /// each machine knows its own), registered for removal on interrupt and
    /// locked (run/file_lock.h) until it is renamed or removed, so that no
    /// other run's sweep takes it for a stale one. For a stream target (see
    /// StreamTarget) nothing is created: the bytes wait in memory for
    /// Commit(). Throws OutputError.
    explicit AtomicFile(std::filesystem::path target);
    /// Removes the temporary unless Commit() succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    /// Appends `bytes`, retrying short writes; throws OutputError on any
    /// failure (a full disk, a file size limit, an I/O error).
    void Write(std::span<const std::byte> bytes);
    /// Flushes the file to disk and gives it the permissions of the file it
    /// replaces (new files keep the umask's); no more writes.
    /// Throws OutputError. Lets the slow part of a commit run early, on a
    /// frame's own thread, while renames keep frame order.
    void Flush();
    /// Flushes (unless done), renames the file over the target and flushes
    /// the folder. Throws OutputError; the target is then untouched. A
    /// stream target gets the bytes written so far, in one go. With
    /// `frames_finished` given, the interrupt message's count of finished
    /// frames becomes it in the same step as the rename, so an interrupt never
    /// finds the frame's last file in place and the frame left uncounted.
    void Commit(long frames_finished = -1);

    /// The temporary's path, for a writer that must open the file by name;
    /// a stream target's own path, which such a writer then writes directly.
    const std::string& temp_path() const { return temp_path_; }
    /// True for a stream target, written directly.
    bool direct() const { return direct_; }
    const std::filesystem::path& target() const { return target_; }

  private:
    bool CreateTemporary(const std::filesystem::path& folder);
    void WriteDirectly();
    void Discard() noexcept;

    std::filesystem::path target_;
    std::string temp_path_;
    int fd_ = -1;
    int slot_ = -1;
    bool direct_ = false;
    std::vector<std::byte> pending_;  ///< a stream target's bytes, until Commit()
    bool flushed_ = false;
    bool committed_ = false;
};

/// This machine's name as temporaries carry it: gethostname(), with any
/// character other than a letter, a digit, '.', '-' or '_' replaced by '_'.
const std::string& TemporaryHostName();

/// Removes the temporaries of `targets` that a run on this machine left
/// behind when it was killed (SIGKILL, a node's crash): those named with
/// this host whose lock can be taken, which no living run holds, in this
/// PID namespace or another. Temporaries of other machines, and any whose
/// lock is held (or cannot be asked for), are left alone. Returns the
/// paths removed.
std::vector<std::filesystem::path> RemoveStaleTemporaries(
    const std::vector<std::filesystem::path>& targets);

/// Writes `bytes` to `target` through an AtomicFile.
void WriteFileAtomically(const std::filesystem::path& target, std::span<const std::byte> bytes);

}  // namespace render
