// Frames in flight, driven by readers and writers of the test's own: frame
// order, failures in every stage, slots never shared, real temporary files
// renamed into place in order. Built without the image library, so the
// ThreadSanitizer build runs it too.
#include "tools/vemra-render/run/frame_pipeline.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tools/vemra-render/run/atomic_output.h"

namespace render {
namespace {

namespace fs = std::filesystem;

/// A small random pause, so frames overtake each other in their work.
void Jitter(long frame) {
    std::mt19937 random(std::uint32_t(frame) * 2654435761u);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
}

/// Stages that record what happened to each frame and check that no slot
/// holds two frames at once.
struct Recorder {
    explicit Recorder(int slots) : busy(std::size_t(slots), -1) {}

    FrameStages Stages(std::set<long> fail_in_work = {}, long fail_in_finish = -1) {
        FrameStages stages;
        stages.work = [this, fail_in_work](long frame, int slot) {
            Claim(slot, frame);
            Jitter(frame);
            if (fail_in_work.count(frame) != 0) throw std::runtime_error(std::to_string(frame));
        };
        stages.finish = [this, fail_in_finish](long frame, int slot) {
            if (frame == fail_in_finish) throw std::runtime_error("finish");
            std::lock_guard lock(mutex);
            finished.push_back(frame);
            Release(slot);
        };
        stages.discard = [this](long frame, int slot) {
            std::lock_guard lock(mutex);
            discarded.push_back(frame);
            Release(slot);
        };
        return stages;
    }

    void Claim(int slot, long frame) {
        std::lock_guard lock(mutex);
        if (busy[std::size_t(slot)] >= 0) shared_slot = true;
        busy[std::size_t(slot)] = frame;
    }
    // Called with the mutex held.
    void Release(int slot) { busy[std::size_t(slot)] = -1; }

