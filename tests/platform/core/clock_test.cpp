#include "platform/core/Clock.h"

#include <gtest/gtest.h>

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

TEST(SystemClock, MonotonicNeverGoesBack) {
    auto& clock = platform::systemClock();
    const auto a = clock.monotonicNanos();
    const auto b = clock.monotonicNanos();
    EXPECT_LE(a, b);
    EXPECT_GT(clock.now(), 1.6e9);
}

}  // namespace
