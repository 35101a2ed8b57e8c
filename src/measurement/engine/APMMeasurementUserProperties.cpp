// User properties: per-origin limits, the user-ID side effects, "_npa", and
// the queries of the analytics interface.

#include "VadovaUtilities/VULMainBundle.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/interface/APMErrorEvents.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMNameMaps.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMScheduler.h"
#include "platform/core/Unicode.h"

namespace {

constexpr std::int64_t kMaxInternalUserPropertiesPerOrigin = 25;

// An Info.plist switch read as a number (a Boolean, an integer or a real);
// none for any other kind.
std::optional<bool> numberSwitch(const platform::PropertyValue& value) {
    if (const auto flag = value.asBoolean()) return flag;
    if (value.isNumber()) return value.asReal().value_or(0) != 0;
    return std::nullopt;
}

APMLogContext errorContext(const std::optional<APMError>& error) {
    return error ? APMLogContext(*error) : APMLogContext("(null)");
}

}  // namespace

void APMMeasurement::answerOnCallbackQueue(std::function<void()> block) {
    std::call_once(callbackQueueOnce_, [this] { callbackQueue_ = dispatcher_.makeSerialQueue("com.vadova.divu.answers"); });
    callbackQueue_->async(std::move(block));
}

void APMMeasurement::setUserAttribute(std::optional<APMUserAttribute> attribute) {
    if (!attribute) {
        monitor()->log(3, 23079, "Attempted to set nil user property");
        return;
    }
    scheduleWeakly("APMMeasurement:3010", [attribute = std::move(*attribute)](APMMeasurement& self) {
        self.setUserAttributeOnWorkerQueue(attribute);
    });
}

void APMMeasurement::removeUserAttribute(std::optional<APMUserAttribute> attribute) {
    if (!attribute) {
        monitor()->log(3, 23074, "Attempted to remove nil user property");
        return;
    }
    scheduleWeakly("APMMeasurement:2965", [attribute = std::move(*attribute)](APMMeasurement& self) {
        self.removeUserAttributeOnWorkerQueue(attribute);
    });
}

void APMMeasurement::setUserAttributeOnWorkerQueue(const APMUserAttribute& attribute) {
    (void)scheduler_->checkOnBackgroundThread("setUserAttributeOnWorkerQueue:");
    if (!isEnabled()) {
        monitor()->log(7, 23081, "Analytics is disabled. User property not set");
        return;
    }
    (void)setUserPropertyInDatabaseOnWorkerQueue(attribute);
}

bool APMMeasurement::setUserPropertyInDatabaseOnWorkerQueue(const APMUserAttribute& attribute) {
    (void)scheduler_->checkOnBackgroundThread("setUserPropertyInDatabaseOnWorkerQueue:");
    const auto database = this->database();
    if (!database) return false;
    const auto& log = monitor();
    const std::string& name = attribute.name();
    const std::string displayName = APMUserPropertyDisplayName(name);
    auto exists = database->containsUserAttributeWithName(name);
    if (!exists.value) {
        log->log(1, 23082, "Unable to query existence of user property. Name, error", displayName,
                 errorContext(exists.error));
        return false;
    }
    if (name == "_id" && *exists.value) {
        auto stored = database->userAttributeWithName("_id");
        const std::string* storedText = stored.value ? stored.value->value().stringValue() : nullptr;
        const std::string* newText = attribute.value().stringValue();
        if (stored.value && !(storedText && newText && *storedText == *newText)) {
            if (const auto identity = this->identity()) identity->resetSessionStitchingToken();
            APMError ignored;
            (void)database->deleteUserAttributeWithName("_lair", &ignored);
        }
    }
    if (name == "_npa") {
        whenCommitted(
            [this, value = attribute.value().int64Value()] { updateAdPersonalizationConsentFromNPAValue(value); });
    }
    if (!*exists.value) {
        APMResult<std::int64_t> count = attribute.isPublic() ? database->publicUserAttributeCount()
                                                             : database->userAttributeCountForOrigin(attribute.origin());
        const std::int64_t limit =
            attribute.isPublic() ? configuration()->maxPublicUserProperties() : kMaxInternalUserPropertiesPerOrigin;
        if (!count.value || *count.value >= limit) {
            if (count.error) {
                log->log(1, 23083, "Unable to query user property count. Origin, error", attribute.origin(),
                         *count.error);
            } else {
                log->log(3, 23084,
                         "Unable to set user property. Reached limit on set user properties for origin. Origin, name, "
                         "value",
                         attribute.origin(), displayName, attribute.value());
                APMLogErrorCodeEvent(APMErrorCodeUserPropertyLimitReached);
            }
            return false;
        }
    }
    APMError error;
    if (!database->updateUserAttribute(attribute, &error)) {
        log->log(1, 23085, "Unable to set user property. Name, value, error", displayName, attribute.value(), error);
        return false;
    }
    if (log->isLoggable(7)) log->log(7, 23087, "User property set. Name, value", displayName, attribute.value());
    return true;
}

void APMMeasurement::removeUserAttributeOnWorkerQueue(const APMUserAttribute& attribute) {
    (void)scheduler_->checkOnBackgroundThread("removeUserAttributeOnWorkerQueue:");
    const auto& log = monitor();
    if (!isEnabled()) {
        log->log(7, 23076, "Analytics is disabled. User property not removed");
        return;
    }
    if (attribute.name() == "_id") {
        if (const auto identity = this->identity()) identity->resetSessionStitchingToken();
    }
    const auto database = this->database();
    if (!database) return;
    const std::string displayName = APMUserPropertyDisplayName(attribute.name());
    APMError error;
    if (database->deleteUserAttributeWithName(attribute.name(), &error) || error.domain.empty()) {
        log->log(7, 23078, "User property removed. Name", displayName);
    } else {
        log->log(1, 23077, "Unable to remove user property. Name, error", displayName, error);
    }
}

