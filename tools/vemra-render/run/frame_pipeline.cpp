#include "tools/vemra-render/run/frame_pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace render {

namespace {

constexpr long kNoFailure = std::numeric_limits<long>::max();

/// The shared state of one run. Two locks: `take_mutex` keeps taking in frame
/// order, `mutex` guards the rest; neither is held while a stage runs, except
/// `take_mutex` around `take`, which must run in order.
class Run {
  public:
    Run(const FrameStages& stages, long count, const std::atomic<bool>* stop, OnFailure on_failure,
        const FrameBudget& budget, int slots)
        : stages_(stages),
          count_(count),
          stop_(stop),
          on_failure_(on_failure),
          budget_(budget),
          held_(std::size_t(slots), 0),
          busy_(std::size_t(slots), false) {}

    void Worker(int slot) {
        for (;;) {
            long frame = 0;
            if (!Take(slot, frame)) return;
            std::exception_ptr error;
            try {
                stages_.work(frame, slot);
            } catch (...) {
                error = std::current_exception();
                Fail(frame, error);
            }
            Finish(frame, slot, error);
        }
    }

    FramesResult Result() {
        std::lock_guard lock(mutex_);
        FramesResult result;
        result.finished = finished_;
        result.failures = failures_;
        result.stopped = stopped_;
        if (failed_ != kNoFailure) {
            result.failed_frame = failed_;
            result.error = error_;
        }
        return result;
    }

  private:
    /// Claims the next frame for `slot`; false when no frame is left to take.
    bool Take(int slot, long& frame) {
        std::lock_guard take_lock(take_mutex_);
        if (no_more_) return false;
        if (stop_ != nullptr && stop_->load()) {
            std::lock_guard lock(mutex_);
            stopped_ = true;
            no_more_ = true;
            return false;
        }
        {
            std::lock_guard lock(mutex_);
            // With kStop, nothing after a failure starts.
            if (failed_ != kNoFailure && on_failure_ == OnFailure::kStop) no_more_ = true;
        }
        if (no_more_ || (count_ >= 0 && next_take_ >= count_)) {
            no_more_ = true;
            return false;
        }
        frame = next_take_;
        try {
            if (stages_.take && !stages_.take(frame, slot)) {
                no_more_ = true;
                return false;
            }
            if (budget_.bytes != 0) Reserve(slot, budget_.weigh(frame, slot));
        } catch (...) {
            // No later frame is taken, so this one need not wait for its turn.
            Fail(frame, std::current_exception());
            no_more_ = true;
            if (stages_.discard) stages_.discard(frame, slot);
            return false;
        }
        ++next_take_;
        return true;
    }

    /// Waits, with the take lock held, until the `need` bytes of the frame
    /// `slot` took fit in the budget beside what the other slots hold, or no
    /// other frame is in flight; releases idle slots' buffers to make room.
    void Reserve(int slot, std::uint64_t need) {
        std::unique_lock lock(mutex_);
        const auto own = std::size_t(slot);
        for (;;) {
            std::uint64_t total = std::max(held_[own], need);
            bool others_busy = false;
            for (std::size_t s = 0; s < held_.size(); ++s) {
                if (s == own) continue;
                total += held_[s];
                others_busy = others_busy || busy_[s];
            }
            if (total <= budget_.bytes) break;
            if (ReleaseIdle(own, need)) continue;
            if (!others_busy) break;  // alone, however much it needs
            turn_.wait(lock);
        }
        held_[own] = std::max(held_[own], need);
        busy_[own] = true;
    }

    /// Releases what idle slots keep, and the taking slot's own buffers when
    /// they are more than `need`; true when it freed anything. Called with
    /// `mutex_` held: an idle slot's thread touches its buffers again only
    /// after taking a frame, which waits for the take lock.
    bool ReleaseIdle(std::size_t own, std::uint64_t need) {
        bool freed = false;
        for (std::size_t s = 0; s < held_.size(); ++s) {
            const bool spare = s == own ? held_[s] > need : !busy_[s] && held_[s] > 0;
            if (!spare) continue;
            if (budget_.release) budget_.release(int(s));
            held_[s] = 0;
            freed = true;
        }
        return freed;
    }

    /// Waits for the frame's turn, finishes or discards it, passes the turn
    /// on. `error`: what the frame's work threw, if it did.
    void Finish(long frame, int slot, std::exception_ptr error) {
        std::unique_lock lock(mutex_);
        turn_.wait(lock, [&] { return next_finish_ == frame; });
        const bool keep = !error && (on_failure_ == OnFailure::kKeepGoing || failed_ > frame);
        lock.unlock();
        bool finished = false;
        if (keep) {
            try {
                stages_.finish(frame, slot);
                finished = true;
            } catch (...) {
                error = std::current_exception();
                Fail(frame, error);
            }
        }
        if (!finished && stages_.discard) stages_.discard(frame, slot);
        if (error && stages_.failed) stages_.failed(frame, error);
        lock.lock();
        if (finished) ++finished_;
        ++next_finish_;
        busy_[std::size_t(slot)] = false;
        turn_.notify_all();
    }

    /// Records a failure of `frame`; the lowest-numbered failure wins.
    void Fail(long frame, std::exception_ptr error) {
        std::lock_guard lock(mutex_);
        ++failures_;
        if (frame < failed_) {
            failed_ = frame;
            error_ = std::move(error);
        }
    }

    const FrameStages& stages_;
    const long count_;
    const std::atomic<bool>* stop_;
    const OnFailure on_failure_;
    const FrameBudget& budget_;

    std::mutex take_mutex_;
    long next_take_ = 0;    // guarded by take_mutex_
    bool no_more_ = false;  // guarded by take_mutex_

    std::mutex mutex_;
    std::condition_variable turn_;
    long next_finish_ = 0;
    long finished_ = 0;
    long failed_ = kNoFailure;
    long failures_ = 0;
    std::exception_ptr error_;
    bool stopped_ = false;
    std::vector<std::uint64_t> held_;  ///< what each slot holds or keeps, by the budget
    std::vector<bool> busy_;           ///< each slot has a frame in flight
};

}  // namespace

FramesResult RunFrames(const FrameStages& stages, int in_flight, long count,
                       const std::atomic<bool>* stop, OnFailure on_failure,
                       const FrameBudget& budget) {
    Run run(stages, count, stop, on_failure, budget, std::max(1, in_flight));
    std::vector<std::thread> workers;
    for (int slot = 1; slot < in_flight; ++slot) {
        try {
            workers.emplace_back([&run, slot] { run.Worker(slot); });
        } catch (const std::system_error&) {
            break;  // no more threads to be had: fewer frames in flight
        }
    }
    run.Worker(0);
    for (std::thread& worker : workers) worker.join();
    return run.Result();
}

}  // namespace render
