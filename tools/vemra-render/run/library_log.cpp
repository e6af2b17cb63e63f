#include "tools/vemra-render/run/library_log.h"

#include <algorithm>
#include <mutex>
#include <set>

namespace render {

namespace {

/// The messages of one watched object.
struct Watched {
    const void* context;
    std::vector<LoggedMessage> messages;
    std::string last_error;
};

struct Log {
    std::mutex mutex;
    std::vector<Watched> watched;              // few at a time: a demuxer, a muxer, an encoder
    std::vector<std::string> notes;            // waiting to be taken
    std::set<std::string, std::less<>> noted;  // every text noted this run
    unsigned long errors = 0;                  // errors logged against anything
    std::string last_error;                    // the last of them
};

Log& TheLog() {
    static Log log;
    return log;
}

/// Adds `text` to the notes; call with the lock held.
void NoteLocked(Log& log, std::string_view text) {
    if (log.noted.find(text) != log.noted.end()) return;
    log.noted.emplace(text);
    log.notes.emplace_back(text);
}

}  // namespace

void RecordLibraryMessage(const void* context, const void* parent, LogSeverity severity,
                          std::string_view text) {
    Log& log = TheLog();
    const std::lock_guard lock(log.mutex);
    if (severity == LogSeverity::kError) {
        ++log.errors;
        log.last_error = text;
    }
    for (Watched& watched : log.watched) {
        if (context != nullptr && (watched.context == context || watched.context == parent)) {
            watched.messages.push_back({severity, std::string(text)});
            if (severity == LogSeverity::kError) watched.last_error = text;
            return;
        }
    }
    NoteLocked(log, text);
}

std::vector<std::string> TakeLibraryNotes() {
    Log& log = TheLog();
    const std::lock_guard lock(log.mutex);
    std::vector<std::string> notes;
    notes.swap(log.notes);
    return notes;
}

void NoteLibraryMessage(std::string_view text) {
    Log& log = TheLog();
    const std::lock_guard lock(log.mutex);
    NoteLocked(log, text);
}

LogWatch::LogWatch(const void* context) : context_(context) {
    Log& log = TheLog();
    const std::lock_guard lock(log.mutex);
    log.watched.push_back({context, {}, {}});
    start_ = log.errors;
}

LogWatch::~LogWatch() {
    Log& log = TheLog();
    const std::lock_guard lock(log.mutex);
    const auto mine = std::find_if(log.watched.begin(), log.watched.end(),
                                   [&](const Watched& w) { return w.context == context_; });
    if (mine != log.watched.end()) log.watched.erase(mine);
}

std::vector<LoggedMessage> LogWatch::Take() {
    Log& log = TheLog();
    const std::lock_guard lock(log.mutex);
    std::vector<LoggedMessage> messages;
    for (Watched& watched : log.watched) {
        if (watched.context == context_) messages.swap(watched.messages);
    }
    return messages;
}

std::string LogWatch::LastError() const {
    Log& log = TheLog();
    const std::lock_guard lock(log.mutex);
    for (const Watched& watched : log.watched) {
        if (watched.context == context_ && !watched.last_error.empty()) return watched.last_error;
    }
    return log.errors > start_ ? log.last_error : std::string();
}

}  // namespace render
