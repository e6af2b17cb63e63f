#include "tools/vemra-render/run/atomic_output.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <map>
#include <system_error>

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

/// ".NAME.vemra-HOST-": what every temporary of NAME made on this host starts with.
std::string TemporaryPrefix(const std::string& target_name) {
    return "." + target_name + ".vemra-" + TemporaryHostName() + "-";
}

/// The process id in the rest of a temporary's name after its prefix,
/// "PID-N", or -1 when it is not of that form.
long ProcessOfTemporary(std::string_view rest) {
    const std::size_t dash = rest.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash + 1 == rest.size()) return -1;
    long pid = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + dash, pid);
    if (error != std::errc() || end != rest.data() + dash || pid <= 0) return -1;
    for (const char c : rest.substr(dash + 1)) {
        if (c < '0' || c > '9') return -1;
    }
    return pid;
}

/// True while a process `pid` exists (one of another user's counts).
bool ProcessExists(long pid) {
    if (pid == long(::getpid())) return false;  // none of ours exists yet
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

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
            const long pid = ProcessOfTemporary(std::string_view(name).substr(at + marker.size()));
            if (pid < 0 || ProcessExists(pid)) continue;
            const std::unique_lock files = LockOutputFiles();
            if (::unlink(it->path().c_str()) == 0) removed.push_back(it->path());
        }
    }
    return removed;
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
    if (fs::is_directory(fs::status(target, error))) {
        throw OutputError(fmt::format("{}: cannot write: it is a folder", target.string()));
    }
}

AtomicFile::AtomicFile(fs::path target) : target_(std::move(target)) {
    CheckOutputPath(target_);
    const fs::path folder = FolderOf(target_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path temp =
            folder / fmt::format("{}{}-{}", TemporaryPrefix(target_.filename().string()),
                                 ::getpid(), temp_counter++);
        temp_path_ = temp.string();
        // Registered before it exists, so an interrupt can never leave it
        // behind; the lock keeps the interrupt's sweep out until both are done.
        const std::unique_lock files = LockOutputFiles();
        try {
            slot_ = RegisterTemporary(temp_path_);
        } catch (const std::length_error& e) {
            throw OutputError(fmt::format("{}: cannot write: {}", target_.string(), e.what()));
        }
        fd_ = ::open(temp_path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) return;
        const int error = errno;
        UnregisterTemporary(slot_);
        slot_ = -1;
        if (error != EEXIST) {
            throw OutputError(fmt::format("{}: cannot write: cannot create a file in {}: {}",
                                          target_.string(), folder.string(), Cause(error)));
        }
    }
    throw OutputError(fmt::format("{}: cannot write: no free temporary file name in {}",
                                  target_.string(), folder.string()));
}

AtomicFile::~AtomicFile() {
    if (!committed_) Discard();
}

void AtomicFile::Discard() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (slot_ >= 0) {
        ::unlink(temp_path_.c_str());
        UnregisterTemporary(slot_);
        slot_ = -1;
    }
}

void AtomicFile::Write(std::span<const std::byte> bytes) {
    const std::byte* at = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd_, at, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            throw OutputError(fmt::format("{}: write failed: {}", target_.string(), Cause(errno)));
        }
        if (written == 0) {
            throw OutputError(fmt::format("{}: write failed: no progress", target_.string()));
        }
        at += written;
        left -= std::size_t(written);
    }
}

void AtomicFile::Flush() {
    if (flushed_) return;
    if (committed_ || fd_ < 0) throw OutputError(target_.string() + ": already written");
    if (::fsync(fd_) != 0) {
        throw OutputError(fmt::format("{}: write failed: {}", target_.string(), Cause(errno)));
    }
    // A replaced file keeps its permissions (a new one has the umask's).
    struct stat existing {};
    if (::stat(target_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        ::fchmod(fd_, existing.st_mode & 07777);
    }
    if (::close(fd_) != 0) {
        fd_ = -1;
        throw OutputError(fmt::format("{}: write failed: {}", target_.string(), Cause(errno)));
    }
    fd_ = -1;
    flushed_ = true;
}

void AtomicFile::Commit(long frames_finished) {
    if (committed_) throw OutputError(target_.string() + ": already written");
    Flush();
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
