#pragma once
// Fixtures shared by the storage tests: a monitor whose lines the test can
// read, and user defaults kept in a private temporary folder.

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "measurement/storage/APMMonitor.h"
#include "platform/core/UserDefaults.h"

namespace storage_test {

// A folder of its own under the test's temporary directory, removed at the end.
class TemporaryFolder {
public:
    // `role` tells apart the folders of one test (none: the test's own).
    explicit TemporaryFolder(const std::string& role = "") {
        auto base = std::filesystem::temp_directory_path();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = base / ("storage-" + std::string(info->test_suite_name()) + "-" + info->name() +
                        (role.empty() ? "" : "-" + role));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Installs a shared monitor that keeps its lines; uninstalls it afterwards.
class MonitorCapture {
public:
    explicit MonitorCapture(std::vector<std::string> launchArguments = {}) {
        APMMonitor::Options options;
        options.libraryVersion = 121800;
        options.launchArguments = std::move(launchArguments);
        options.userDefaults = std::make_shared<platform::UserDefaults>("monitor", folder_.path());
        options.sink = [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        };
        monitor_ = std::make_shared<APMMonitor>(std::move(options));
        APMMonitor::resetSharedForTesting(monitor_);
    }
    ~MonitorCapture() { APMMonitor::resetSharedForTesting(); }

    APMMonitor& monitor() { return *monitor_; }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // Lines that carry the code, e.g. "I-ACS030001".
    std::vector<std::string> linesWithCode(long code) const {
        char text[32];
        std::snprintf(text, sizeof text, "I-ACS%06ld", code);
        std::vector<std::string> found;
        for (const auto& line : lines()) {
            if (line.find(text) != std::string::npos) found.push_back(line);
        }
        return found;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    TemporaryFolder folder_{"monitor"};
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::shared_ptr<APMMonitor> monitor_;
};

}  // namespace storage_test
