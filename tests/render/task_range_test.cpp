#include "tools/vemra-render/jobs/task_range.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace render {
namespace {

TEST(TaskRange, ChunksCoverTheFrameListOnceInOrder) {
    const std::vector<long> frames = {1001, 1002, 1003, 1004, 1005, 1006, 1007};
    struct Case {
        long chunk, task;
        std::vector<long> expected;
    };
    for (const Case& c :
         {Case{3, 1, {1001, 1002, 1003}}, Case{3, 2, {1004, 1005, 1006}}, Case{3, 3, {1007}},
          Case{3, 4, {}}, Case{3, 1'000'000'000'000, {}}, Case{7, 1, frames}, Case{100, 1, frames},
          Case{1, 7, {1007}}, Case{3, 0, {}}}) {
        const std::span<const long> chunk = ChunkOfTask(frames, c.chunk, c.task);
        EXPECT_EQ(std::vector<long>(chunk.begin(), chunk.end()), c.expected)
            << "chunk " << c.chunk << ", task " << c.task;
    }
    // Every frame in exactly one task, for every chunk size.
    for (long chunk = 1; chunk <= 8; ++chunk) {
        std::vector<long> joined;
        for (long task = 1; task <= TaskCount(frames.size(), chunk); ++task) {
            const std::span<const long> part = ChunkOfTask(frames, chunk, task);
            ASSERT_FALSE(part.empty()) << chunk << " " << task;
            joined.insert(joined.end(), part.begin(), part.end());
        }
        EXPECT_EQ(joined, frames) << chunk;
        EXPECT_EQ(TaskRange(TaskCount(frames.size(), chunk)),
                  "1-" + std::to_string(TaskCount(frames.size(), chunk)));
    }
}

TEST(TaskRange, TheIndexComesFromTheOptionOrTheSchedulersVariable) {
    std::map<std::string, std::string> environment;
    const auto getenv = [&](const char* name) -> const char* {
        const auto found = environment.find(name);
        return found == environment.end() ? nullptr : found->second.c_str();
    };
    EXPECT_EQ(ParseTaskIndex("12", getenv), 12);
    environment = {{"LSB_JOBINDEX", "4"}, {"SGE_TASK_ID", "3"}};
    EXPECT_EQ(ParseTaskIndex("auto", getenv), 3);
    environment["SLURM_ARRAY_TASK_ID"] = "7";
    EXPECT_EQ(ParseTaskIndex("auto", getenv), 7);
    environment["SLURM_ARRAY_TASK_ID"] = "";  // set but empty: the next one
    EXPECT_EQ(ParseTaskIndex("auto", getenv), 3);

    struct Refused {
        std::string text, variable, message;
    };
    for (const Refused& r :
         {Refused{"0", "", "from 1"}, Refused{"-2", "", "from 1"}, Refused{"3x", "", "from 1"},
          Refused{"", "", "from 1"}, Refused{"99999999999999999999", "", "from 1"},
          Refused{"auto", "", "SLURM_ARRAY_TASK_ID"},
          Refused{"auto", "undefined", "SLURM_ARRAY_TASK_ID undefined"}}) {
        environment.clear();
        if (!r.variable.empty()) environment["SLURM_ARRAY_TASK_ID"] = r.variable;
        try {
            ParseTaskIndex(r.text, getenv);
            ADD_FAILURE() << "accepted \"" << r.text << "\"";
        } catch (const TaskError& e) {
            EXPECT_NE(std::string(e.what()).find(r.message), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace render
