// The text of --help around the options' own lines: what the tool is, and
// the rules of hosts, patterns, farms, compression, movies, raw video and
// the exit status. It is the one part of the command line that asks the I/O
// layer what it writes.
#pragma once

#include <string>

namespace render {

/// The line at the top of --help.
extern const char* const kDescription;

/// The text after the options.
std::string HelpFooter();

/// The few lines printed for a run that names nothing to do (no input, no
/// output, no --describe, --raw or --print-tasks).
std::string ShortUsage();

}  // namespace render
