#include "platform/core/Clock.h"

#include <ctime>

namespace platform {

namespace {

class SystemClock final : public Clock {
public:
    double now() const override {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
    }
    std::uint64_t monotonicNanos() const override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<std::uint64_t>(ts.tv_nsec);
    }
};

}  // namespace

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}

VirtualClock::VirtualClock(double startWallSeconds) : wall_(startWallSeconds), mono_(1000000000ull) {}

double VirtualClock::now() const { return wall_.load(); }

std::uint64_t VirtualClock::monotonicNanos() const { return mono_.load(); }

void VirtualClock::advance(double seconds) {
    if (!(seconds > 0)) return;
    wall_.store(wall_.load() + seconds);
    mono_.fetch_add(static_cast<std::uint64_t>(seconds * 1e9 + 0.5));
}

void VirtualClock::setWallTime(double wallSeconds) { wall_.store(wallSeconds); }

}  // namespace platform
