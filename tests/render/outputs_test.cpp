// The one rule for output names, as a table: -o as a pattern, a folder or a
// file, with and without a sheet; and the plan check refusing two results
// into one file and a result over its input.
#include "tools/vemra-render/jobs/outputs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/vemra-render/io/image_files.h"

namespace render {
namespace {

namespace fs = std::filesystem;

TEST(OutputRule, NamesEachResultAndItsSheetFromTheOutput) {
    const fs::path dir = fs::temp_directory_path() / ("vemra-names-" + std::to_string(::getpid()));
    fs::create_directories(dir / "folder");
    const std::string folder = (dir / "folder").string();
    struct Row {
        std::string output;
        bool sheet;
        std::string sheet_name;
        bool folders;
        long number;
        std::string input;
        OutputNames expected;
    };
    const Row rows[] = {
        {"o.####.exr", false, "", false, 17, "", {"o.0017.exr", ""}},
        {"o.%03d.png", true, "", false, 5, "", {"o.005.png", "o-compare.005.png"}},
        {"o.####.exr", true, "s/sheet.#.exr", false, 12, "", {"o.0012.exr", "s/sheet.12.exr"}},
        {"out.png", true, "", false, 3, "in.png", {"out.png", "out-compare.png"}},
        {"out.png", true, "side.png", false, 1, "", {"out.png", "side.png"}},
        {"out.png", false, "", true, 1, "a/in.tif", {"out.png", ""}},
        {folder, true, "", true, 2, "a/b.tif", {folder + "/b.tif", folder + "/b-compare.tif"}},
        {"new/", false, "", true, 1, "x/c.exr", {"new/c.exr", ""}},
        // A folder counts only where several files may go to it.
        {folder, false, "", false, 1, "a/b.tif", {folder, ""}},
    };
    for (const Row& row : rows) {
        const OutputNames names = OutputRule(row.output, row.sheet, row.sheet_name, row.folders)
                                      .For(row.number, row.input);
        EXPECT_EQ(names.output, row.expected.output) << row.output;
        EXPECT_EQ(names.compare, row.expected.compare) << row.output;
    }
    // A sheet name that does not fit its output.
    EXPECT_THROW(OutputRule("o.####.png", true, "sheet.png", false), UsageError);
    EXPECT_THROW(OutputRule(folder, true, "sheet.png", true), UsageError);
    fs::remove_all(dir);
}

TEST(OutputRule, ThePlanCheckRefusesTwoResultsInOneFileAndAResultOverItsInput) {
    const fs::path dir = fs::temp_directory_path() / ("vemra-plan-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string in = (dir / "in.png").string();
    std::ofstream(in) << "x";
    const std::string out = (dir / "out.png").string();
    Options options;
    EXPECT_NO_THROW(CheckPlan({{in, {out, (dir / "out-compare.png").string()}}}, options));
    struct Row {
        std::vector<PlannedOutput> plan;
        bool overwrite_input;
        const char* refusal;  ///< empty: taken
    };
    const Row rows[] = {
        {{{in, {out, out}}}, false, "two results would be written to this file"},
        {{{in, {out, ""}}, {in, {out, ""}}}, false, "two results would be written to this file"},
        {{{in, {in, ""}}}, false, "refusing to write over the input"},
        {{{in, {in, ""}}}, true, ""},
        {{{in, {out, in}}}, true, "refusing to write over the input"},  // never the sheet
        {{{in, {(dir / "none/out.png").string(), ""}}}, false, "does not exist"},
        {{{in, {(dir / "out.nosuchformat").string(), ""}}}, false, "no image format writes"},
    };
    for (const Row& row : rows) {
        options.overwrite_input = row.overwrite_input;
        std::string refusal;
        try {
            CheckPlan(row.plan, options);
        } catch (const std::exception& e) {
            EXPECT_TRUE(IsRefusal(e)) << e.what();
            refusal = e.what();
        }
        if (*row.refusal == '\0') {
            EXPECT_EQ(refusal, "");
        } else {
            EXPECT_NE(refusal.find(row.refusal), std::string::npos) << refusal;
        }
    }
    fs::remove_all(dir);
}

// --skip-existing takes as done only a regular file whose header reads;
// anything else at the name is rendered again, or refused when it is no
// file at all.
TEST(OutputRule, OnlyAFinishedImageCountsAsExisting) {
    const fs::path dir =
        fs::temp_directory_path() / ("vemra-finished-" + std::to_string(::getpid()));
    fs::create_directories(dir / "folder");
    const std::string whole = (dir / "whole.png").string();
    WriteImage(whole, Image::Blank(1, 1, SampleType::kUint8, true), {});
    // An OpenEXR file to cut: OpenImageIO's PNG reader leaks its message
    // when libpng gives up inside a header (a library leak the tool's own
    // runs suppress).
    WriteImage((dir / "whole.exr").string(), Image::Blank(1, 1, SampleType::kFloat, true), {});
    std::ostringstream exr_bytes;
    exr_bytes << std::ifstream(dir / "whole.exr", std::ios::binary).rdbuf();
    const std::string exr = exr_bytes.str();
    const auto put = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return (dir / name).string();
    };
    fs::create_symlink(dir / "nowhere.png", dir / "dangling.png");
    fs::create_symlink(whole, dir / "link.png");
    ASSERT_EQ(::mkfifo((dir / "fifo.png").c_str(), 0600), 0);
    struct Row {
        std::string path;
        bool finished;
        bool refused = false;
    };
    const Row rows[] = {
        {whole, true},
        {(dir / "link.png").string(), true},
        {(dir / "missing.png").string(), false},
        {(dir / "dangling.png").string(), false},
        {put("empty.png", ""), false},
        {(dir / "whole.exr").string(), true},
        {put("cut.exr", exr.substr(0, exr.size() / 2)), false},  // cut inside its header
        {put("other.png", "GIF89a not a png"), false},
        {(dir / "folder").string(), false, true},
        {(dir / "fifo.png").string(), false, true},
    };
    for (const Row& row : rows) {
        try {
            EXPECT_EQ(FinishedImage(row.path), row.finished) << row.path;
            EXPECT_FALSE(row.refused) << row.path;
        } catch (const std::exception& e) {
            EXPECT_TRUE(row.refused && IsRefusal(e)) << e.what();
        }
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace render
