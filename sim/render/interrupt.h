// What happens when the tool is interrupted (SIGINT, SIGTERM, SIGHUP): every
// temporary output still being written is removed, finished outputs stay,
// one line goes to standard error and the process ends with 128 + the signal.
#pragma once

#include <string>

namespace render {

/// Installs the handlers, and ignores SIGPIPE so that a reader closing a pipe
/// shows up as a write error rather than killing the process silently.
void InstallInterruptHandlers();

/// Registers `path` for removal on interrupt and returns its slot. Register a
/// name before creating the file, so no moment exists in which the file is
/// there and unregistered. Throws std::length_error when the path is longer
/// than the registry holds or all slots are taken.
int RegisterTemporary(const std::string& path);
/// Forgets the slot; the file it named is no longer removed on interrupt.
void UnregisterTemporary(int slot);

/// The count of finished frames the interrupt message reports.
void SetFramesFinished(long frames);

/// Where the interrupt message goes (standard error unless changed, e.g.
/// while standard error is pointed elsewhere); returns the previous one.
int SetInterruptMessageFd(int fd);

}  // namespace render
