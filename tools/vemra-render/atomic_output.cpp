#include "tools/vemra-render/atomic_output.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "tools/vemra-render/interrupt.h"

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

}  // namespace

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
        const fs::path temp = folder / fmt::format(".{}.vemra-{}-{}", target_.filename().string(),
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

void AtomicFile::Commit() {
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
