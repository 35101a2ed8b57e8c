#include "measurement/storage/APMDiagnosticsCounts.h"

APMDiagnosticsCounts::APMDiagnosticsCounts(const APMDiagnosticsCounts& other) : counts_(other.allCounts()) {}

APMDiagnosticsCounts& APMDiagnosticsCounts::operator=(const APMDiagnosticsCounts& other) {
    if (this == &other) return *this;
    auto snapshot = other.allCounts();
    std::lock_guard lock(mutex_);
    counts_ = std::move(snapshot);
    return *this;
}

void APMDiagnosticsCounts::incrementCountBy(std::int64_t count, const std::string& name) {
    std::lock_guard lock(mutex_);
    counts_[name] += count;
}

std::map<std::string, std::int64_t> APMDiagnosticsCounts::allCounts() const {
    std::lock_guard lock(mutex_);
    return counts_;
}
