#pragma once
// Screens and their reporting. The application reports a screen by logging
// "screen_view" with "screen_name" and "screen_class"; the facade routes it
// to the process's APMScreenViewReporter, which keeps the current screen,
// numbers screen instances, tells the session and ad-exposure reporters of
// screen changes and activity, and logs "_vs" with the new and the previous
// screen. Every other event carries the current screen's parameters
// (`screenParameters`). Screens exist only when the application reports
// them: automatic screen reporting is off here.
//
// Threads: the current and previous screens are guarded by `mutex_` (read
// and replaced from any thread; tracking replaces the screen before it
// returns, so an event logged right after it carries the new screen). The
// change notifications and the "_vs" event run later on the serial queue
// "APMScreenViewReporter". The instance counter and the active and
// initialised flags are atomics. Notification handlers run on the posting
// (main) thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/interface/APMObjectParameters.h"
#include "measurement/storage/APMValue.h"
#include "platform/core/Dispatch.h"
#include "platform/core/NotificationCenter.h"

class APMSessionReporter;

inline constexpr const char* kAPMScreenViewReporterQueueLabel = "APMScreenViewReporter";

// One screen (a value: copies copy every field).
struct APMScreen {
    APMScreen(std::optional<std::string> name, std::optional<std::string> className, std::int64_t instanceID)
        : name(std::move(name)), className(std::move(className)), instanceID(instanceID) {}

    std::optional<std::string> name;       // "screen_name"
    std::optional<std::string> className;  // "screen_class"
    std::int64_t instanceID;
    bool isManuallySet = false;      // never true here: setting a screen by name is refused
    bool isManuallyTracked = false;  // came from an application "screen_view"
    double eventTimestamp = 0;       // seconds since 1970 of the "screen_view" call
    bool isSwiftUI = false;
};

// "_si", then "_sc" (31014 when empty, 31015 when invalid: then "_si"
// alone), "_sn" when valid, "_swui" for SwiftUI screens.
APMParameters APMScreenParameters(const APMScreen& screen);
// "_pi", "_pc" and "_pn" (the valid ones), silently.
APMParameters APMPreviousScreenParameters(const APMScreen& screen);

class APMScreenViewReporter : public std::enable_shared_from_this<APMScreenViewReporter> {
public:
    // The engine's session reporter once its components are initialised;
    // none otherwise. Default: the shared engine's.
    using SessionReporterProvider = std::function<std::shared_ptr<APMSessionReporter>()>;

    // Observes become-active and will-resign-active on `center` while it lives.
    static std::shared_ptr<APMScreenViewReporter> create(platform::Dispatcher& dispatcher,
                                                         platform::NotificationCenter& center,
                                                         SessionReporterProvider sessionReporter = nullptr);
    ~APMScreenViewReporter();
    APMScreenViewReporter(const APMScreenViewReporter&) = delete;
    APMScreenViewReporter& operator=(const APMScreenViewReporter&) = delete;

    // The process's reporter, made once when launching has finished; none
    // before. Creating it makes APMIsAppActive answer with its `isAppActive`.
    static std::shared_ptr<APMScreenViewReporter> sharedInstance();
    static std::shared_ptr<APMScreenViewReporter> createSharedInstance(platform::Dispatcher& dispatcher,
                                                                       platform::NotificationCenter& center);
    static void resetSharedInstanceForTesting();

    // The application's "screen_view" (caller's thread).
    void trackScreenWithParameters(const APMObjectParameters& parameters, double timestamp);
    // The current screen's parameters as values; empty without a screen or
    // when the application went inactive after being active.
    APMParameters screenParameters() const;
    // Copies of the current screen's name and class (none without a screen).
    void getScreenName(std::optional<std::string>* name, std::optional<std::string>* screenClass) const;
    bool isAppActive() const { return isAppActive_.load(); }
    bool appHasBeenInitialized() const { return appHasBeenInitialized_.load(); }
    // Always refused (31000).
    void setScreenName(const std::optional<std::string>& name, const std::optional<std::string>& screenClass);
    std::int64_t incrementScreenInstanceID();

    void postScreenDidChangeNotificationWithPreviousScreen(const std::optional<APMScreen>& previousScreen,
                                                           const APMScreen& newScreen);
    void logViewScreenEventWithPreviousScreen(const std::optional<APMScreen>& previousScreen,
                                              const std::optional<APMScreen>& newScreen,
                                              const APMParameters& parameters);

    void handleApplicationDidBecomeActive();
    void handleApplicationWillResignActive();
    void handleApplicationDidEnterBackground();

    std::optional<APMScreen> currentScreen() const;
    std::optional<APMScreen> previousScreen() const;

private:
    APMScreenViewReporter(platform::Dispatcher& dispatcher, platform::NotificationCenter& center,
                          SessionReporterProvider sessionReporter);
    std::shared_ptr<APMSessionReporter> engineSessionReporter() const;

    platform::NotificationCenter& center_;
    const SessionReporterProvider sessionReporter_;
    const platform::QueueRef queue_;
    std::vector<platform::NotificationObserverToken> observers_;  // set at creation

    mutable std::mutex mutex_;
    std::optional<APMScreen> currentScreen_;   // under mutex_
    std::optional<APMScreen> previousScreen_;  // under mutex_
    const bool allowScreenParameters_ = true;
    std::atomic<bool> isAppActive_{false};
    std::atomic<bool> appHasBeenInitialized_{false};
    std::atomic<std::int64_t> currentScreenInstanceID_;
};
