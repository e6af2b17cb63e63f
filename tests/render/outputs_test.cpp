// The one rule for output names, as a table: -o as a pattern, a folder or a
// file, with and without a sheet; and the plan check refusing two results
// into one file and a result over its input.
#include "tools/vemra-render/jobs/outputs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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

}  // namespace
}  // namespace render
