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

/// Writes `text` whole to standard error, or where it was saved during a
/// quiet spell, from any thread.
void WriteMessage(std::string_view text);

}  // namespace render
