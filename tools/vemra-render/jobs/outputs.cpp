#include "tools/vemra-render/jobs/outputs.h"

#include <fmt/format.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <stdexcept>
#include <system_error>

#include "tools/vemra-render/io/compression.h"
#include "tools/vemra-render/io/image_files.h"
#include "tools/vemra-render/io/image_formats.h"
#include "tools/vemra-render/io/output_probe.h"
#include "tools/vemra-render/run/atomic_output.h"

namespace render {

namespace fs = std::filesystem;

namespace {

bool IsFolder(const std::string& path) {
    std::error_code error;
    return (!path.empty() && path.back() == '/') || fs::is_directory(path, error);
}

/// A key that is equal for two names of one file.
std::string FileKey(const std::string& path) {
    struct stat s {};
    if (::stat(path.c_str(), &s) == 0) return fmt::format("inode {}:{}", s.st_dev, s.st_ino);
    std::error_code error;
    return "path " + fs::weakly_canonical(path, error).string();
}

/// A refused output: its folder is missing, no format writes it, ...
class OutputRefused : public OutputError, public Refusal {
  public:
    using OutputError::OutputError;
};

/// Refuses `path` unless its folder exists and its format is one the tool
/// writes with the compression asked (front to back, for a FIFO or a
/// device); `formats` keeps the answers by extension, so a long sequence
/// asks the image library once.
void CheckWritable(const std::string& path, const Options& options,
                   std::map<std::string, std::string>& formats) {
    try {
        CheckOutputPath(path);
        const std::string extension = fs::path(path).extension().string();
        auto known = formats.find(extension);
        if (known == formats.end()) {
            known = formats.emplace(extension, CheckOutputFormat(path)).first;
        }
        CheckCompression(known->second, options.compression);
        CheckDataType(known->second, options.data_type);
        if (const std::string stream = StreamTarget(path);
            !stream.empty() && !ImageFormatStreams(path)) {
            throw OutputRefused(fmt::format(
                "{}: it is {}, and {} files are written by seeking within the file: give a "
                "regular file's name",
                path, stream, known->second));
        }
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    } catch (const OutputRefused&) {
        throw;
    } catch (const OutputError& e) {
        throw OutputRefused(e.what());
    }
}

/// True when a regular file (or a link to one) is at `path`; false for
/// nothing there or a dangling link. Throws a refusal for anything else.
bool RegularFileAt(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    if (S_ISREG(info.st_mode)) return true;
    const char* held = S_ISDIR(info.st_mode)    ? "a folder"
                       : S_ISFIFO(info.st_mode) ? "a FIFO"
                       : S_ISSOCK(info.st_mode) ? "a socket"
                                                : "a device";
    throw OutputRefused(fmt::format(
        "{}: it is {}, not a file: --skip-existing cannot tell whether it holds a finished output",
        path, held));
}

}  // namespace

OutputRule::OutputRule(const std::string& output, bool sheet, const std::string& sheet_name,
                       bool folders)
    : output_(output),
      pattern_(FramePattern::Parse(output)),
      sheet_(sheet),
      sheet_name_(sheet_name) {
    folder_ = folders && !pattern_ && IsFolder(output);
    if (!sheet_) return;
    if (pattern_) {
        sheet_pattern_ = sheet_name_.empty() ? pattern_->WithStemSuffix("-compare")
                                             : RequirePattern(sheet_name_, "the compare sheet");
    } else if (folder_ && !sheet_name_.empty()) {
        throw UsageError("--compare-output names one file; with -o a folder, use --compare alone");
    }
}

OutputNames OutputRule::For(long number, const std::string& input) const {
    OutputNames names;
    if (pattern_) {
        names.output = pattern_->Format(number);
        if (sheet_pattern_) names.compare = sheet_pattern_->Format(number);
        return names;
    }
    names.output = folder_ ? (fs::path(output_) / fs::path(input).filename()).string() : output_;
    if (sheet_) {
        names.compare = sheet_name_.empty() || folder_
                            ? InsertBeforeExtension(names.output, "-compare")
                            : sheet_name_;
    }
    return names;
}

std::string OutputOfOne(const std::string& output, const std::string& input) {
    if (!IsFolder(output) || FramePattern::Parse(output)) return output;
    return (fs::path(output) / fs::path(input).filename()).string();
}

FramePattern RequirePattern(const std::string& text, const char* what) {
    std::optional<FramePattern> pattern = FramePattern::Parse(text);
    if (!pattern) {
        throw UsageError(
            fmt::format("{} \"{}\" must be a frame pattern too (e.g. out.####.exr)", what, text));
    }
    return *pattern;
}

void CheckPlan(const std::vector<PlannedOutput>& plan, const Options& options) {
    std::map<std::string, std::string> inputs;  // key -> name
    for (const PlannedOutput& planned : plan) {
        if (!planned.input.empty()) inputs.emplace(FileKey(planned.input), planned.input);
    }
    std::map<std::string, std::string> outputs;
    std::map<std::string, std::string> formats;
    for (const PlannedOutput& planned : plan) {
        for (const std::string* path : {&planned.names.output, &planned.names.compare}) {
            if (path->empty()) continue;
            CheckWritable(*path, options, formats);
            const std::string key = FileKey(*path);
            if (const auto in = inputs.find(key); in != inputs.end()) {
                const bool is_output = path == &planned.names.output;
                if (!(options.overwrite_input && is_output && SameFile(planned.input, *path))) {
                    throw OutputRefused(
                        fmt::format("{}: refusing to write over the input {}{}", *path, in->second,
                                    is_output ? " (--overwrite-input allows it)" : ""));
                }
            }
            if (const auto [at, added] = outputs.emplace(key, *path); !added) {
                throw OutputRefused(
                    fmt::format("{}: two results would be written to this file", *path));
            }
        }
    }
}

bool FinishedImage(const std::string& path) {
    return RegularFileAt(path) && ImageHeaderReads(path);
}

bool FinishedMovie(const std::string& path, std::size_t streams) {
    return RegularFileAt(path) && MovieOpens(path, streams);
}

void CheckMovieOutput(const std::string& input, const Options& options) {
    try {
        CheckOutputPath(options.output);
    } catch (const OutputError& e) {
        throw OutputRefused(e.what());
    }
    if (SameFile(input, options.output) && !options.overwrite_input) {
        throw OutputRefused(fmt::format(
            "{}: refusing to write over the input (--overwrite-input allows it)", options.output));
    }
}

bool SameFile(const std::string& a, const std::string& b) {
    return FileKey(a) == FileKey(b);
}

bool Exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

void SweepStaleTemporaries(const std::vector<PlannedOutput>& plan, Notes& notes) {
    std::vector<fs::path> targets;
    for (const PlannedOutput& planned : plan) {
        targets.emplace_back(planned.names.output);
        if (!planned.names.compare.empty()) targets.emplace_back(planned.names.compare);
    }
    const std::vector<fs::path> removed = RemoveStaleTemporaries(targets);
    if (!removed.empty()) {
        notes.Once("stale", fmt::format("removed {} temporary file(s) that a stopped run on this "
                                        "host left behind (the first: {})",
                                        removed.size(), removed[0].string()));
    }
}

}  // namespace render
