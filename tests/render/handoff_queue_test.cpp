// The queue that hands a movie's copied packets from the reader to the
// writer while both run: several producers at once, every item out in the
// order it went in, and a consumer that stops part-way without leaving a
// producer hanging. Runs under ThreadSanitizer too.
#include "tools/vemra-render/run/handoff_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace render {
namespace {

/// An item: who made it and its place among that producer's items.
struct Made {
    int producer = -1;
    int index = -1;
};

TEST(HandoffQueue, SeveralProducersAndAConsumerAtOnceKeepEveryItemInItsOrder) {
    constexpr int kProducers = 4, kItems = 2000;
    HandoffQueue<Made> queue;
    std::atomic<int> running{kProducers};
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kItems; ++i) EXPECT_TRUE(queue.Push({p, i}));
            if (--running == 0) queue.Close();
        });
    }
    // The consumer takes while they push, as a writer drains between frames;
    // seen closed before a drain, the queue then holds every item there is.
    std::vector<int> next(kProducers, 0);
    long taken = 0;
    for (bool closed = false; !closed;) {
        closed = queue.closed();
        for (Made item; queue.TryPop(item); ++taken) {
            ASSERT_EQ(item.index, next[std::size_t(item.producer)]++) << item.producer;
        }
    }
    for (std::thread& producer : producers) producer.join();
    EXPECT_EQ(taken, long(kProducers) * kItems);
}

TEST(HandoffQueue, AStopPartWayDropsWhatIsQueuedAndRefusesTheRest) {
    HandoffQueue<int> queue;
    std::atomic<long> refused{0}, pushed{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < 3; ++p) {
        producers.emplace_back([&] {
            // Producers never wait on the consumer: each runs to its end.
            for (int i = 0; i < 5000; ++i) {
                if (queue.Push(i)) {
                    ++pushed;
                } else {
                    ++refused;
                }
            }
        });
    }
    int item = 0;
    for (int taken = 0; taken < 100;) taken += queue.TryPop(item) ? 1 : 0;
    queue.Stop();
    for (std::thread& producer : producers) producer.join();
    EXPECT_FALSE(queue.TryPop(item));
    EXPECT_GE(pushed.load(), 100);
    EXPECT_EQ(pushed.load() + refused.load(), 3 * 5000);
    EXPECT_FALSE(queue.Push(1));
}

}  // namespace
}  // namespace render
