// vemra-render: renders images, sequences and raw video through the Vemra
// Temperature effect library, loaded and driven by the stand-in host.
#include <OpenImageIO/imageio.h>
#include <fmt/format.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "tools/vemra-render/io/movie_reader.h"
#include "tools/vemra-render/jobs/jobs.h"
#include "tools/vemra-render/jobs/options.h"
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

int Fail(const std::string& message, int code) {
    std::fflush(stdout);
    fmt::print(stderr, "vemra-render: error: {}\n", message);
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    render::InstallInterruptHandlers();
    std::optional<render::Options> options;
    try {
        // Help lists the effect's controls when the default effect loads.
        options = render::ParseCommandLine(argc, argv, []() -> std::string {
            try {
                render::EffectSession session(DefaultPlugin(), 1);
                return fmt::format("Controls of {}:\n{}", session.path(),
                                   render::ControlTable(session));
            } catch (const std::exception&) {
                return "";
            }
        });
    } catch (const render::UsageError& e) {
        return Fail(std::string(e.what()) + " (see --help)", 2);
    }
    if (!options) return 0;

    try {
        // Printing a farm's task range needs the frame list alone, not the effect.
        if (options->print_tasks) {
            render::PrintTasks(*options);
            return 0;
        }
        OIIO::attribute("threads", options->threads);
        render::EffectSession session(options->plugin.empty() ? DefaultPlugin() : options->plugin,
                                      options->threads);
        if (options->describe) {
            render::Describe(session);
        } else if (options->raw_size) {
            render::RunRaw(*options, session);
        } else if (options->inputs.empty()) {
            render::RunChart(*options, session);
        } else if (options->inputs.size() == 1 && render::IsMoviePath(options->inputs[0])) {
            render::RunMovie(*options, session);
        } else {
            render::RunFiles(*options, session);
        }
    } catch (const render::UsageError& e) {
        return Fail(std::string(e.what()) + " (see --help)", 2);
    } catch (const std::exception& e) {
        return Fail(e.what(), 1);
    }
    return 0;
}
