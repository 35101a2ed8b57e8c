// The facade's user state: user properties and the user ID, the queries,
// the collection switch, the session, reset, user data and default event
// parameters. Checks run on the caller's thread; state changes on the
// serial queue.

#include <utility>

#include "VeredodaAnalytics/APMAnalytics.h"
#include "VeredodaAnalytics/APMAnalyticsState.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/interface/APMDataTypeValidator.h"
#include "measurement/interface/APMErrorEvents.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMUserDefaults.h"
#include "platform/core/Unicode.h"

using apm_analytics::state;

namespace {

constexpr std::size_t kUserPropertyLimit = APMDataTypeValidator::kMaxUserPropertyNameLength;

// A string's Boolean as the platform reads it: leading blanks, a sign and
// zeros skipped, then "Y", "y", "T", "t" or a digit 1-9 means true.
bool stringBoolValue(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    while (i < text.size() && text[i] == '0') ++i;
    if (i == text.size()) return false;
    const char c = text[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

bool publicNameAccepted(const std::string& name) {
    APMValidationFailure failure = APMValidationFailure::None;
    if (APMDataTypeValidator::isValidPublicUserAttributeName(std::string_view(name), &failure)) return true;
    const APMValue offending(name);
    APMLogErrorEvent(failure == APMValidationFailure::Reserved ? APMErrorCodeUserPropertyNameIsReserved
                                                               : APMErrorCodeInvalidUserPropertyName,
                     std::string_view(name), kUserPropertyLimit, &offending);
    return false;
}

void updatePersonalizedAds(const std::optional<std::string>& value) {
    const auto facade = state();
    if (!facade->enabled) {
        APMMonitor::shared()->log(7, 25033, "Personalized Ads property changed while Analytics is disabled");
    }
    const auto persisted = APMAnalyticsEngineBridge::persistedConfig();
    persisted->setAllowPersonalizedAds(value ? std::optional<bool>(stringBoolValue(*value)) : std::nullopt);
    if (!value && APMConsentSettingsUtil::adPersonalization()) APMConsentSettingsUtil::unsetAdPersonalization();
    if (!facade->enabled) return;
    const auto& ask = APMAnalyticsEngineBridge::engineSeams().shouldDisableAdPersonalization;
    const std::optional<std::int64_t> answer = ask ? ask() : std::nullopt;
    if (answer) {
        APMAnalyticsEngineBridge::setUserAttribute(APMUserAttribute("auto", "_npa", APMValue(*answer), APMAnalytics::now()));
    } else {
        APMAnalyticsEngineBridge::removeUserAttribute(APMUserAttribute("auto", "_npa", APMValue(0), APMAnalytics::now()));
    }
}

}  // namespace

void APMAnalytics::setUserPropertyString(const std::optional<std::string>& value, const std::string& name) {
    if (name == "allow_personalized_ads") {
        queueOperationWithBlock([value] { updatePersonalizedAds(value); });
        return;
    }
    if (!value) {
        removeUserAttributeForName(name);
        return;
    }
    if (!publicNameAccepted(name)) return;
    const APMValue typed(*value);
    APMValidationFailure failure = APMValidationFailure::None;
    if (!APMDataTypeValidator::isValidPublicUserAttributeValue(&typed, &failure)) {
        if (failure == APMValidationFailure::TooLong) {
            APMLogErrorEvent(APMErrorCodeUserPropertyValueTooLong, std::string_view(name), kUserPropertyLimit, &typed);
        }
        return;
    }
    sharedInstance()->setInternalUserProperty(APMObject(typed), name, "app");
}

void APMAnalytics::setUserAttributeNumber(const platform::PropertyValue& number, const std::string& name) {
    if (!publicNameAccepted(name)) return;
    std::optional<APMValue> value;
    if (number.kind() == platform::PropertyValue::Kind::Real) {
        value = APMValue(*number.asReal());
    } else if (number.isBoolean()) {
        value = APMValue(static_cast<std::int64_t>(*number.asBoolean()));
    } else if (number.isNumber()) {
        value = APMValue(*number.asInteger());
    }
    if (!value) return;
    sharedInstance()->setInternalUserProperty(APMObject(*value), name, "auto");
}

void APMAnalytics::removeUserAttributeForName(const std::string& name) {
    APMValidationFailure failure = APMValidationFailure::None;
    if (APMDataTypeValidator::isValidPublicUserAttributeName(std::string_view(name), &failure)) {
        removeInternalUserAttributeForName(name);
    }
}

void APMAnalytics::setInternalUserProperty(const std::optional<APMObject>& value, const std::string& name,
                                           const std::string& origin) {
    APMValidationFailure failure = APMValidationFailure::None;
    if (!APMDataTypeValidator::isValidInternalUserAttributeName(std::string_view(name), &failure)) {
        const APMValue offending(name);
        APMLogErrorEvent(APMErrorCodeInvalidUserPropertyName, std::string_view(name), kUserPropertyLimit, &offending);
        return;
    }
    if (origin.empty() || platform::codePointCount(origin) > 32) {
        APMMonitor::shared()->log(2, 25005, "Unable to set user property. Origin is invalid. Origin, name", origin,
                                  name);
        return;
    }
    if (!value) {
        removeInternalUserAttributeForName(name);
        return;
    }
    const std::optional<APMValue> typed = APMValue::valueFromObject(&*value);
    if (!typed) return;
    if (!APMDataTypeValidator::isValidInternalUserAttributeValue(&*typed, name, &failure)) {
        if (failure == APMValidationFailure::TooLong) {
            APMLogErrorEvent(APMErrorCodeUserPropertyValueTooLong, std::string_view(name), kUserPropertyLimit,
                             typed->isArray() ? nullptr : &*typed);
        }
        return;
    }
    APMUserAttribute attribute(origin, name, *typed, now());
    queueOperationWithBlock([attribute] { APMAnalyticsEngineBridge::setUserAttribute(attribute); });
}

void APMAnalytics::removeInternalUserAttributeForName(const std::string& name) {
    APMUserAttribute attribute("", name, APMValue(0.0), now());
    queueOperationWithBlock([attribute] { APMAnalyticsEngineBridge::removeUserAttribute(attribute); });
}

void APMAnalytics::setUserID(const std::optional<platform::PropertyValue>& userID) {
    if (!userID) {
        removeInternalUserAttributeForName("_id");
        removeInternalUserAttributeForName("_lair");
        return;
    }
    if (const std::string* text = userID->asString()) {
        sharedInstance()->setInternalUserProperty(APMObject(*userID), "_id", "app");
        (void)text;
        return;
    }
    APMMonitor::shared()->log(0, 25004, "User ID must be NSString. User ID",
                              std::string(platform::propertyKindName(userID->kind())));
}

void APMAnalytics::userPropertiesIncludingInternal(bool includingInternal, platform::QueueRef queue,
                                                   std::function<void(APMUserPropertyList)> callback) {
    queueOperationWithBlock([includingInternal, queue, callback = std::move(callback)] {
        if (!callback) {
            APMMonitor::shared()->log(2, 25006, "Analytics userProperties callback cannot be nil");
            return;
        }
        if (!queue) {
            APMMonitor::shared()->log(2, 25007, "Cannot query for Analytics user properties. Queue cannot be nil");
            state()->dispatcher.mainQueue()->async([callback] { callback({}); });
            return;
        }
        if (!state()->enabled) {
            APMMonitor::shared()->log(5, 25008, "Cannot query for public user properties when Analytics is disabled");
            queue->async([callback] { callback({}); });
            return;
        }
        const bool asked = APMAnalyticsEngineBridge::userProperties(
            includingInternal, [queue, callback](APMUserPropertyList properties) {
                queue->async([callback, properties = std::move(properties)] { callback(properties); });
            });
        if (!asked) queue->async([callback] { callback({}); });
    });
}

void APMAnalytics::maxUserPropertiesForOrigin(const std::string& origin, platform::QueueRef queue,
                                              std::function<void(std::int64_t)> callback) {
    if (origin.empty()) {
        APMMonitor::shared()->log(2, 25009,
                                  "Cannot query Analytics for max user properties. Origin must be a non-empty string");
        return;
    }
    if (!queue) {
        APMMonitor::shared()->log(2, 25010, "Cannot query Analytics for max user properties. Queue cannot be nil. Origin",
                                  origin);
        return;
    }
    if (!callback) {
        APMMonitor::shared()->log(
            2, 25011, "Cannot query Analytics for max user properties. MaxUserProperties callback cannot be nil. Origin",
            origin);
        return;
    }
    queueOperationWithBlock([origin, queue, callback = std::move(callback)] {
        const bool asked = APMAnalyticsEngineBridge::maxUserProperties(origin, [queue, callback](std::int64_t count) {
            queue->async([callback, count] { callback(count); });
        });
        if (!asked) queue->async([callback] { callback(0); });
    });
}

void APMAnalytics::setAnalyticsEnabled(bool enabled, bool persistSetting) {
    dispatchAsyncOnSerialQueue([enabled, persistSetting] {
        if (persistSetting) APMAnalyticsEngineBridge::persistedConfig()->setMeasurementEnabledState(enabled ? 1 : 2);
        const auto facade = state();
        if (facade->deactivated && enabled) return;
        facade->enabled = enabled;
        APMAnalyticsEngineBridge::setEnabled(enabled);
    });
}

void APMAnalytics::setSessionTimeoutInterval(double seconds) {
    dispatchAsyncOnSerialQueue([seconds] {
        if (seconds < 0) {
            APMMonitor::shared()->log(4, 25060, "Session timeout interval cannot be set to a negative value");
            return;
        }
        const auto& engineSetter = APMAnalyticsEngineBridge::engineSeams().setSessionTimeoutInterval;
        if (APMAnalyticsEngineBridge::didInitializeComponents() && engineSetter) {
            engineSetter(seconds);
        } else {
            APMAnalyticsEngineBridge::persistedConfig()->setSessionTimeoutValue(seconds);
        }
        APMMonitor::shared()->log(7, 25059, "Session timeout interval set. (s)", seconds);
    });
}

void APMAnalytics::sessionIDWithCompletion(std::function<void(std::int64_t, std::optional<APMError>)> completion) {
    if (!completion) {
        APMMonitor::shared()->log(1, 25050, "Analytics sessionID completion cannot be nil");
        return;
    }
    dispatchAsyncOnSerialQueue([completion = std::move(completion)] {
        const platform::QueueRef answerQueue = state()->completionQueue;
        const auto& ask = APMAnalyticsEngineBridge::engineSeams().sessionIDWithCompletion;
        if (APMAnalyticsEngineBridge::didInitializeComponents() && ask) {
            ask([answerQueue, completion](std::int64_t sessionID, std::optional<APMError> error) {
                answerQueue->async([completion, sessionID, error] { completion(sessionID, error); });
            });
            return;
        }
        answerQueue->async([completion] { completion(0, APMError::withCode(13, "Analytics uninitialized")); });
    });
}

std::optional<std::string> APMAnalytics::appInstanceID() {
    if (APMConsentSettingsUtil::isAnalyticsStorageDenied()) return std::nullopt;
    if (auto afterReset = suiteDefaults()->stringForKey("app_instance_id_after_reset"); afterReset && !afterReset->empty()) {
        return afterReset;
    }
    const auto identity = APMIdentity::sharedInstance();
    return identity ? identity->appInstanceID() : std::nullopt;
}

void APMAnalytics::resetAnalyticsData() {
    const auto suite = suiteDefaults();
    setLoadTimestamp(now());
    (void)suite->setInteger(suite->integerForKey("reset_retry_count") + 1, "reset_retry_count");
    (void)suite->setBool(true, "need_first_open_after_reset");
    const std::string fresh = APMIdentity::randomAppInstanceID();
    if (fresh.empty()) {
        APMMonitor::shared()->log(1, 25039, "Cannot generate a new app instance ID");
        return;
    }
    std::optional<std::string> appInstanceID;
    if (!APMConsentSettingsUtil::isAnalyticsStorageDenied()) {
        appInstanceID = fresh;
        (void)suite->setObject(platform::PropertyValue(fresh), "app_instance_id_after_reset");
    }
    queueOperationWithBlock([suite, appInstanceID] {
        const auto& reset = APMAnalyticsEngineBridge::engineSeams().resetAnalyticsDataWithAppInstanceID;
        if (!reset || !reset(appInstanceID)) {
            // The raised retry count makes the engine wipe at its next start.
            APMMonitor::shared()->log(1, 25037, "Failed to reset Analytics data");
            return;
        }
        (void)suite->removeObjectForKey("reset_retry_count");
        if (appInstanceID && suite->stringForKey("app_instance_id_after_reset") == appInstanceID) {
            (void)suite->removeObjectForKey("app_instance_id_after_reset");
        }
    });
}

void APMAnalytics::setUserData(const platform::PropertyDictionary& userData) {
    queueOperationWithBlockThenWait([userData] {
        if (!state()->enabled) {
            APMMonitor::shared()->log(4, 25044, "Analytics is disabled. User data not set.");
            return;
        }
        if (!APMAnalyticsEngineBridge::hasEngine()) return;
        const auto& set = APMAnalyticsEngineBridge::engineSeams().setUserData;
        if (set) set(userData);
    });
}

void APMAnalytics::setDefaultEventParameters(std::optional<APMDefaultParameterEntries> parameters) {
    queueOperationWithBlock([parameters = std::move(parameters)]() mutable {
        if (APMAnalyticsEngineBridge::hasEngine()) APMAnalyticsEngineBridge::setDefaultEventParameters(std::move(parameters));
    });
}
