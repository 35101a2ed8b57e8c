#pragma once
// The callbacks the system hands an application's delegate about the world
// outside it (a URL opened with it, a user activity continued in it, events
// of its background URL sessions), and the proxy through which the
// application delivers them. Once the proxy is installed, every registered
// interceptor sees a callback, in registration order, before the delegate
// does; before that, the delegate alone gets it. Libraries below the desktop
// register here; the desktop application delivers through deliver*().
//
// The Linux application never receives these callbacks from the system, so
// only tests (and a back-end of another desktop) deliver them.
//
// Thread-safe: the registry is guarded by its own lock, which is never held
// while a callback runs.

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/UserActivity.h"

namespace platform {

// What a delegate or an interceptor may be told. The defaults handle
// nothing, and finish a background session at once, as a delegate with no
// work of its own for it does. An interceptor that hears of background
// sessions overrides that: finishing the application's session is its
// delegate's.
class ApplicationDelegateCallbacks {
public:
    virtual ~ApplicationDelegateCallbacks() = default;
    // Answers whether the URL was handled.
    virtual bool applicationOpenURL(const std::string& url) {
        (void)url;
        return false;
    }
    // Answers whether the activity was continued.
    virtual bool applicationContinueUserActivity(const UserActivity& activity) {
        (void)activity;
        return false;
    }
    // `completionHandler` tells the system the session's events are handled.
    virtual void applicationHandleEventsForBackgroundURLSession(const std::string& identifier,
                                                                const std::function<void()>& completionHandler) {
        (void)identifier;
        completionHandler();
    }
};

class ApplicationDelegateProxy {
public:
    static ApplicationDelegateProxy& shared();
    // Test hook: not installed, no interceptors.
    static void resetSharedForTesting();

    // From now on interceptors see the callbacks first. Installing again
    // changes nothing.
    void install();
    bool isInstalled() const;
    // Adds the interceptor, held for the process (no interceptor adds none).
    void registerInterceptor(std::shared_ptr<ApplicationDelegateCallbacks> interceptor);
    std::size_t interceptorCount() const;

    // The callback to the interceptors (when installed), then to `delegate`
    // (when there is one). A URL or an activity counts as handled when any
    // of them handled it. The system's completion handler runs once, when
    // the first of them calls it.
    bool deliverOpenURL(ApplicationDelegateCallbacks* delegate, const std::string& url) const;
    bool deliverContinueUserActivity(ApplicationDelegateCallbacks* delegate, const UserActivity& activity) const;
    void deliverHandleEventsForBackgroundURLSession(ApplicationDelegateCallbacks* delegate,
                                                    const std::string& identifier,
                                                    std::function<void()> completionHandler) const;

private:
    // The interceptors that see callbacks now: none until installed.
    std::vector<std::shared_ptr<ApplicationDelegateCallbacks>> activeInterceptors() const;

    mutable std::mutex mutex_;
    bool installed_ = false;                                                   // guarded by mutex_
    std::vector<std::shared_ptr<ApplicationDelegateCallbacks>> interceptors_;  // guarded by mutex_
};

}  // namespace platform
