#include "tools/vemra-render/run/atomic_output.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <map>
#include <system_error>

#include "tools/vemra-render/run/file_lock.h"
#include "tools/vemra-render/run/interrupt.h"

namespace render {

namespace fs = std::filesystem;

namespace {

std::string Cause(int error) {
    return std::strerror(error);
}

fs::path FolderOf(const fs::path& target) {
    const fs::path parent = target.parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

std::atomic<unsigned> temp_counter{0};

bool IsDigitChar(char c) {
    return c >= '0' && c <= '9';
}

/// ".NAME.vemra-HOST-": what every temporary of NAME made on this host starts with.
std::string TemporaryPrefix(const std::string& target_name) {
    return "." + target_name + ".vemra-" + TemporaryHostName() + "-";
}

/// True when `rest`, the rest of a temporary's name after its prefix, is
/// "PID-N" as this tool names them.
bool IsTemporarySuffix(std::string_view rest) {
    const std::size_t dash = rest.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash + 1 == rest.size()) return false;
    return std::all_of(rest.begin(), rest.begin() + long(dash), IsDigitChar) &&
           std::all_of(rest.begin() + long(dash) + 1, rest.end(), IsDigitChar);
}

/// Removes the temporary at `path` if no run holds its lock, taking the lock
/// meanwhile so that none can begin to use it. True when it was removed.
bool RemoveIfUnlocked(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat info {};
    bool removed = false;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        LockFile(fd, LockKind::kShared, false) == 0 && StillNamed(fd, path)) {
        const std::unique_lock files = LockOutputFiles();
        removed = ::unlink(path.c_str()) == 0;
    }
    ::close(fd);
    return removed;
}

/// Writes all of `bytes` to `fd`, retrying short writes; the errno, or 0.
int WriteAll(int fd, std::span<const std::byte> bytes) {
    const std::byte* at = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, at, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return written < 0 ? errno : EIO;
        at += written;
        left -= std::size_t(written);
    }
    return 0;
}

#ifdef VEMRA_TEST_HOOKS
std::atomic<long> renames{0};

/// Test builds only: VEMRA_TEST_KILL_AT_RENAME=N ends the process by
/// SIGKILL just before its Nth rename of a temporary into place (counted
/// from 1), and N+ just after it, so that a test stops a run at exactly the
/// frame boundary it chooses.
void KillAtRename(long number, bool after) {
    static const std::string asked = [] {
        const char* value = std::getenv("VEMRA_TEST_KILL_AT_RENAME");
        return std::string(value != nullptr ? value : "");
    }();
    if (asked.empty() || (asked.back() == '+') != after || std::atol(asked.c_str()) != number) {
        return;
    }
    ::kill(::getpid(), SIGKILL);
    for (;;) ::pause();
}
#endif

}  // namespace

const std::string& TemporaryHostName() {
    static const std::string name = [] {
        char buffer[256] = {};
        if (::gethostname(buffer, sizeof buffer - 1) != 0 || buffer[0] == '\0') {
            return std::string("unknown-host");
        }
        std::string host(buffer);
        for (char& c : host) {
            const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                               (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
            if (!plain) c = '_';
        }
        return host;
    }();
    return name;
}

std::vector<fs::path> RemoveStaleTemporaries(const std::vector<fs::path>& targets) {
    // Target names by folder, so each folder is listed once.
    std::map<fs::path, std::set<std::string>> by_folder;
    for (const fs::path& target : targets) {
        by_folder[FolderOf(target)].insert(target.filename().string());
    }
    const std::string marker = ".vemra-" + TemporaryHostName() + "-";
    std::vector<fs::path> removed;
    for (const auto& [folder, names] : by_folder) {
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            const std::string name = it->path().filename().string();
            const std::size_t at = name.rfind(marker);
            if (name[0] != '.' || at == std::string::npos || at < 2) continue;
            if (names.count(name.substr(1, at - 1)) == 0) continue;
            if (!IsTemporarySuffix(std::string_view(name).substr(at + marker.size()))) continue;
            if (RemoveIfUnlocked(it->path())) removed.push_back(it->path());
        }
    }
    return removed;
}

std::string StreamTarget(const fs::path& target) {
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0) return "";
    if (S_ISFIFO(info.st_mode)) return "a FIFO";
    if (S_ISCHR(info.st_mode)) return "a character device";
    return "";
}

void CheckOutputPath(const fs::path& target) {
    if (target.empty()) throw OutputError("empty output file name");
    const fs::path folder = FolderOf(target);
    std::error_code error;
    const fs::file_status folder_status = fs::status(folder, error);
    if (!fs::exists(folder_status)) {
        throw OutputError(fmt::format("{}: cannot write: folder {} does not exist", target.string(),
                                      folder.string()));
    }
    if (!fs::is_directory(folder_status)) {
        throw OutputError(
            fmt::format("{}: cannot write: {} is not a folder", target.string(), folder.string()));
    }
    const fs::file_status status = fs::status(target, error);
    const char* held = fs::is_directory(status) ? "a folder"
                       : fs::is_socket(status)  ? "a socket"
                       : fs::is_block_file(status)
                           ? "a block device (the tool writes no file onto a disk itself)"
                           : nullptr;
    if (held != nullptr) {
        throw OutputError(fmt::format("{}: cannot write: it is {}", target.string(), held));
    }
}

