#include "tools/vemra-render/run/file_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace render {

namespace {

int SetLock(int fd, short type, bool wait) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;  // from the start, to the end however far it grows
    while (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) != 0) {
        if (errno != EINTR) return errno == EACCES ? EAGAIN : errno;
    }
    return 0;
}

}  // namespace

int LockFile(int fd, LockKind kind, bool wait) {
    return SetLock(fd, kind == LockKind::kExclusive ? F_WRLCK : F_RDLCK, wait);
}

void UnlockFile(int fd) {
    SetLock(fd, F_UNLCK, false);
}

bool StillNamed(int fd, const std::filesystem::path& path) {
    struct stat open_file {};
    struct stat named {};
    return ::fstat(fd, &open_file) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

}  // namespace render
