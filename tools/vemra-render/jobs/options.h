// The command line of vemra-render: what the user asked for, parsed with CLI11.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tools/vemra-render/session/layout_choice.h"

namespace render {

/// Thrown for a command line that cannot be followed; the message says why.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct Options {
    std::vector<std::string> inputs;  ///< files, or one frame pattern
    std::string output;               ///< -o: a file, a frame pattern or a folder
    bool compare = false;             ///< write the before/after sheet too
    std::string compare_output;       ///< its name; empty: derived from the output's

    // Effect controls, in the units the host's controls show; unset ones take
    // the defaults the effect declares.
    std::optional<double> temperature;
    std::optional<double> magenta;
    std::optional<double> opacity;  ///< percent
    std::optional<bool> clamp;

    std::optional<HostKind> host;
    std::optional<Depth> depth;
    std::string plugin;               ///< empty: the effect library built beside the tool
    int threads = 1;                  ///< threads in all: frames in flight share them out
    std::optional<int> in_flight;     ///< --in-flight; unset: planned (work_plan.h)
    std::uint64_t memory_budget = 0;  ///< --memory, bytes; 0: DefaultMemoryBudget()
    std::string compression;          ///< --compression; empty: see compression.h

    std::string frames;  ///< --frames, e.g. "1-240"
    /// --start-number: the file number of a multi-frame input's first frame
    /// in the output pattern; unset: 1.
    std::optional<long> start_number;

    // A sequence in chunks, one per farm task (task_range.h).
    long chunk = 0;              ///< --chunk: frames per task; 0: the whole sequence
    std::optional<long> task;    ///< --task, from 1 (auto already looked up)
    bool print_tasks = false;    ///< --print-tasks: print the array range, render nothing
    bool skip_existing = false;  ///< leave frames whose outputs exist untouched
    bool keep_going = false;     ///< a failing frame does not stop the others
    std::optional<std::pair<int, int>> chart_size;

    std::optional<std::pair<int, int>> raw_size;  ///< --raw WIDTHxHEIGHT
    std::string pix_fmt = "bgra";

    // A movie output (movie_writer.h).
    std::string codec;           ///< --codec; empty: the writer's default rule
    std::string movie_pix_fmt;   ///< --pix-fmt with a movie output; empty: the writer's choice
    std::optional<int> quality;  ///< --quality

    std::uint64_t max_pixels = 0;
    bool overwrite_input = false;
    bool describe = false;
    bool quiet = false;
};

/// Parses the command line. Returns nullopt when help or the version was
/// asked for and printed (to standard output). `help_extra`, called only
/// when help is printed, adds text after the options (the effect's controls).
/// Throws UsageError for an unknown option, a missing or malformed value, or
/// options that do not go together.
std::optional<Options> ParseCommandLine(int argc, char** argv,
                                        const std::function<std::string()>& help_extra = {});

}  // namespace render
