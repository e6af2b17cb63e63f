#include "tools/vemra-render/run/quiet_stderr.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>

#include "tools/vemra-render/run/messages.h"

namespace render {

namespace {

std::mutex quiet_mutex;
int quiet_count = 0;             // guarded by quiet_mutex
int saved_stderr = -1;           // guarded by quiet_mutex
int message_fd = STDERR_FILENO;  // guarded by quiet_mutex: the tool's messages go here

}  // namespace

QuietStderr::QuietStderr() {
    std::lock_guard lock(quiet_mutex);
    if (quiet_count++ > 0) return;
    std::fflush(stderr);
    saved_stderr = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_stderr >= 0 && null >= 0) {
        ::fcntl(saved_stderr, F_SETFD, FD_CLOEXEC);
        message_fd = saved_stderr;
        ::dup2(null, STDERR_FILENO);
    }
    if (null >= 0) ::close(null);
}

QuietStderr::~QuietStderr() {
    std::lock_guard lock(quiet_mutex);
    if (--quiet_count > 0 || saved_stderr < 0) return;
    std::fflush(stderr);
    ::dup2(saved_stderr, STDERR_FILENO);
    message_fd = STDERR_FILENO;
    ::close(saved_stderr);
    saved_stderr = -1;
}

void WriteMessage(std::string_view text) {
    const std::size_t start = std::min(text.find_first_not_of('\n'), text.size());
    const std::size_t end =
        text.size() > start && text.back() == '\n' ? text.size() - 1 : text.size();
    WriteTerminal(std::string(text.substr(0, start)) + Printable(text.substr(start, end - start)) +
                  std::string(text.substr(end)));
}

void WriteTerminal(std::string_view text) {
    // Under the lock, so the descriptor cannot be closed in the middle.
    std::lock_guard lock(quiet_mutex);
    std::fflush(stderr);
    const int fd = message_fd;
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written <= 0) return;
        text.remove_prefix(std::size_t(written));
    }
}

}  // namespace render
