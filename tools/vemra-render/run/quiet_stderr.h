// Standard error kept quiet while an image library works, without losing
// the tool's own messages: some format libraries (libpng) print their errors
// themselves, and the tool reports every error once, in its own line.
// Several threads may decode at once, so the quiet spell is counted: it
// starts with the first QuietStderr and ends with the last.
#pragma once

#include <string_view>

namespace render {

/// Points file descriptor 2 at /dev/null while any QuietStderr lives.
class QuietStderr {
  public:
    QuietStderr();
    ~QuietStderr();
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;
};

/// Writes the message `text` whole to standard error, or where it was saved
/// during a quiet spell, from any thread. Line feeds at its start and its
/// end frame the message; every other control byte in it (a line feed or
/// an escape byte in a file name, a library's multi-line error) is written
/// escaped (messages.h), so a message is always one line and nothing in it
/// reaches the terminal as a command.
void WriteMessage(std::string_view text);

/// Writes `text` as it is, like WriteMessage: for the progress line's own
/// terminal controls alone.
void WriteTerminal(std::string_view text);

}  // namespace render
