// What the movie library logs, kept for the tool instead of printed. The
// library's threads (a demuxer, a decoder's or an encoder's worker) log from
// anywhere at any time; io/ffmpeg_log.h hands each message here, and here it
// is sorted under one lock: a message logged against an object the tool
// watches (LogWatch: the demuxer of the file being read, the muxer whose
// header is being written) goes to that watch, so the tool can act on it (a
// damaged packet fails the run; a refused header names its cause); any other
// goes to the notes, each distinct text once a run. Nothing here writes to
// the terminal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace render {

/// How serious a logged message is; quieter ones are not kept.
enum class LogSeverity { kError, kWarning };

struct LoggedMessage {
    LogSeverity severity;
    std::string text;  ///< one line, without its newline
};

/// Keeps `text`, logged against the library object `context` (or one whose
/// parent object is `parent`; either may be null). From any thread.
void RecordLibraryMessage(const void* context, const void* parent, LogSeverity severity,
                          std::string_view text);

/// The texts for notes gathered since the last call, each distinct text
/// once a run, in the order they came.
std::vector<std::string> TakeLibraryNotes();

/// Adds `text` to the notes, unless it was there already this run.
void NoteLibraryMessage(std::string_view text);

/// While it lives, the messages logged against `context` (or against an
/// object whose parent `context` is) are kept for it and not noted.
class LogWatch {
  public:
    explicit LogWatch(const void* context);
    ~LogWatch();
    LogWatch(const LogWatch&) = delete;
    LogWatch& operator=(const LogWatch&) = delete;

    /// The messages kept since the last call, in the order they came.
    std::vector<LoggedMessage> Take();
    /// The last error logged against the context while watched; else the
    /// last one logged against anything since the watch began (a muxer's
    /// helper objects log against themselves); empty: none.
    std::string LastError() const;

  private:
    const void* context_;
    unsigned long start_;  ///< errors logged anywhere before the watch began
};

}  // namespace render
