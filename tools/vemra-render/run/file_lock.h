// Locks on open files that a run holds while it uses a file: open file
// description locks (fcntl F_OFD_SETLK), which belong to the open file, not
// to a process id, so they hold across PID namespaces (containers on one
// host) and, where the storage supports locks (NFS, Lustre, CephFS), across
// machines; and they are released only when the last descriptor of that
// open file closes, whatever other descriptors of the file the process (or
// a library it calls) opens and closes meanwhile.
#pragma once

#include <filesystem>

namespace render {

enum class LockKind { kShared, kExclusive };

/// Takes a lock of `kind` on all of the open file `fd`; with `wait`, waits
/// for a conflicting one to go. Returns 0, or the errno: EAGAIN when
/// another open file holds a conflicting lock, ENOLCK (or EINVAL) when the
/// storage keeps no locks.
int LockFile(int fd, LockKind kind, bool wait);

/// Releases the lock LockFile took on `fd`.
void UnlockFile(int fd);

/// True when `path` still names the file open as `fd` (the same device and
/// inode, the link not followed): after a lock is taken, it tells that the
/// file was not removed or replaced in the moment before.
bool StillNamed(int fd, const std::filesystem::path& path);

}  // namespace render
