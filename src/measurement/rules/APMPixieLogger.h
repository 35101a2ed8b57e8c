#pragma once
// Writes the log lines of rule programs to the measurement monitor, code
// 24005. Program levels map to monitor levels: 2 -> 8, 3 -> 7, 4 -> 6;
// 5 -> 5 when silent, else 4 when monitored, else 3; 6 -> 2 when silent,
// else 1 when monitored, else 0; any other level -> 6.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class APMMonitor;

namespace measurement::rules {

class APMPixieLogger {
public:
    // The shared monitor when none is given.
    explicit APMPixieLogger(std::shared_ptr<APMMonitor> monitor = nullptr);

    static int monitorLevel(std::int64_t level, bool silent, bool monitored);

    void logWithLevel(std::int64_t level, const std::string& message, const std::vector<std::string>& context,
                      bool silent, bool monitored) const;

private:
    std::shared_ptr<APMMonitor> monitor_;
};

}  // namespace measurement::rules
