#pragma once
// APMDiagnosticsCounts: named counters (dropped parameters and the like),
// safe to increment from several threads; copies take a snapshot.

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

class APMDiagnosticsCounts {
public:
    APMDiagnosticsCounts() = default;
    APMDiagnosticsCounts(const APMDiagnosticsCounts& other);
    APMDiagnosticsCounts& operator=(const APMDiagnosticsCounts& other);

    void incrementCountBy(std::int64_t count, const std::string& name);
    // A copy of the counters, name to count.
    std::map<std::string, std::int64_t> allCounts() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::int64_t> counts_;
};
