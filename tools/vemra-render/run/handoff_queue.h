// Items handed from the threads that make them to the one that uses them,
// first in, first out: the packets a movie reader meets for the streams a
// writer copies reach the writer this way while both run at once. Nothing
// here waits: a consumer takes what is there, and after a stop pushes are
// refused, so no producer can hang on a consumer that has given up.
#pragma once

#include <deque>
#include <mutex>
#include <utility>

namespace render {

template <typename Item>
class HandoffQueue {
  public:
    /// Queues `item` behind every item pushed before it by any thread; false
    /// (and `item` dropped) once Stop() was called.
    bool Push(Item item) {
        const std::lock_guard lock(mutex_);
        if (stopped_) return false;
        items_.push_back(std::move(item));
        return true;
    }

    /// No more items will come: every push so far is all there is.
    void Close() {
        const std::lock_guard lock(mutex_);
        closed_ = true;
    }

    /// The consumer gives up: what is queued is dropped, later pushes refused.
    void Stop() {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
        items_.clear();
    }

    /// Moves the oldest item into `into`; false when none is queued.
    bool TryPop(Item& into) {
        const std::lock_guard lock(mutex_);
        if (items_.empty()) return false;
        into = std::move(items_.front());
        items_.pop_front();
        return true;
    }

    /// Close() was called (items may still be queued).
    bool closed() const {
        const std::lock_guard lock(mutex_);
        return closed_;
    }

  private:
    mutable std::mutex mutex_;
    std::deque<Item> items_;
    bool closed_ = false;
    bool stopped_ = false;
};

}  // namespace render
