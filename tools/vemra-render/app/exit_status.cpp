#include "tools/vemra-render/app/exit_status.h"

#include <fmt/format.h>

#include <cstdio>

#include "tools/vemra-render/jobs/options.h"
#include "tools/vemra-render/run/messages.h"
#include "tools/vemra-render/run/quiet_stderr.h"
#include "tools/vemra-render/run/refusal.h"

namespace render {

int ReportFailure(const std::exception& error, const std::string& file) {
    std::fflush(stdout);
    const bool usage = dynamic_cast<const UsageError*>(&error) != nullptr;
    const std::string where = !file.empty() && IsLibraryError(error) ? file + ": " : "";
    WriteMessage(fmt::format("vemra-render: error: {}{}{}\n", where, ErrorText(error),
                             usage ? " (see --help)" : ""));
    return IsRefusal(error) ? 2 : 1;
}

int ReportUnknownFailure() {
    std::fflush(stdout);
    WriteMessage("vemra-render: error: an internal error (an exception of unknown type)\n");
    return 1;
}

std::string ExitStatusHelp() {
    return R"(Exit status:
  0       done
  1       a failure while reading, rendering or writing; the frames before it are
          kept, a movie output is not written
  2       refused before any output exists: the command line, a value outside a
          control's valid range, or a plan the inputs' headers rule out (two
          results into one file, a file of several frames into one file, an image
          above --max-pixels)
  signal  interrupted (SIGINT, SIGTERM, SIGHUP): the unfinished output is removed,
          then the tool dies by the signal itself, as a shell expects
)";
}

}  // namespace render
