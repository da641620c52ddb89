#include "playback/NotificationQueue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace cantivo {
namespace {

EngineNotification Action(int32_t value, int32_t detail = 0)
{
    return {EngineMessage::MsgControlAction, value, detail};
}

TEST(NotificationQueue, DeliversInOrderAndDropsAndCountsWhenFull)
{
    NotificationQueue queue;
    EXPECT_FALSE(queue.Take());
    for (int round = 0; round < 3; ++round) { // the ring wraps: later rounds reuse every cell
        for (size_t i = 0; i < NotificationQueue::Capacity; ++i)
            ASSERT_TRUE(queue.Post(Action(static_cast<int32_t>(i)))) << i;
        EXPECT_FALSE(queue.Post(Action(-1)));
        EXPECT_EQ(queue.Dropped(), static_cast<uint64_t>(round + 1));
        for (size_t i = 0; i < NotificationQueue::Capacity; ++i) {
            const auto taken = queue.Take();
            ASSERT_TRUE(taken) << i;
            EXPECT_EQ(taken->value, static_cast<int32_t>(i));
        }
        EXPECT_FALSE(queue.Take());
    }
    // One cell freed makes room for exactly one more.
    for (size_t i = 0; i < NotificationQueue::Capacity; ++i)
        ASSERT_TRUE(queue.Post(Action(1)));
    ASSERT_TRUE(queue.Take());
    EXPECT_TRUE(queue.Post({EngineMessage::MsgSongSelect, 7, 0}));
    EXPECT_FALSE(queue.Post(Action(2)));
}

// The play thread and input callbacks post at once while the UI drains: nothing is lost that was
// accepted, nothing arrives twice, and each poster's notifications keep their order.
TEST(NotificationQueue, ManyPostersOneDrainerLoseNothingAccepted)
{
    NotificationQueue queue;
    constexpr int Posters = 3;
    constexpr int32_t PerPoster = 20000;
    std::vector<int64_t> accepted(Posters, 0);
    std::vector<std::thread> posters;
    for (int p = 0; p < Posters; ++p)
        posters.emplace_back([&, p] {
            for (int32_t i = 0; i < PerPoster; ++i)
                if (queue.Post(Action(p, i)))
                    ++accepted[static_cast<size_t>(p)];
        });
    std::vector<int32_t> last(Posters, -1);
    std::vector<int64_t> received(Posters, 0);
    bool ordered = true;
    auto drain = [&] {
        while (const auto taken = queue.Take()) {
            const auto p = static_cast<size_t>(taken->value);
            ordered = ordered && taken->detail > last[p];
            last[p] = taken->detail;
            ++received[p];
        }
    };
    for (int spins = 0; spins < 200000; ++spins)
        drain();
    for (std::thread& poster : posters)
        poster.join();
    drain();
    EXPECT_TRUE(ordered);
    int64_t total = 0;
    for (int p = 0; p < Posters; ++p) {
        EXPECT_EQ(received[static_cast<size_t>(p)], accepted[static_cast<size_t>(p)]) << p;
        total += accepted[static_cast<size_t>(p)];
    }
    EXPECT_EQ(static_cast<uint64_t>(Posters * PerPoster - total), queue.Dropped());
}

} // namespace
} // namespace cantivo