    std::mutex mutex;
    std::vector<long> busy;  ///< the frame each slot holds, -1: none
    std::vector<long> finished;
    std::vector<long> discarded;
    bool shared_slot = false;
};

std::vector<long> Iota(long count) {
    std::vector<long> frames(static_cast<std::size_t>(count));
    for (long i = 0; i < count; ++i) frames[std::size_t(i)] = i;
    return frames;
}

TEST(FramePipeline, FinishesEveryFrameInOrderWhateverTheFramesInFlight) {
    for (int in_flight : {1, 2, 3, 8}) {
        Recorder recorder(in_flight);
        const FramesResult result = RunFrames(recorder.Stages(), in_flight, 24);
        EXPECT_EQ(result.finished, 24) << in_flight;
        EXPECT_EQ(result.failed_frame, -1);
        EXPECT_EQ(recorder.finished, Iota(24)) << in_flight;
        EXPECT_TRUE(recorder.discarded.empty());
        EXPECT_FALSE(recorder.shared_slot);
    }
}

TEST(FramePipeline, WorksOnSeveralFramesAtOnce) {
    // Frames 0 and 1 each wait for the other to have started: only two
    // frames in flight at the same time get past this.
    std::mutex mutex;
    std::condition_variable both;
    int started = 0;
    FrameStages stages;
    stages.work = [&](long frame, int) {
        if (frame > 1) return;
        std::unique_lock lock(mutex);
        ++started;
        both.notify_all();
        if (!both.wait_for(lock, std::chrono::seconds(20), [&] { return started == 2; })) {
            throw std::runtime_error("frame " + std::to_string(frame) + " worked alone");
        }
    };
    stages.finish = [](long, int) {};
    const FramesResult result = RunFrames(stages, 2, 4);
    EXPECT_EQ(result.finished, 4);
    EXPECT_FALSE(result.error);
}

TEST(FramePipeline, AFailureKeepsExactlyTheFramesBeforeTheLowestFailingOne) {
    struct Case {
        const char* what;
        std::set<long> fail_in_work;
        long fail_in_finish;
        long failed;
    };
    for (const Case& c : {Case{"one frame's work", {5}, -1, 5},
                          Case{"two frames' work, the later first", {9, 3}, -1, 3},
                          Case{"a rename", {}, 4, 4}, Case{"the first frame", {0}, -1, 0}}) {
        for (int in_flight : {1, 4}) {
            Recorder recorder(in_flight);
            const FramesResult result =
                RunFrames(recorder.Stages(c.fail_in_work, c.fail_in_finish), in_flight, 16);
            EXPECT_EQ(result.failed_frame, c.failed) << c.what << ", " << in_flight;
            EXPECT_EQ(result.finished, c.failed) << c.what;
            EXPECT_EQ(recorder.finished, Iota(c.failed)) << c.what;
            ASSERT_TRUE(result.error);
            // Every frame taken after the finished ones was discarded, none twice.
            std::vector<long> discarded = recorder.discarded;
            std::sort(discarded.begin(), discarded.end());
            EXPECT_TRUE(std::adjacent_find(discarded.begin(), discarded.end()) == discarded.end());
            EXPECT_TRUE(discarded.empty() || discarded.front() == c.failed) << c.what;
            EXPECT_LE(long(discarded.size()), in_flight) << c.what;
        }
    }
}

TEST(FramePipeline, KeepingGoingFinishesEveryFrameButTheFailingOnesAndReportsThemInOrder) {
    for (int in_flight : {1, 4}) {
        Recorder recorder(in_flight);
        FrameStages stages = recorder.Stages({9, 3}, 6);
        std::vector<long> reported;
        stages.failed = [&](long frame, const std::exception_ptr& error) {
            EXPECT_TRUE(error);
            reported.push_back(frame);
        };
        const FramesResult result =
            RunFrames(stages, in_flight, 16, nullptr, OnFailure::kKeepGoing);
        EXPECT_EQ(reported, (std::vector<long>{3, 6, 9})) << in_flight;
        EXPECT_EQ(result.failures, 3);
        EXPECT_EQ(result.failed_frame, 3);
        EXPECT_EQ(result.finished, 13);
        std::vector<long> expected = Iota(16);
        std::erase_if(expected, [](long frame) { return frame == 3 || frame == 6 || frame == 9; });
        EXPECT_EQ(recorder.finished, expected) << in_flight;
        std::vector<long> discarded = recorder.discarded;
        std::sort(discarded.begin(), discarded.end());
        EXPECT_EQ(discarded, (std::vector<long>{3, 6, 9})) << in_flight;
    }
    // Stopping (the default) reports the failing frame alone.
    Recorder recorder(1);
    FrameStages stages = recorder.Stages({3}, -1);
    long reports = 0;
    stages.failed = [&](long, const std::exception_ptr&) { ++reports; };
    EXPECT_EQ(RunFrames(stages, 1, 16).failures, 1);
    EXPECT_EQ(reports, 1);
}

TEST(FramePipeline, TakesFromAReaderInOrderUntilItEnds) {
    // A reader handing out numbered frames, one at a time, then ending; a
    // truncated last frame fails after the frames before it are written.
    for (const bool truncated : {false, true}) {
        std::vector<long> written;
        std::vector<long> held(3, -1);  // slot -> the number it read; one slot, one entry
        long next = 100;
        FrameStages stages;
        stages.take = [&](long frame, int slot) {
            if (frame == 10) {
                if (truncated) throw std::runtime_error("truncated");
                return false;
            }
            held[std::size_t(slot)] = next++;
            return true;
        };
        stages.work = [&](long frame, int) { Jitter(frame); };
        stages.finish = [&](long, int slot) { written.push_back(held[std::size_t(slot)]); };
        const FramesResult result = RunFrames(stages, 3);
        std::vector<long> expected(10);
        for (long i = 0; i < 10; ++i) expected[std::size_t(i)] = 100 + i;
        EXPECT_EQ(written, expected);
        EXPECT_EQ(result.finished, 10);
        EXPECT_EQ(result.failed_frame, truncated ? 10 : -1);
    }
}

TEST(FramePipeline, StopsTakingFramesOnceAskedTo) {
    std::atomic<bool> stop{false};
    FrameStages stages;
    stages.work = [](long, int) {};
    stages.finish = [&](long frame, int) {
        if (frame == 3) stop = true;
    };
    const FramesResult result = RunFrames(stages, 2, 1000, &stop);
    EXPECT_TRUE(result.stopped);
    EXPECT_GE(result.finished, 4);
    EXPECT_LE(result.finished, 6);  // at most the frames already taken
}

/// What the slots hold under a memory budget, as the pipeline's callbacks
/// tell it: a slot holds at least its frame's weight from the frame's work
/// on, and keeps it after the frame until released.
struct Ledger {
    Ledger(int slots, std::vector<std::uint64_t> weights_by_frame, std::uint64_t bytes)
        : weights(std::move(weights_by_frame)),
          budget(bytes),
          kept(std::size_t(slots), 0),
          busy(std::size_t(slots), -1) {}

    /// At the start of `frame`'s work in `slot`: the slots' holdings must fit
    /// the budget, unless no other frame is in flight.
    void Start(long frame, int slot) {
        std::lock_guard lock(mutex);
        auto& own = kept[std::size_t(slot)];
        own = std::max(own, weights[std::size_t(frame)]);
        busy[std::size_t(slot)] = frame;
        std::uint64_t total = 0;
        int working = 0;
        for (std::size_t s = 0; s < kept.size(); ++s) {
            total += kept[s];
            working += busy[s] >= 0;
        }
        if (total > budget && working > 1) over_budget = true;
    }
    void End(int slot) {
        std::lock_guard lock(mutex);
        busy[std::size_t(slot)] = -1;
    }
    void Release(int slot) {
        std::lock_guard lock(mutex);
        if (busy[std::size_t(slot)] >= 0) released_busy = true;
        kept[std::size_t(slot)] = 0;
    }

