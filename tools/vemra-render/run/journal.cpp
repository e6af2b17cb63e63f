#include "tools/vemra-render/run/journal.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <map>
#include <optional>
#include <string_view>

#include "tools/vemra-render/run/atomic_output.h"
#include "tools/vemra-render/run/file_lock.h"

namespace render {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kMagic = "vemra-render in-place journal 1";

/// What a journal entry knows of a file: rename keeps all three.
struct Identity {
    unsigned long long inode = 0;
    unsigned long long size = 0;
    long long modified_ns = 0;
    bool operator==(const Identity&) const = default;
};

/// The identity of the regular file at `path` (the link itself, not
/// followed: a rename puts a file there); nullopt for anything else.
std::optional<Identity> IdentityOf(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return Identity{
        info.st_ino, static_cast<unsigned long long>(info.st_size),
        static_cast<long long>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

/// A file name as one word of a line: bytes up to the space, '%' and DEL as %XX.
std::string Word(std::string_view name) {
    std::string word;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || c == '%') {
            word += fmt::format("%{:02X}", byte);
        } else {
            word += c;
        }
    }
    return word;
}

std::optional<std::string> NameOf(std::string_view word) {
    std::string name;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] != '%') {
            name += word[i];
            continue;
        }
        unsigned byte = 0;
        if (i + 3 > word.size() ||
            std::from_chars(word.data() + i + 1, word.data() + i + 3, byte, 16).ptr !=
                word.data() + i + 3) {
            return std::nullopt;
        }
        name += char(byte);
        i += 2;
    }
    return name;
}

/// FNV-1a over `text`: a line whose checksum differs was cut short or spoiled.
std::uint32_t Checksum(std::string_view text) {
    std::uint32_t hash = 2166136261u;
    for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

std::string Line(const std::string& text) {
    return fmt::format("{} {:08x}\n", text, Checksum(text));
}

/// What a journal holds: its values, its planned files in order, and the
/// last entry of each file.
struct Content {
    bool whole = false;  ///< the header read
    std::string values;
    std::vector<std::string> planned;
    std::map<std::string, Identity> entries;
};

/// The line's text before its checksum; nullopt when the checksum differs.
std::optional<std::string_view> Checked(std::string_view line) {
    const std::size_t space = line.rfind(' ');
    if (space == std::string_view::npos || line.size() - space != 9) return std::nullopt;
    std::uint32_t sum = 0;
    const std::string_view hex = line.substr(space + 1);
    if (std::from_chars(hex.data(), hex.data() + hex.size(), sum, 16).ptr !=
            hex.data() + hex.size() ||
        sum != Checksum(line.substr(0, space))) {
        return std::nullopt;
    }
    return line.substr(0, space);
}

/// Reads one planned or entry line into `content`; others are ignored.
void ReadEntry(std::string_view text, Content& content) {
    std::vector<std::string_view> words;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t space = std::min(text.find(' ', at), text.size());
        words.push_back(text.substr(at, space - at));
        at = space + 1;
    }
    const std::optional<std::string> name = words.size() > 1 ? NameOf(words[1]) : std::nullopt;
    if (!name) return;
    if (words[0] == "planned" && words.size() == 2) {
        content.planned.push_back(*name);
    } else if (words[0] == "renaming" && words.size() == 5) {
        Identity identity;
        const auto number = [](std::string_view word, auto& into) {
            return std::from_chars(word.data(), word.data() + word.size(), into).ptr ==
                   word.data() + word.size();
        };
        if (number(words[2], identity.inode) && number(words[3], identity.size) &&
            number(words[4], identity.modified_ns)) {
            content.entries[*name] = identity;
        }
    }
}

Content Parse(std::string_view text) {
    Content content;
    std::size_t index = 0;
    for (std::size_t at = 0; at < text.size(); ++index) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) break;  // cut short: never finished
        const std::optional<std::string_view> line = Checked(text.substr(at, end - at));
        at = end + 1;
        if (index == 0) {
            if (!line || *line != kMagic) return content;
        } else if (index == 1) {
            if (!line || line->rfind("values ", 0) != 0) return content;
            content.values = std::string(line->substr(7));
            content.whole = true;
        } else if (line) {
            ReadEntry(*line, content);
        }
    }
    return content;
}

std::string ReadAll(int fd, const fs::path& path) {
    std::string text;
    char buffer[65536];
    for (off_t at = 0;;) {
        const ssize_t got = ::pread(fd, buffer, sizeof buffer, at);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            throw JournalRefused(
                fmt::format("{}: cannot read it: {}", path.string(), std::strerror(errno)));
        }
        if (got == 0) return text;
        text.append(buffer, std::size_t(got));
        at += got;
    }
}

/// Opens `path` (made when missing) and takes its lock, waiting for
/// another run's; again when the file was replaced meanwhile.
int OpenLocked(const fs::path& path) {
    for (;;) {
        const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            throw JournalRefused(fmt::format("{}: cannot open the in-place journal: {}",
                                             path.string(), std::strerror(errno)));
        }
        if (const int error = LockFile(fd, LockKind::kExclusive, true); error != 0) {
            ::close(fd);
            throw JournalRefused(fmt::format(
                "{}: cannot lock the in-place journal ({}): rendering over the inputs needs "
                "storage that keeps file locks",
                path.string(), std::strerror(error)));
        }
        if (StillNamed(fd, path)) return fd;
        ::close(fd);
    }
}

