#include "Mossbridge/app/AppDelegate.h"

#include <exception>

#include "Mossbridge/app/AnalyticsInterface.h"
#include "Mossbridge/model/DiagnosticLine.h"
#include "VeredodaCore/DEDOru.h"
#include "VeredodaCore/VRDException.h"
#include "VeredodaCore/VRDOptions.h"

namespace Mossbridge {

namespace {

std::shared_ptr<AppDelegate>& delegateSlot() {
    static std::shared_ptr<AppDelegate> delegate;
    return delegate;
}

// Configures the default app; on failure says why in one line and answers
// false, so the application goes on without analytics rather than ending
// before it has shown anything. An options file without an app ID
// configures, but nothing is measured: that too gets its line.
bool configureAnalytics() {
    try {
        DEDOru::configure();
        if (const auto app = DEDOru::defaultApp(); app && app->options().vadovaAppID.empty()) {
            printErrorLine(std::string("analytics is off: ") + kVRDServiceInfoFileName + ".plist has no " +
                                kVRDOptionsAppIDKey + " that is a non-empty string");
        }
        return true;
    } catch (const VRDException& error) {
        printErrorLine("analytics configuration failed: " + error.reason());
    } catch (const std::exception& error) {
        printErrorLine(std::string("analytics configuration failed: ") + error.what());
    }
    return false;
}

}  // namespace

AppDelegate::AppDelegate(CoordinatorFactory makeCoordinator) : makeCoordinator_(std::move(makeCoordinator)) {}

void AppDelegate::applicationDidFinishLaunching(platform::Application& application) {
    if (!DEDOru::defaultApp() && configureAnalytics()) {
        const AnalyticsInterface analytics = analyticsInterface();
        if (analytics.setAnalyticsCollectionEnabled) analytics.setAnalyticsCollectionEnabled(true);
        if (analytics.logEvent) analytics.logEvent("app_start", std::nullopt);
    }
    application.setActivationPolicy(platform::ActivationPolicy::regular);
    coordinator_ = makeCoordinator_();
    coordinator_->start();
}

int runApplication(platform::Application& application, AppDelegate::CoordinatorFactory makeCoordinator) {
    installPublicAnalyticsInterface();
    routeUsageEventsToAnalytics();
    auto delegate = std::make_shared<AppDelegate>(std::move(makeCoordinator));
    application.setDelegate(delegate);
    delegateSlot() = std::move(delegate);
    application.run();
    // The event loop has ended, however it was asked to (time up, a quit
    // item, a signal), and the process is ending: the timers stop, the
    // analytics layers end their queues and close their databases while
    // every static object still exists, and the coordinator goes while the
    // desktop it was built on still exists.
    if (const auto& coordinator = delegateSlot()->coordinator()) coordinator->stop();
    if (const AnalyticsInterface analytics = analyticsInterface(); analytics.shutDown) analytics.shutDown();
    delegateSlot().reset();
    return 0;
}

std::shared_ptr<AppDelegate> currentAppDelegate() { return delegateSlot(); }

}  // namespace Mossbridge
