#pragma once
// A coordinator on an in-memory desktop, a deterministic dispatcher and
// private user defaults, with counting status sources and a recording
// script runner. Perf lines and diagnostics are captured with captured().

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Mossbridge/app/MossbridgeCoordinator.h"
#include "Mossbridge/model/PerformanceLog.h"
#include "Mossbridge/pets/PetAnimationClock.h"
#include "platform/core/DeterministicDispatch.h"
#include "platform/core/XdgPaths.h"
#include "platform/desktop/InMemoryCalendarStore.h"
#include "platform/desktop/InMemoryDesktop.h"

namespace Mossbridge::testing {

// What `body` printed: the features' diagnostics (standard output), or the
// run's errors and warnings (standard error).
template <typename Body>
std::string captured(Body body) {
    ::testing::internal::CaptureStdout();
    body();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

template <typename Body>
std::string capturedErrors(Body body) {
    ::testing::internal::CaptureStderr();
    body();
    std::fflush(stderr);
    return ::testing::internal::GetCapturedStderr();
}

inline int occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

inline AppAssignment assignment(const std::string& bundleIdentifier, AppCategory category,
                                platform::Rect frame = {100, 100, 92, 104}) {
    AppAssignment a;
    a.bundleIdentifier = bundleIdentifier;
    a.appName = bundleIdentifier;
    a.category = category;
    a.frame = CodableRect(frame);
    return a;
}

class CoordinatorFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(platform::temporaryDirectory());
        std::string pattern = (platform::temporaryDirectory() / "coordinator-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        defaults = std::make_shared<platform::UserDefaults>("Mossbridge", folder);
        PetAnimationClock::configureShared({&dispatcher, nullptr});
        resetPerformanceLogForTesting(&dispatcher.clock());
        addApp("com.example.editor", "Editor", 501);
        addApp("com.spotify.client", "Spotify", 502);
    }

    void TearDown() override {
        coordinator.reset();
        PetAnimationClock::resetSharedForTesting();
        std::filesystem::remove_all(folder);
    }

    void addApp(const std::string& bundleIdentifier, const std::string& name, std::int32_t pid) {
        platform::InstalledApplication app;
        app.application.processIdentifier = pid;
        app.application.bundleIdentifier = bundleIdentifier;
        app.application.localizedName = name;
        workspace->install(app);
    }

    // A coordinator over the desktop, with `assignments` stored first.
    MossbridgeCoordinator& make(const std::vector<AppAssignment>& assignments = {}) {
        if (!assignments.empty()) {
            const auto text = encodeAssignments(assignments);
            EXPECT_TRUE(text.ok());
            EXPECT_TRUE(defaults->set(AssignmentStore::defaultsKey,
                                      platform::PropertyData(text.value().begin(), text.value().end())));
        }
        CoordinatorEnvironment environment;
        environment.dispatcher = &dispatcher;
        environment.windowServer = &server;
        environment.application = &application;
        environment.defaults = defaults;
        environment.workspace = workspace;
        environment.accessibility = accessibility;
        environment.windowList = windowList;
        environment.runScript = [this](const std::string& script) {
            scripts.push_back(script);
            return std::optional<std::string>("");
        };
        environment.distributedCenter = &distributedCenter;
        environment.calendarStore = calendarStore;
        environment.calendarCenter = &calendarCenter;
        environment.statusSources.badges = [this](const std::vector<AppStatusTarget>&) {
            ++badgeReads;
            return badges;
        };
        environment.statusSources.notifications = [this](const std::vector<AppStatusTarget>&) {
            return NotificationQueryResult{notifications, std::nullopt};
        };
        coordinator = MossbridgeCoordinator::create(std::move(environment));
        return *coordinator;
    }

    platform::DeterministicDispatcher dispatcher;
    platform::WindowServer server{{platform::Screen{{0, 0, 1440, 900}, {0, 0, 1440, 875}, 1}}};
    platform::MenuBar menuBar{server};
    platform::Application application{menuBar, nullptr};
    std::shared_ptr<platform::InMemoryWorkspace> workspace = std::make_shared<platform::InMemoryWorkspace>();
    std::shared_ptr<platform::InMemoryAccessibility> accessibility = std::make_shared<platform::InMemoryAccessibility>();
    std::shared_ptr<platform::InMemoryDesktopWindowList> windowList =
        std::make_shared<platform::InMemoryDesktopWindowList>();
    platform::NotificationCenter distributedCenter;
    platform::NotificationCenter calendarCenter;
    std::shared_ptr<platform::InMemoryCalendarStore> calendarStore =
        std::make_shared<platform::InMemoryCalendarStore>(calendarCenter);
    std::shared_ptr<platform::UserDefaults> defaults;
    std::filesystem::path folder;

    std::map<std::string, std::string> badges;
    NotificationItemsByApp notifications;
    int badgeReads = 0;
    std::vector<std::string> scripts;
    std::shared_ptr<MossbridgeCoordinator> coordinator;
};

}  // namespace Mossbridge::testing