/// Writes `lines` at the end of `fd` and flushes them to disk; the errno,
/// or 0. A last line that a crash cut short is closed first, so that it
/// cannot run into the first line written now and spoil it too.
int AppendTo(int fd, const std::string& lines) {
    struct stat info {};
    char last = '\n';
    if (::fstat(fd, &info) != 0) return errno;
    if (info.st_size > 0 && ::pread(fd, &last, 1, info.st_size - 1) != 1) return EIO;
    const std::string text = last == '\n' ? lines : "\n" + lines;
    for (std::size_t at = 0; at < text.size();) {
        const ssize_t written = ::write(fd, text.data() + at, text.size() - at);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return written < 0 ? errno : EIO;
        at += std::size_t(written);
    }
    return ::fdatasync(fd) == 0 ? 0 : errno;
}

/// How many of the planned files of `content` its entries name as they are now.
std::size_t Rendered(const Content& content, const fs::path& folder) {
    std::size_t rendered = 0;
    for (const std::string& name : content.planned) {
        const auto entry = content.entries.find(name);
        rendered += entry != content.entries.end() && IdentityOf(folder / name) == entry->second;
    }
    return rendered;
}

}  // namespace

InPlaceJournal::InPlaceJournal(fs::path path, std::string values,
                               const std::vector<std::string>& planned)
    : path_(std::move(path)), values_(std::move(values)) {
    fd_ = OpenLocked(path_);
    try {
        Open(planned);
    } catch (...) {
        ::close(fd_);
        fd_ = -1;
        throw;
    }
    UnlockFile(fd_);
}

void InPlaceJournal::Open(const std::vector<std::string>& planned) {
    const std::string text = ReadAll(fd_, path_);
    const Content found = Parse(text);
    const fs::path folder = path_.parent_path().empty() ? fs::path(".") : path_.parent_path();
    if (text.empty()) return Rewrite(planned);
    if (!found.whole) {
        throw JournalRefused(
            fmt::format("{}: not an in-place journal this tool reads; it records which frames an "
                        "in-place run rendered, so remove it only when no such run is unfinished",
                        path_.string()));
    }
    if (found.values != values_) {
        const std::size_t rendered = Rendered(found, folder);
        if (rendered > 0 && rendered < found.planned.size()) {
            throw JournalRefused(fmt::format(
                "{}: an unfinished in-place run rendered {} of its {} frames with other values "
                "({}); run it again with those to finish it, since these would render its "
                "finished frames a second time",
                path_.string(), rendered, found.planned.size(), found.values));
        }
        if (rendered > 0) {
            note_ = fmt::format(
                "{}: the earlier in-place run of these frames ({}) had finished; the journal now "
                "records this run",
                path_.string(), found.values);
        }
        return Rewrite(planned);
    }
    const std::set<std::string> known(found.planned.begin(), found.planned.end());
    std::string lines;
    for (const std::string& name : planned) {
        const auto entry = found.entries.find(name);
        if (entry != found.entries.end() && IdentityOf(folder / name) == entry->second) {
            done_.insert(name);
        }
        if (known.count(name) == 0) lines += Line("planned " + Word(name));
    }
    if (!lines.empty()) Append(lines);
}

InPlaceJournal::~InPlaceJournal() {
    if (fd_ >= 0) ::close(fd_);
}

void InPlaceJournal::Rewrite(const std::vector<std::string>& planned) {
    // Written whole beside the journal, locked, and renamed over it: a crash
    // leaves the old journal or the new one. Only the holder of the old
    // one's lock gets here, so the ".new" file is nobody else's.
    const fs::path fresh = path_.string() + ".new";
    const int fd = ::open(fresh.c_str(), O_RDWR | O_APPEND | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    std::string text = Line(std::string(kMagic)) + Line("values " + values_);
    for (const std::string& name : planned) text += Line("planned " + Word(name));
    int error = fd < 0 ? errno : LockFile(fd, LockKind::kExclusive, false);
    if (error == 0) error = AppendTo(fd, text);
    if (error == 0 && ::rename(fresh.c_str(), path_.c_str()) != 0) error = errno;
    if (error != 0) {
        if (fd >= 0) ::close(fd);
        ::unlink(fresh.c_str());
        throw JournalRefused(fmt::format("{}: cannot write the in-place journal: {}",
                                         path_.string(), std::strerror(error)));
    }
    ::close(fd_);  // a run waiting on the old one finds it replaced, and opens this one
    fd_ = fd;
}

void InPlaceJournal::Append(const std::string& lines) {
    if (const int error = AppendTo(fd_, lines); error != 0) {
        throw OutputError(fmt::format("{}: cannot write the in-place journal: {}", path_.string(),
                                      std::strerror(error)));
    }
}

void InPlaceJournal::Record(const std::string& name, const std::string& file) {
    const std::optional<Identity> identity = IdentityOf(file);
    if (!identity) {
        throw OutputError(fmt::format("{}: cannot record {} in the in-place journal: it is gone",
                                      path_.string(), file));
    }
    const std::lock_guard lock(mutex_);
    if (const int error = LockFile(fd_, LockKind::kExclusive, true); error != 0) {
        throw OutputError(fmt::format("{}: cannot lock the in-place journal: {}", path_.string(),
                                      std::strerror(error)));
    }
    struct Unlock {
        int fd;
        ~Unlock() { UnlockFile(fd); }
    } unlock{fd_};
    if (!StillNamed(fd_, path_)) {
        throw OutputError(fmt::format(
            "{}: another in-place run with other values started the journal anew", path_.string()));
    }
    Append(Line(fmt::format("renaming {} {} {} {}", Word(name), identity->inode, identity->size,
                            identity->modified_ns)));
}

}  // namespace render
