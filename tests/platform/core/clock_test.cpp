#include "platform/core/Clock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

namespace {

TEST(VirtualClock, MovesOnlyWhenAdvanced) {
    platform::VirtualClock clock(1000.0);
    const auto mono = clock.monotonicNanos();
    EXPECT_DOUBLE_EQ(clock.now(), 1000.0);
    clock.advance(1.5);
    EXPECT_DOUBLE_EQ(clock.now(), 1001.5);
    EXPECT_EQ(clock.monotonicNanos() - mono, 1500000000u);
    clock.advance(-3);  // never backwards
    EXPECT_DOUBLE_EQ(clock.now(), 1001.5);
}

TEST(VirtualClock, WallTimeChangeLeavesMonotonicAlone) {
    platform::VirtualClock clock(1000.0);
    const auto mono = clock.monotonicNanos();
    clock.setWallTime(10.0);
    EXPECT_DOUBLE_EQ(clock.now(), 10.0);
    EXPECT_EQ(clock.monotonicNanos(), mono);
}

TEST(VirtualClock, ConcurrentAdvancesAllCount) {
    platform::VirtualClock clock(0.0);
    const auto mono = clock.monotonicNanos();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&clock] {
            for (int i = 0; i < 20000; ++i) clock.advance(0.5);
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(clock.monotonicNanos() - mono, std::uint64_t{4} * 20000 * 500000000);
    EXPECT_DOUBLE_EQ(clock.now(), 4 * 20000 * 0.5);
}

TEST(SystemClock, MonotonicNeverGoesBack) {
    auto& clock = platform::systemClock();
    const auto a = clock.monotonicNanos();
    const auto b = clock.monotonicNanos();
    EXPECT_LE(a, b);
    EXPECT_GT(clock.now(), 1.6e9);
}

}  // namespace
