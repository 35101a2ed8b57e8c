#pragma once
// Test support: a pet controller over an in-memory desktop (one 1440 x 900
// screen, visible frame 1440 x 875), a RunningAppService and an
// AssignmentStore on private user defaults, all on a deterministic
// dispatcher; the shared animation clock runs on it too, and usage events
// are recorded.

#include "TestPaths.h"
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <ostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Mossbridge/model/AssignmentStore.h"
#include "Mossbridge/model/UsageEvents.h"
#include "Mossbridge/pets/PetAnimationClock.h"
#include "Mossbridge/pets/PetController.h"
#include "Mossbridge/pets/PetWindow.h"
#include "Mossbridge/pets/SpriteSheet.h"
#include "Mossbridge/system/RunningAppService.h"
#include "VadovaUtilities/VULMainBundle.h"
#include "platform/core/DeterministicDispatch.h"
#include "platform/core/XdgPaths.h"
#include "platform/desktop/InMemoryDesktop.h"
#include "platform/drawing/WindowServer.h"

namespace platform {
// Frames read as numbers in failure messages.
inline void PrintTo(const Rect& rect, std::ostream* out) {
    *out << "{" << rect.origin.x << ", " << rect.origin.y << ", " << rect.size.width << ", " << rect.size.height << "}";
}
inline void PrintTo(const Point& point, std::ostream* out) { *out << "{" << point.x << ", " << point.y << "}"; }
}  // namespace platform

namespace Mossbridge::testing {

struct LoggedEvent {
    std::string name;
    std::optional<APMParameters> parameters;
};

class PetControllerTest : public ::testing::Test {
protected:
    static constexpr platform::Rect visibleFrame{0, 0, 1440, 875};

    void SetUp() override {
        VULMainBundle::setResourcesDirectory(testpaths::binaryDir() / "resources");
        resetSpriteSheetCachesForTesting();
        PetAnimationClock::configureShared({&dispatcher, {}});
        setUsageEventLogger([this](const std::string& name, const std::optional<APMParameters>& parameters) {
            events.push_back({name, parameters});
        });
        std::filesystem::create_directories(platform::temporaryDirectory());
        std::string pattern = (platform::temporaryDirectory() / "pet-controller-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        auto defaults = std::make_shared<platform::UserDefaults>("Mossbridge", folder_);
        store = AssignmentStore::create(defaults, dispatcher.mainQueue(), [] { return std::vector{visibleFrame}; });
        service = RunningAppService::create({desktop.workspace, desktop.accessibility, desktop.windowList,
                                             [](const std::string&) { return std::optional<std::string>(); },
                                             dispatcher.mainQueue(), &dispatcher.clock()});
        controller = PetController::create(store, service, {&server, &dispatcher, desktop.accessibility});
    }

    void TearDown() override {
        controller.reset();
        dispatcher.drain();
        setUsageEventLogger(nullptr);
        PetAnimationClock::resetSharedForTesting();
        resetSpriteSheetCachesForTesting();
        VULMainBundle::setResourcesDirectory(std::nullopt);
        std::filesystem::remove_all(folder_);
    }

    // A running regular application with accessibility windows `titles`;
    // with a bundle URL, a click that cannot raise it still opens it.
    void install(std::int32_t pid, const std::string& bundleIdentifier, std::vector<std::string> titles = {},
                 bool withBundleURL = false) {
        platform::InstalledApplication app;
        app.application.processIdentifier = pid;
        app.application.bundleIdentifier = bundleIdentifier;
        app.application.localizedName = bundleIdentifier;
        if (withBundleURL) app.application.bundleURL = "/Applications/" + std::to_string(pid) + ".app";
        desktop.workspace->install(app);
        platform::AccessibilityApplication accessible;
        for (std::size_t i = 0; i < titles.size(); ++i)
            accessible.windows.push_back({i + 1, platform::AccessibilityValue(titles[i]), {}});
        desktop.accessibility->setApplication(pid, std::move(accessible));
    }

    void stop(std::int32_t pid) { desktop.workspace->find(pid)->running = false; }

    // Appends an assignment to the store and answers its id.
    platform::Uuid assign(const std::string& bundleIdentifier, platform::Rect frame = {200, 300, 92, 104},
                          PetKind kind = PetKind::cat, AppCategory category = AppCategory::other) {
        AppAssignment assignment;
        assignment.bundleIdentifier = bundleIdentifier;
        assignment.appName = bundleIdentifier;
        assignment.petKind = kind;
        assignment.category = category;
        assignment.frame = CodableRect(frame);
        store->assignments.push_back(assignment);
        store->saveAssignments();
        return assignment.id;
    }

    // The refresh the coordinator runs, then the pass.
    void sync(const AppStatusMap& statuses = {}) {
        service->refresh();
        controller->sync(statuses);
    }

    PetWindow& window(const platform::Uuid& id) {
        auto found = controller->window(id);
        EXPECT_NE(found, nullptr);
        return *found;
    }

    const AppAssignment* stored(const platform::Uuid& id) const {
        for (const auto& assignment : store->assignments)
            if (assignment.id == id) return &assignment;
        return nullptr;
    }

    std::vector<std::string> eventNames() const {
        std::vector<std::string> names;
        for (const auto& event : events) names.push_back(event.name);
        return names;
    }

    platform::Point centre(const platform::Rect& rect) const { return {rect.midX(), rect.midY()}; }

    platform::DeterministicDispatcher dispatcher;
    platform::InMemoryDesktop desktop;
    platform::WindowServer server{{platform::Screen{{0, 0, 1440, 900}, visibleFrame, 2}}};
    std::shared_ptr<AssignmentStore> store;
    std::shared_ptr<RunningAppService> service;
    std::shared_ptr<PetController> controller;
    std::vector<LoggedEvent> events;

private:
    std::filesystem::path folder_;
};

}  // namespace Mossbridge::testing