void APMMeasurement::userAttributeWithName(const std::string& name,
                                           std::function<void(std::optional<APMUserAttribute>)> callback) {
    if (!callback) {
        monitor()->log(0, 23088, "userAttributeWithName callback is nil");
        return;
    }
    scheduleWeakly("APMMeasurement:3151", [name, callback = std::move(callback)](APMMeasurement& self) {
        std::optional<APMUserAttribute> answer;
        if (const auto database = self.database()) {
            auto stored = database->userAttributeWithName(name);
            if (!stored.value && stored.error) {
                monitor()->log(1, 23089, "Unable to get user attribute by name. Name", name);
            }
            answer = std::move(stored.value);
        }
        self.answerOnCallbackQueue([callback, answer] { callback(answer); });
    });
}

void APMMeasurement::userPropertiesIncludingInternal(
    bool includingInternal, std::function<void(std::vector<std::pair<std::string, APMValue>>)> callback) {
    if (!callback) {
        monitor()->log(0, 23090, "Unable to retrieve user properties. Callback is nil");
        return;
    }
    scheduleWeakly("APMMeasurement:3206", [includingInternal, callback = std::move(callback)](APMMeasurement& self) {
        std::vector<std::pair<std::string, APMValue>> answer;
        if (const auto database = self.database()) {
            auto stored = database->userAttributesIncludingInternal(includingInternal);
            if (!stored.value && stored.error) {
                monitor()->log(1, 23091, "Unable to retrieve user properties. Error", *stored.error);
            }
            for (const APMUserAttribute& attribute : stored.value.value_or(std::vector<APMUserAttribute>{})) {
                if (attribute.name().empty()) {
                    monitor()->log(3, 23092, "Cannot add invalid public user property name or value.");
                    continue;
                }
                if (attribute.value().isArray()) continue;
                answer.emplace_back(attribute.name(), attribute.value());
            }
        }
        self.answerOnCallbackQueue([callback, answer = std::move(answer)] { callback(answer); });
    });
}

void APMMeasurement::maxUserPropertiesForOrigin(const std::string& origin, std::function<void(std::int64_t)> callback) {
    if (origin.empty()) {
        monitor()->log(0, 23093, "Origin for querying MaxUserProperties cannot be nil");
        return;
    }
    if (!callback) {
        monitor()->log(0, 23094, "MaxUserProperties callback cannot be nil. Origin", origin);
        return;
    }
    answerOnCallbackQueue([callback = std::move(callback)] { callback(kMaxInternalUserPropertiesPerOrigin); });
}

void APMMeasurement::setLastAdvertisingIDResetUserPropertyOnWorkerQueue() {
    (void)scheduler_->checkOnBackgroundThread("setLastAdvertisingIDResetUserPropertyOnWorkerQueue");
    const auto database = this->database();
    if (!database || !hasUserPropertyUserIDOnWorkerQueue()) return;
    auto marker = database->containsUserAttributeWithName("_lair");
    if (!marker.value || *marker.value) return;
    setUserAttributeOnWorkerQueue(APMUserAttribute("auto", "_lair", APMValue(std::int64_t{1}), now()));
    if (const auto identity = this->identity()) identity->setShouldSetLastAdvertisingIDResetUserProperty(false);
}

bool APMMeasurement::hasUserPropertyUserIDOnWorkerQueue() {
    (void)scheduler_->checkOnBackgroundThread("hasUserPropertyUserIDOnWorkerQueue");
    const auto database = this->database();
    if (!database) return false;
    return database->containsUserAttributeWithName("_id").value.value_or(false);
}

std::optional<std::int64_t> APMMeasurement::shouldDisableAdPersonalization() {
    if (const auto allow = persistedConfig_ ? persistedConfig_->allowPersonalizedAds() : std::nullopt) {
        return *allow ? 0 : 1;
    }
    if (const auto current = APMConsentSettingsUtil::consentSettings();
        current && current->count(kAPMConsentTypeAdPersonalization)) {
        return APMConsentSettingsUtil::adPersonalization() == 1 ? 0 : 1;
    }
    if (const auto plist =
            VULMainBundle::objectForInfoDictionaryKey("VADOVA_ANALYTICS_DEFAULT_ALLOW_AD_PERSONALIZATION_SIGNALS")) {
        const auto allow = numberSwitch(*plist);
        if (!allow) return 0;
        foundAdPersonalizationPlistFlag_ = true;
        return *allow ? 0 : 1;
    }
    const auto defaults = APMConsentSettingsUtil::defaultSettings();
    const std::string* text = nullptr;
    if (defaults) {
        if (const auto entry = defaults->find(kAPMConsentTypeAdPersonalization); entry != defaults->end()) {
            text = entry->second.asString();
        }
    }
    if (!text) return std::nullopt;
    const std::string lowered = platform::toLowerCase(*text);
    if (lowered == kAPMConsentStatusDenied) return 1;
    if (lowered == kAPMConsentStatusGranted) return 0;
    return std::nullopt;
}

bool APMMeasurement::shouldAllowAdNetworkRegistration() const {
    const auto value = VULMainBundle::objectForInfoDictionaryKey("VADOVA_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_ENABLED");
    return value ? numberSwitch(*value).value_or(true) : true;
}
