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

double VirtualClock::now() const {
    std::lock_guard lock(mutex_);
    return wall_;
}

std::uint64_t VirtualClock::monotonicNanos() const {
    std::lock_guard lock(mutex_);
    return mono_;
}

void VirtualClock::advance(double seconds) {
    if (!(seconds > 0)) return;
    const auto nanos = static_cast<std::uint64_t>(seconds * 1e9 + 0.5);
    std::lock_guard lock(mutex_);
    wall_ += seconds;
    mono_ += nanos;
}

void VirtualClock::setWallTime(double wallSeconds) {
    std::lock_guard lock(mutex_);
    wall_ = wallSeconds;
}

}  // namespace platform
