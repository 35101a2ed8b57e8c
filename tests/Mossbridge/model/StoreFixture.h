#pragma once
// An AssignmentStore over private user defaults and a deterministic main
// queue, with the usage events it logs recorded.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Mossbridge/model/AssignmentStore.h"
#include "UsageEventRecorder.h"
#include "platform/core/DeterministicDispatch.h"
#include "platform/core/XdgPaths.h"

namespace Mossbridge {

class StoreFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(platform::temporaryDirectory());
        std::string pattern = (platform::temporaryDirectory() / "assignment-store-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        defaults = std::make_shared<platform::UserDefaults>("Mossbridge", folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::shared_ptr<AssignmentStore> makeStore() {
        return AssignmentStore::create(defaults, dispatcher.mainQueue(), [this] { return screenVisibleFrames; });
    }

    // The JSON text stored under `key`, or none.
    std::optional<std::string> storedText(const std::string& key) const {
        const auto data = defaults->data(key);
        if (!data) return std::nullopt;
        return std::string(data->begin(), data->end());
    }

    void storeText(const std::string& key, const std::string& text) {
        EXPECT_TRUE(defaults->set(key, platform::PropertyData(text.begin(), text.end())));
    }

    platform::DeterministicDispatcher dispatcher;
    std::shared_ptr<platform::UserDefaults> defaults;
    std::vector<platform::Rect> screenVisibleFrames;  // the main screen's first
    UsageEventRecorder recorder;

private:
    std::filesystem::path folder_;
};

inline AppAssignment makeAssignment(std::string bundleIdentifier, platform::Rect frame = {0, 0, 92, 104}) {
    AppAssignment assignment;
    assignment.bundleIdentifier = bundleIdentifier;
    assignment.appName = bundleIdentifier;
    assignment.frame = CodableRect(frame);
    return assignment;
}

}  // namespace Mossbridge
