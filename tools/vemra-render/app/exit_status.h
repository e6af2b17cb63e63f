// The tool's exit status, one rule for every job:
//   0       the job was done;
//   1       a failure while reading, rendering or writing (an input that
//           cannot be read, a frame the effect fails on, a full disk);
//   2       the request was refused before any output existed: the command
//           line, a value outside a control's declared range, or a plan
//           that the inputs' headers rule out (two results into one file,
//           72 frames into one file, a size above --max-pixels);
//   signal  interrupted: after removing the unfinished output the process
//           dies by the signal itself (run/interrupt.h).
// An error is a refusal when its class says so (run/refusal.h).
#pragma once

#include <exception>
#include <string>

namespace render {

/// Prints the one-line message of `error` ("vemra-render: error: ...", with
/// a pointer to --help for a command line that cannot be followed) and
/// returns the exit status it calls for: 2 for a refusal, else 1. The
/// standard library's own exceptions are told in words (run/messages.h),
/// after `file` when one is given (the run's one input): their texts name
/// no file.
int ReportFailure(const std::exception& error, const std::string& file = {});

/// Prints the message for something thrown that is no std::exception, and
/// returns 1.
int ReportUnknownFailure();

/// The rule above as a table, for --help.
std::string ExitStatusHelp();

}  // namespace render
