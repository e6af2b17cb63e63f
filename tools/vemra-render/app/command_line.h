// The command line of vemra-render, parsed with CLI11 into the plain Options
// a job follows. It knows the options and their values, not the formats the
// I/O layer reads and writes (those are in the help text alone, help.h).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "tools/vemra-render/jobs/options.h"

namespace render {

/// Fills Options from the command line: every option and its value, each
/// value checked on its own (a size, a host name), no combinations. Returns
/// nullopt when help or the version was asked for and printed (to standard
/// output). `help_extra`, called only when help is printed, adds text after
/// the options (the effect's controls). Throws UsageError for an unknown
/// option or a missing or malformed value.
std::optional<Options> ReadCommandLine(int argc, char** argv,
                                       const std::function<std::string()>& help_extra = {});

/// ReadCommandLine, then the check of the options as a whole (CheckOptions),
/// then the farm task --task names (auto: from the scheduler's environment).
/// Throws UsageError.
std::optional<Options> ParseCommandLine(int argc, char** argv,
                                        const std::function<std::string()>& help_extra = {});

}  // namespace render
