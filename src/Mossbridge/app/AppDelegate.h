#pragma once
// The entry point's body and the application delegate: bring the analytics
// layer up once, make the process a regular application, and hand
// everything else to one MossbridgeCoordinator, which lives as long as the
// delegate. The application keeps running when its last window closes.
// Main thread only.

#include <functional>
#include <memory>

#include "Mossbridge/app/MossbridgeCoordinator.h"
#include "platform/desktop/Application.h"

namespace Mossbridge {

class AppDelegate final : public platform::ApplicationDelegate {
public:
    using CoordinatorFactory = std::function<std::shared_ptr<MossbridgeCoordinator>()>;

    explicit AppDelegate(CoordinatorFactory makeCoordinator);

    // Configures the analytics layer when no default app exists yet (a
    // failure there is reported in one line and skips the analytics steps),
    // then creates and starts the coordinator.
    void applicationDidFinishLaunching(platform::Application& application) override;
    bool applicationShouldTerminateAfterLastWindowClosed(platform::Application&) override { return false; }

    const std::shared_ptr<MossbridgeCoordinator>& coordinator() const { return coordinator_; }

private:
    CoordinatorFactory makeCoordinator_;
    std::shared_ptr<MossbridgeCoordinator> coordinator_;
};

// Installs a new AppDelegate on `application` (kept in a process-wide slot
// until the event loop returns, replacing an earlier one), routes usage
// events to the analytics interface and runs the event loop. When it
// returns, the one way out of the process: the coordinator stops, the
// analytics interface shuts down, the delegate goes; then 0.
int runApplication(platform::Application& application, AppDelegate::CoordinatorFactory makeCoordinator);

// The delegate in the process-wide slot, if any.
std::shared_ptr<AppDelegate> currentAppDelegate();

}  // namespace Mossbridge
