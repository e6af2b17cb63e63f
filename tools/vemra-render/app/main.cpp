// vemra-render: renders images, sequences, movies and raw video through the
// Vemra Temperature effect library, loaded and driven by the stand-in host.
#include <fmt/format.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "tools/vemra-render/app/command_line.h"
#include "tools/vemra-render/app/exit_status.h"
#include "tools/vemra-render/app/help.h"
#include "tools/vemra-render/jobs/controls.h"
#include "tools/vemra-render/jobs/jobs.h"
#include "tools/vemra-render/run/interrupt.h"
#include "tools/vemra-render/session/effect_session.h"

namespace fs = std::filesystem;

namespace {

/// The effect library built beside the tool: next to it, where an install
/// puts it (lib/vemra-temperature/ beside bin/), or where the build tree puts
/// it relative to the tool.
std::string DefaultPlugin() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    const fs::path folder = error ? fs::current_path() : self.parent_path();
    const fs::path candidates[] = {folder / VEMRA_EFFECT_FILE_NAME,
                                   folder / VEMRA_EFFECT_INSTALL_RELATIVE_PATH,
                                   folder / VEMRA_EFFECT_RELATIVE_PATH};
    std::string tried;
    for (const fs::path& candidate : candidates) {
        if (fs::is_regular_file(candidate, error)) return candidate.lexically_normal().string();
        tried += (tried.empty() ? "" : ", ") + candidate.lexically_normal().string();
    }
    throw render::EffectError(
        fmt::format("cannot find the effect library (looked for {}); give --plugin PATH", tried));
}

/// The default effect's controls, for the end of --help; nothing when it
/// cannot be loaded.
std::string ControlsForHelp() {
    try {
        render::EffectSession session(DefaultPlugin(), 1);
        return fmt::format("Controls of {}:\n{}", session.path(), render::ControlTable(session));
    } catch (const std::exception&) {
        return "";
    }
}

/// Frames are large, allocated on one thread and often freed on another.
/// glibc raises its mmap threshold to the size of each mapped block freed,
/// after which frames come from per-thread heaps that keep what is freed: a
/// run's resident memory then grows past --memory by a frame for every
/// worker, though no more frames are alive at once. A fixed threshold maps
/// every block of a megabyte or more on its own and returns it when freed.
void ReturnFreedFramesToTheSystem() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

}  // namespace

int main(int argc, char** argv) {
    ReturnFreedFramesToTheSystem();
    render::StartInterruptThread();
    // The run's one input, which a failure without a file name of its own
    // (the standard library's out of memory) is told against.
    std::string input;
    try {
        const std::optional<render::Options> options =
            render::ParseCommandLine(argc, argv, ControlsForHelp);
        if (!options) return 0;
        if (options->inputs.empty() && options->output.empty() && !options->describe &&
            !options->raw_size && !options->print_tasks) {
            std::fputs(render::ShortUsage().c_str(), stderr);
            return 2;
        }
        render::SetProgressStyle(options->progress);
        if (options->inputs.size() == 1) input = options->inputs[0];
        // Printing a farm's task range needs the frame list alone, not the effect.
        if (options->print_tasks) {
            render::PrintTasks(*options);
            return 0;
        }
        render::EffectSession session(options->plugin.empty() ? DefaultPlugin() : options->plugin,
                                      options->threads);
        render::RunJob(*options, session);
    } catch (const std::exception& e) {
        return render::ReportFailure(e, input);
    } catch (...) {
        return render::ReportUnknownFailure();
    }
    return 0;
}
