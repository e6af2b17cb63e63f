// Writing a file so that it is either complete or not there: the bytes go to
// a temporary file beside the target, which is flushed to disk and renamed
// over the target only when everything was written. A failure or an
// interrupt leaves the target as it was (absent, or the old file intact).
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
/// is a folder, and the target itself is not a folder. Lets a job fail
/// before any work is done; the write itself still checks everything.
void CheckOutputPath(const std::filesystem::path& target);

class AtomicFile {
  public:
    /// Creates an empty temporary file ".NAME.vemra-HOST-PID-N" in the
    /// target's folder (HOST: this machine's name, so that on shared storage
    /// each machine knows its own), registered for removal on interrupt.
    /// Throws OutputError.
    explicit AtomicFile(std::filesystem::path target);
    /// Removes the temporary unless Commit() succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    /// Appends `bytes`, retrying short writes; throws OutputError on any
    /// failure (a full disk, a file size limit, an I/O error).
    void Write(std::span<const std::byte> bytes);
    /// Flushes the file to disk, gives it the permissions of the file it
    /// replaces (new files keep the umask's) and closes it; no more writes.
    /// Throws OutputError. Lets the slow part of a commit run early, on a
    /// frame's own thread, while renames keep frame order.
    void Flush();
    /// Flushes (unless done), renames the file over the target and flushes
    /// the folder. Throws OutputError; the target is then untouched. With
    /// `frames_finished` given, the interrupt message's count of finished
    /// frames becomes it in the same step as the rename, so an interrupt never
    /// finds the frame's last file in place and the frame left uncounted.
    void Commit(long frames_finished = -1);

    /// The temporary's path, for a writer that must open the file by name.
    const std::string& temp_path() const { return temp_path_; }
    const std::filesystem::path& target() const { return target_; }

  private:
    void Discard() noexcept;

    std::filesystem::path target_;
    std::string temp_path_;
    int fd_ = -1;
    int slot_ = -1;
    bool flushed_ = false;
    bool committed_ = false;
};

/// This machine's name as temporaries carry it: gethostname(), with any
/// character other than a letter, a digit, '.', '-' or '_' replaced by '_'.
const std::string& TemporaryHostName();

/// Removes the temporaries of `targets` that a run on this machine left
/// behind when it was killed (SIGKILL, a node's crash): those named with
/// this host whose process no longer exists. Temporaries of other machines,
/// and of live processes here, are left alone. Returns the paths removed.
/// Call before this process creates any temporary of its own.
std::vector<std::filesystem::path> RemoveStaleTemporaries(
    const std::vector<std::filesystem::path>& targets);

/// Writes `bytes` to `target` through an AtomicFile.
void WriteFileAtomically(const std::filesystem::path& target, std::span<const std::byte> bytes);

}  // namespace render
