// Loading an effect library: the probe loads; every way of failing is one
// LoadError naming the file and the cause.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "sim/effect_library.h"
#include "sim/host.h"
#include "tests/sim/probe.h"

namespace {

using sim::EffectLibrary;
using sim::LoadError;

std::string LoadFailure(const std::string& path) {
    try {
        EffectLibrary::Load(path);
    } catch (const LoadError& error) {
        return error.what();
    }
    return "(loaded)";
}

TEST(SimLoader, LoadsTheProbeAndResolvesItsEntryPoint) {
    const EffectLibrary library = EffectLibrary::Load(SIM_PROBE_EFFECT);
    EXPECT_NE(library.entry_point(), nullptr);
    EXPECT_EQ(library.path(), SIM_PROBE_EFFECT);
}

TEST(SimLoader, EachFailureNamesTheFileAndTheCause) {
    const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "sim_loader";
    std::filesystem::create_directories(dir);
    const std::string text_file = (dir / "not_a_library.txt").string();
    std::ofstream(text_file) << "plain text, not a library\n";

    struct Case {
        const char* what;
        std::string path;
        const char* cause;
    };
    const Case cases[] = {
        {"missing file", (dir / "absent_effect.so").string(), "no such file"},
        {"text file", text_file, "not a loadable library"},
        {"directory", dir.string(), "not a regular file"},
        {"library without the entry point", SIM_NO_ENTRY_LIBRARY, "EntryPointFunc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string message = LoadFailure(c.path);
        EXPECT_NE(message.find(c.path), std::string::npos) << message;
        EXPECT_NE(message.find(c.cause), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
}

TEST(SimLoader, AMovedFromLibraryCannotBeDriven) {
    EffectLibrary library = EffectLibrary::Load(SIM_PROBE_EFFECT);
    EffectLibrary taken = std::move(library);
    EXPECT_NE(taken.entry_point(), nullptr);
    EXPECT_EQ(library.entry_point(), nullptr);  // NOLINT(bugprone-use-after-move)
    sim::Host host(library);
    EXPECT_THROW(host.About(), sim::HostError);
}

}  // namespace