AtomicFile::AtomicFile(fs::path target) : target_(std::move(target)) {
    CheckOutputPath(target_);
    if (!StreamTarget(target_).empty()) {
        direct_ = true;
        temp_path_ = target_.string();
        return;
    }
    const fs::path folder = FolderOf(target_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (CreateTemporary(folder)) return;
    }
    throw OutputError(fmt::format("{}: cannot write: no free temporary file name in {}",
                                  target_.string(), folder.string()));
}

bool AtomicFile::CreateTemporary(const fs::path& folder) {
    temp_path_ = (folder / fmt::format("{}{}-{}", TemporaryPrefix(target_.filename().string()),
                                       ::getpid(), temp_counter++))
                     .string();
    {
        // Registered before it exists, so an interrupt can never leave it
        // behind; the lock keeps the interrupt's sweep out until both are done.
        const std::unique_lock files = LockOutputFiles();
        try {
            slot_ = RegisterTemporary(temp_path_);
        } catch (const std::length_error& e) {
            throw OutputError(fmt::format("{}: cannot write: {}", target_.string(), e.what()));
        }
        fd_ = ::open(temp_path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            const int error = errno;
            UnregisterTemporary(slot_);
            slot_ = -1;
            if (error == EEXIST) return false;
            throw OutputError(fmt::format("{}: cannot write: cannot create a file in {}: {}",
                                          target_.string(), folder.string(), Cause(error)));
        }
    }
    // A sweep that opened the file before this lock removes it: another name
    // is tried then. Storage that keeps no locks lets no sweep take one
    // either, so there the file is safe unlocked.
    const int locked = LockFile(fd_, LockKind::kExclusive, false);
    if (locked == 0 ? StillNamed(fd_, temp_path_) : locked != EAGAIN) return true;
    UnregisterTemporary(slot_);
    slot_ = -1;
    ::close(fd_);
    fd_ = -1;
    return false;
}

AtomicFile::~AtomicFile() {
    if (!committed_) Discard();
}

void AtomicFile::Discard() noexcept {
    pending_.clear();
    if (slot_ >= 0) {
        // Removed while still locked, so no sweep sees it unlocked first.
        ::unlink(temp_path_.c_str());
        UnregisterTemporary(slot_);
        slot_ = -1;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void AtomicFile::Write(std::span<const std::byte> bytes) {
    if (committed_ || flushed_) throw OutputError(target_.string() + ": already written");
    if (direct_) {
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
        return;
    }
    if (const int error = WriteAll(fd_, bytes); error != 0) {
        throw OutputError(fmt::format("{}: write failed: {}", target_.string(), Cause(error)));
    }
}

void AtomicFile::Flush() {
    if (flushed_) return;
    if (committed_ || (fd_ < 0 && !direct_))
        throw OutputError(target_.string() + ": already written");
    flushed_ = true;
    if (direct_) return;
    if (::fsync(fd_) != 0) {
        flushed_ = false;
        throw OutputError(fmt::format("{}: write failed: {}", target_.string(), Cause(errno)));
    }
    // A replaced file keeps its permissions (a new one has the umask's).
    struct stat existing {};
    if (::stat(target_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        ::fchmod(fd_, existing.st_mode & 07777);
    }
    // The file stays open until it is renamed: its lock is what tells
    // other runs that it is alive.
}

void AtomicFile::WriteDirectly() {
    if (pending_.empty()) return;  // a writer that opened it by name wrote it
    // Opened only now, so frames reach a pipe in their order; a FIFO's open
    // waits for its reader.
    const int fd = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        throw OutputError(fmt::format("{}: cannot write: {}", target_.string(), Cause(errno)));
    }
    const int error = WriteAll(fd, pending_);
    const int closed = ::close(fd) == 0 ? 0 : errno;
    pending_.clear();
    if (error != 0 || closed != 0) {
        throw OutputError(fmt::format("{}: write failed: {}", target_.string(),
                                      Cause(error != 0 ? error : closed)));
    }
}

void AtomicFile::Commit(long frames_finished) {
    if (committed_) throw OutputError(target_.string() + ": already written");
    Flush();
    if (direct_) {
        WriteDirectly();
        committed_ = true;
        const std::unique_lock files = LockOutputFiles();
        if (frames_finished >= 0) SetFramesFinished(frames_finished);
        return;
    }
#ifdef VEMRA_TEST_HOOKS
    const long rename_number = ++renames;
    KillAtRename(rename_number, false);
#endif
    {
        const std::unique_lock files = LockOutputFiles();
        if (::rename(temp_path_.c_str(), target_.c_str()) != 0) {
            throw OutputError(
                fmt::format("{}: cannot replace it: {}", target_.string(), Cause(errno)));
        }
        committed_ = true;
        UnregisterTemporary(slot_);
        slot_ = -1;
        if (frames_finished >= 0) SetFramesFinished(frames_finished);
    }
#ifdef VEMRA_TEST_HOOKS
    KillAtRename(rename_number, true);
#endif
    ::close(fd_);
    fd_ = -1;
    // The rename itself reaches the disk with the folder.
    const int folder = ::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

void WriteFileAtomically(const fs::path& target, std::span<const std::byte> bytes) {
    AtomicFile file(target);
    file.Write(bytes);
    file.Commit();
}

}  // namespace render
