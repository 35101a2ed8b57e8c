#include "platform/core/ApplicationDelegateProxy.h"

#include <atomic>

namespace platform {
namespace {

// Calls `call` on each interceptor, then on the delegate; answers whether any
// of them answered true.
template <class Call>
bool eachReceiver(const std::vector<std::shared_ptr<ApplicationDelegateCallbacks>>& interceptors,
                  ApplicationDelegateCallbacks* delegate, Call call) {
    bool handled = false;
    for (const auto& interceptor : interceptors) handled = call(*interceptor) || handled;
    if (delegate) handled = call(*delegate) || handled;
    return handled;
}

}  // namespace

ApplicationDelegateProxy& ApplicationDelegateProxy::shared() {
    static ApplicationDelegateProxy proxy;
    return proxy;
}

void ApplicationDelegateProxy::resetSharedForTesting() {
    ApplicationDelegateProxy& proxy = shared();
    std::vector<std::shared_ptr<ApplicationDelegateCallbacks>> released;
    {
        std::lock_guard lock(proxy.mutex_);
        proxy.installed_ = false;
        released.swap(proxy.interceptors_);
    }
}

void ApplicationDelegateProxy::install() {
    std::lock_guard lock(mutex_);
    installed_ = true;
}

bool ApplicationDelegateProxy::isInstalled() const {
    std::lock_guard lock(mutex_);
    return installed_;
}

void ApplicationDelegateProxy::registerInterceptor(std::shared_ptr<ApplicationDelegateCallbacks> interceptor) {
    if (!interceptor) return;
    std::lock_guard lock(mutex_);
    interceptors_.push_back(std::move(interceptor));
}

std::size_t ApplicationDelegateProxy::interceptorCount() const {
    std::lock_guard lock(mutex_);
    return interceptors_.size();
}

std::vector<std::shared_ptr<ApplicationDelegateCallbacks>> ApplicationDelegateProxy::activeInterceptors() const {
    std::lock_guard lock(mutex_);
    if (!installed_) return {};
    return interceptors_;
}

bool ApplicationDelegateProxy::deliverOpenURL(ApplicationDelegateCallbacks* delegate, const std::string& url) const {
    return eachReceiver(activeInterceptors(), delegate,
                        [&](ApplicationDelegateCallbacks& receiver) { return receiver.applicationOpenURL(url); });
}

bool ApplicationDelegateProxy::deliverContinueUserActivity(ApplicationDelegateCallbacks* delegate,
                                                           const UserActivity& activity) const {
    return eachReceiver(activeInterceptors(), delegate, [&](ApplicationDelegateCallbacks& receiver) {
        return receiver.applicationContinueUserActivity(activity);
    });
}

void ApplicationDelegateProxy::deliverHandleEventsForBackgroundURLSession(
    ApplicationDelegateCallbacks* delegate, const std::string& identifier,
    std::function<void()> completionHandler) const {
    // Every receiver may finish the session; the system hears it once.
    auto finished = std::make_shared<std::atomic<bool>>(false);
    const std::function<void()> once = [finished, handler = std::move(completionHandler)] {
        if (!finished->exchange(true) && handler) handler();
    };
    (void)eachReceiver(activeInterceptors(), delegate, [&](ApplicationDelegateCallbacks& receiver) {
        receiver.applicationHandleEventsForBackgroundURLSession(identifier, once);
        return false;
    });
}

}  // namespace platform
