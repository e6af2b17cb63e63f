// Where a run's results go, decided in one place: the rule that names each
// result and its before/after sheet, the check of a whole plan before any
// work starts, and the sweep of temporaries a killed run left behind.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/vemra-render/io/frame_pattern.h"
#include "tools/vemra-render/jobs/options.h"
#include "tools/vemra-render/run/notes.h"

namespace render {

/// The files one result is written to.
struct OutputNames {
    std::string output;
    std::string compare;  ///< the before/after sheet; empty: none
};

/// How results are named, from -o, --compare and --compare-output: -o as a
/// frame pattern (a name per file number), as a folder (the input's own name
/// inside it), or as one file. The sheet follows the output: a pattern beside
/// a pattern ("-compare" added to the part before the frame token, or
/// --compare-output, which must then be a pattern too), and beside a file
/// "OUTPUT-compare.EXT" or --compare-output as it is.
class OutputRule {
  public:
    /// `output` is -o; `sheet`: a sheet is written (--compare, or always for
    /// the test chart); `sheet_name` is --compare-output; `folders`: -o may
    /// name a folder (file inputs; a folder is one that exists, or a name
    /// ending in '/'). Throws UsageError for a sheet name that does not fit
    /// the output: a plain name beside a pattern, or any name beside a folder.
    OutputRule(const std::string& output, bool sheet, const std::string& sheet_name, bool folders);

    /// True when -o is a frame pattern.
    bool pattern() const { return pattern_.has_value(); }
    /// True when -o is a folder.
    bool folder() const { return folder_; }

    /// The names of result `number` (the file number, for a pattern) of
    /// `input` (whose name a folder output takes).
    OutputNames For(long number, const std::string& input = {}) const;

  private:
    std::string output_;
    std::optional<FramePattern> pattern_;
    bool folder_ = false;
    bool sheet_ = false;
    std::string sheet_name_;
    std::optional<FramePattern> sheet_pattern_;
};

/// The output of a run of one input: -o itself, or, when -o names a folder
/// (one that exists, or a name ending in '/'), the input's own name in it.
std::string OutputOfOne(const std::string& output, const std::string& input);

/// A pattern, or throws UsageError saying that `what` ("the output", "the
/// compare sheet") must be one too.
FramePattern RequirePattern(const std::string& text, const char* what);

/// One planned result: where it comes from and where it goes.
struct PlannedOutput {
    std::string input;  ///< empty: none (the test chart)
    OutputNames names;
};

/// Refuses, before anything is rendered, outputs whose folder is missing or
/// whose format the tool cannot write or compress as asked, two results going
/// to one file, and a result replacing an input (unless --overwrite-input; a
/// sheet never replaces an input). A FIFO or a device at an output's name is
/// written into directly, and refused for a format that cannot be written
/// front to back; a socket or a block device is refused. Throws a refusal
/// naming the file.
void CheckPlan(const std::vector<PlannedOutput>& plan, const Options& options);

/// Refuses a movie output whose folder is missing, that is a socket or a
/// block device, or that would replace the movie `input` (unless
/// --overwrite-input).
void CheckMovieOutput(const std::string& input, const Options& options);

/// True when a finished image is at `path`, which --skip-existing leaves as
/// it is: a regular file (or a link to one) whose header reads. Nothing
/// there, a dangling link, an empty file or one cut short in its header:
/// false, and it is rendered again. Throws a refusal for a name held by
/// anything else (a folder, a FIFO, a device, a socket), of which it cannot
/// be told whether it holds the frame.
bool FinishedImage(const std::string& path);

/// The same for a movie: a regular file that opens as a movie with a video
/// stream and at least `streams` streams (the video and those it copies).
bool FinishedMovie(const std::string& path, std::size_t streams);

/// True when `a` and `b` name one file: the same inode if both exist, else
/// the same path once made absolute and normalised.
bool SameFile(const std::string& a, const std::string& b);

/// True when something, even a broken link, sits at `path`.
bool Exists(const std::string& path);

/// Removes the temporaries a killed run on this host left for the outputs
/// of `plan`, and says so in a note.
void SweepStaleTemporaries(const std::vector<PlannedOutput>& plan, Notes& notes);

}  // namespace render