    std::vector<std::uint64_t> weights;  ///< by frame
    std::uint64_t budget;
    std::mutex mutex;
    std::vector<std::uint64_t> kept;
    std::vector<long> busy;
    bool over_budget = false;
    bool released_busy = false;
};

TEST(FramePipeline, FramesInFlightStayWithinTheBudgetEachWeighedAsTaken) {
    struct Case {
        const char* what;
        std::vector<std::uint64_t> weights;
    };
    const Case cases[] = {
        {"alike, four fit", {20, 20, 20, 20, 20, 20, 20, 20}},
        {"a small first frame, then large ones", {1, 60, 60, 60, 60, 1, 1, 60, 60}},
        {"frames above the budget among small ones", {10, 150, 10, 10, 150, 150, 10}},
    };
    for (const Case& c : cases) {
        for (const int in_flight : {1, 4}) {
            Ledger ledger(in_flight, c.weights, 100);
            std::vector<long> finished;
            FrameStages stages;
            stages.work = [&](long frame, int slot) {
                ledger.Start(frame, slot);
                Jitter(frame);
            };
            stages.finish = [&](long frame, int slot) {
                finished.push_back(frame);
                ledger.End(slot);
            };
            stages.discard = [&](long, int slot) { ledger.End(slot); };
            FrameBudget budget{100, [&](long frame, int) { return c.weights[std::size_t(frame)]; },
                               [&](int slot) { ledger.Release(slot); }};
            const long count = long(c.weights.size());
            const FramesResult result =
                RunFrames(stages, in_flight, count, nullptr, OnFailure::kStop, budget);
            EXPECT_EQ(result.finished, count) << c.what << ", " << in_flight;
            EXPECT_EQ(finished, Iota(count)) << c.what;
            EXPECT_FALSE(ledger.over_budget) << c.what << ", " << in_flight;
            EXPECT_FALSE(ledger.released_busy) << c.what << ", " << in_flight;
        }
    }
    // Without a budget the ledger sees four frames of 60 at once, each held
    // back until all four have started: the check above can fail.
    Ledger ledger(4, {60, 60, 60, 60, 60}, 100);
    std::mutex mutex;
    std::condition_variable all;
    int started = 0;
    FrameStages stages;
    stages.work = [&](long frame, int slot) {
        ledger.Start(frame, slot);
        std::unique_lock lock(mutex);
        ++started;
        all.notify_all();
        all.wait_for(lock, std::chrono::seconds(20), [&] { return frame >= 4 || started >= 4; });
    };
    stages.finish = [&](long, int slot) { ledger.End(slot); };
    EXPECT_EQ(RunFrames(stages, 4, 5).finished, 5);
    EXPECT_TRUE(ledger.over_budget);
}

class FramePipelineFiles : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vemra-pipeline-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    /// The names in the folder, temporaries included.
    std::set<std::string> Listing() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    fs::path dir_;
};

TEST_F(FramePipelineFiles, OutputsAppearInFrameOrderAndAFailureLeavesNoTemporary) {
    constexpr int kInFlight = 4;
    std::vector<std::unique_ptr<AtomicFile>> pending(kInFlight);
    std::vector<std::string> seen_at_finish;  // what was in place when each frame was renamed
    FrameStages stages;
    stages.work = [&](long frame, int slot) {
        auto file = std::make_unique<AtomicFile>(dir_ / ("frame" + std::to_string(frame)));
        const std::string text = "frame " + std::to_string(frame);
        Jitter(frame);
        file->Write(std::as_bytes(std::span(text)));
        file->Flush();
        pending[std::size_t(slot)] = std::move(file);
        if (frame == 9) throw std::runtime_error("frame 9 failed");
    };
    stages.finish = [&](long frame, int slot) {
        std::size_t in_place = 0;
        for (const std::string& name : Listing()) in_place += name.rfind("frame", 0) == 0;
        seen_at_finish.push_back(std::to_string(frame) + ":" + std::to_string(in_place));
        pending[std::size_t(slot)]->Commit();
        pending[std::size_t(slot)].reset();
    };
    stages.discard = [&](long, int slot) { pending[std::size_t(slot)].reset(); };
    const FramesResult result = RunFrames(stages, kInFlight, 20);
    EXPECT_EQ(result.failed_frame, 9);
    EXPECT_EQ(result.finished, 9);
    std::set<std::string> expected;
    for (int i = 0; i < 9; ++i) expected.insert("frame" + std::to_string(i));
    EXPECT_EQ(Listing(), expected);  // nothing else: no temporary, no later frame
    for (std::size_t i = 0; i < seen_at_finish.size(); ++i) {
        EXPECT_EQ(seen_at_finish[i], std::to_string(i) + ":" + std::to_string(i));
    }
}

}  // namespace
}  // namespace render
