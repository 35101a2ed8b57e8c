#include "VeredodaAnalytics/APMAppDelegateInterceptor.h"

#include <mutex>

#include "VeredodaAnalytics/APMAnalytics.h"

namespace {

std::mutex& sharedMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<APMAppDelegateInterceptor>& sharedSlot() {
    static std::shared_ptr<APMAppDelegateInterceptor> slot;
    return slot;
}

}  // namespace

std::shared_ptr<APMAppDelegateInterceptor> APMAppDelegateInterceptor::sharedInstance() {
    std::lock_guard lock(sharedMutex());
    auto& slot = sharedSlot();
    if (!slot) slot = std::make_shared<APMAppDelegateInterceptor>();
    return slot;
}

void APMAppDelegateInterceptor::resetSharedInstanceForTesting() {
    std::lock_guard lock(sharedMutex());
    sharedSlot().reset();
}

bool APMAppDelegateInterceptor::applicationOpenURL(const std::string& url) {
    APMAnalytics::handleOpenURL(url, std::nullopt);
    return false;
}

bool APMAppDelegateInterceptor::applicationContinueUserActivity(const platform::UserActivity& activity) {
    APMAnalytics::handleUserActivity(activity, std::nullopt);
    return false;
}

void APMAppDelegateInterceptor::applicationHandleEventsForBackgroundURLSession(
    const std::string& identifier, const std::function<void()>& completionHandler) {
    APMAnalytics::handleEventsForBackgroundURLSession(identifier, completionHandler);
}
