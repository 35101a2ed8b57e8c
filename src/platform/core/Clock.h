#pragma once
// All time in the system is read through one Clock: the wall clock (seconds
// since the Unix epoch, as a double) and a monotonic clock (nanoseconds since
// an arbitrary origin). Tests substitute a VirtualClock that only moves when
// the test advances it.

#include <mutex>
#include <cstdint>

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Wall-clock time in seconds since 1970-01-01T00:00:00Z.
    virtual double now() const = 0;
    // Monotonic uptime in nanoseconds; never goes backwards.
    virtual std::uint64_t monotonicNanos() const = 0;
    // Monotonic uptime in seconds.
    double uptime() const { return static_cast<double>(monotonicNanos()) / 1e9; }
};

// The system's clocks (CLOCK_REALTIME and CLOCK_MONOTONIC).
Clock& systemClock();

// A clock that stands still until advanced. Wall and monotonic time move
// together, in one step under one lock, so concurrent advances all count and
// no reader sees one clock moved without the other. Safe from any thread.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(double startWallSeconds = 1.7e9);
    double now() const override;
    std::uint64_t monotonicNanos() const override;
    // Moves both clocks forward; negative amounts are ignored.
    void advance(double seconds);
    // Sets the wall clock alone (the monotonic clock is unaffected), as a user
    // changing the system time would.
    void setWallTime(double wallSeconds);

private:
    mutable std::mutex mutex_;
    double wall_;
    std::uint64_t mono_;
};

}  // namespace platform
