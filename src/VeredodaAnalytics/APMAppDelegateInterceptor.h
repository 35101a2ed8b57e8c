#pragma once
// The analytics' interceptor of the application delegate's callbacks: an
// opened URL and a continued user activity become the facade's links (with
// no metadata: nobody called the interface by hand), background URL-session
// events go to the networking layer. It claims none of them: the delegate
// still handles each one, and finishes each background session itself (the
// networking layer finishes only sessions of its own, and has none).
// Stateless; callable from any thread.

#include <memory>
#include <string>

#include "platform/core/ApplicationDelegateProxy.h"

class APMAppDelegateInterceptor final : public platform::ApplicationDelegateCallbacks {
public:
    static std::shared_ptr<APMAppDelegateInterceptor> sharedInstance();
    // Test hook: the next sharedInstance() is a new object.
    static void resetSharedInstanceForTesting();

    bool applicationOpenURL(const std::string& url) override;
    bool applicationContinueUserActivity(const platform::UserActivity& activity) override;
    void applicationHandleEventsForBackgroundURLSession(const std::string& identifier,
                                                        const std::function<void()>& completionHandler) override;
};
