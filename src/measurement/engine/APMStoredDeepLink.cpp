#include "measurement/engine/APMStoredDeepLink.h"

#include <cmath>

#include "measurement/storage/APMUserDefaults.h"

namespace {

constexpr std::int64_t kHourMillis = 3600000;

}  // namespace

void APMStoreDeepLink(APMUserDefaults& defaults, const std::string& url, const std::optional<std::string>& referrer,
                      double now) {
    // A failed write leaves the key it could not write as it was; the
    // defaults log why.
    (void)defaults.setObject(platform::PropertyValue(url), kAPMDeepLinkKey);
    (void)defaults.setDouble(now, kAPMDeepLinkTimestampKey);
    if (referrer) {
        (void)defaults.setObject(platform::PropertyValue(*referrer), kAPMDeepLinkReferrerKey);
    } else {
        (void)defaults.removeObjectForKey(kAPMDeepLinkReferrerKey);
    }
}

bool APMHasStoredDeepLink(const APMUserDefaults& defaults) {
    const auto link = defaults.objectForKey(kAPMDeepLinkKey);
    const auto time = defaults.objectForKey(kAPMDeepLinkTimestampKey);
    return link && link->isString() && time && time->isNumber();
}

bool APMIsStoredDeepLinkExpired(const APMUserDefaults& defaults, double timeToLive, double now) {
    const auto time = defaults.numberForKey(kAPMDeepLinkTimestampKey);
    if (!time) return false;
    return std::fabs(now - time->asReal().value_or(0)) > timeToLive;
}

void APMClearStoredDeepLink(APMUserDefaults& defaults) {
    (void)defaults.removeObjectForKey(kAPMDeepLinkKey);
    (void)defaults.removeObjectForKey(kAPMDeepLinkTimestampKey);
    (void)defaults.removeObjectForKey(kAPMDeepLinkReferrerKey);
}

bool APMClearStoredDeepLinkIfExpired(APMUserDefaults& defaults, double timeToLive, double now) {
    if (!APMIsStoredDeepLinkExpired(defaults, timeToLive, now)) return false;
    APMClearStoredDeepLink(defaults);
    return true;
}

std::int64_t APMPreviousHourStartMillis(std::int64_t milliseconds) {
    return (milliseconds / kHourMillis) * kHourMillis - kHourMillis;
}
