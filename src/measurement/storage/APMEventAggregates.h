#pragma once
// APMEventAggregates: one row of the events table, the counts and sampling
// state of one event name.

#include <cstdint>
#include <optional>
#include <string>

class APMEventAggregates {
public:
    APMEventAggregates(std::string name, std::int64_t lifetimeCount, std::int64_t currentBundleCount,
                       std::int64_t currentSessionCount, double lastFireTimestamp)
        : lastFireTimestamp(lastFireTimestamp), name_(std::move(name)), lifetimeCount_(lifetimeCount),
          currentBundleCount_(currentBundleCount), currentSessionCount_(currentSessionCount) {}

    const std::string& name() const { return name_; }
    std::int64_t lifetimeCount() const { return lifetimeCount_; }
    std::int64_t currentBundleCount() const { return currentBundleCount_; }
    std::int64_t currentSessionCount() const { return currentSessionCount_; }
    void incrementLifetimeCount() { ++lifetimeCount_; }
    void incrementCurrentBundleCount() { ++currentBundleCount_; }
    void incrementCurrentSessionCount() { ++currentSessionCount_; }

    double lastFireTimestamp;  // seconds since 1970
    // Sampling state.
    double lastBundledTimestamp = 0;  // seconds since 1970
    std::int32_t lastBundledDay = 0;  // 0 when never set
    std::int32_t lastSamplingRate = 0;
    std::optional<std::int64_t> lastSampledComplexEventID;
    bool lastExemptFromSampling = false;

    bool operator==(const APMEventAggregates&) const = default;

private:
    std::string name_;
    std::int64_t lifetimeCount_;
    std::int64_t currentBundleCount_;
    std::int64_t currentSessionCount_;
};
