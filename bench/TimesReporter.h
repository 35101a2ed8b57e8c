#pragma once
// The console reporter of every bench that compares two ways of doing one
// thing: it prints the usual table, keeps each benchmark's adjusted time per
// iteration by name, and at the end hands them to the bench's summary, which
// prints the ratios the bench exists for as its last lines.

#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

class TimesReporter : public benchmark::ConsoleReporter {
public:
    using Times = std::map<std::string, double>;
    // CPU time is what a busy machine disturbs least; wall time is what
    // counts where the work waits on the disk.
    enum class Measure { realTime, cpuTime };

    explicit TimesReporter(std::function<void(const Times&)> summary, Measure measure = Measure::realTime)
        : summary_(std::move(summary)), measure_(measure) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            times_[run.benchmark_name()] =
                measure_ == Measure::cpuTime ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        summary_(times_);
    }

private:
    std::function<void(const Times&)> summary_;
    Measure measure_;
    Times times_;
};
