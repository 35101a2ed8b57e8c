// Lifecycle events the engine reports by itself: the first open, session
// starts, application and system updates, the stored launch campaign, the
// "_npa" property, the legacy "_vbraid" carry-over and the session-number
// backfill. Worker queue throughout.

#include <algorithm>
#include <cmath>

#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMScreenViewReporter.h"
#include "measurement/engine/APMSessionReporter.h"
#include "measurement/engine/APMSessionStartEvent.h"
#include "measurement/engine/APMStoredDeepLink.h"
#include "measurement/engine/APMEngineWiring.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/interface/APMErrorEventLogging.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/interface/APMReceipt.h"
#include "measurement/messages/AdCampaignInfo.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMEnvironmentInfo.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMNameMaps.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMScheduler.h"
#include "measurement/storage/APMUserDefaults.h"

namespace {

constexpr std::int64_t kHourMillis = 3600000;

APMLogContext errorContext(const std::optional<APMError>& error) {
    return error ? APMLogContext(*error) : APMLogContext("(null)");
}

// The current screen's parameters, none before the application reported one.
APMObjectParameters currentScreenParameters() {
    const auto reporter = APMScreenViewReporter::sharedInstance();
    return reporter ? APMObjectParametersFrom(reporter->screenParameters()) : APMObjectParameters{};
}

// True when the property is stored; logs `queryFailure` (with the error) or
// `missing` otherwise.
bool isStored(APMDatabase& database, const std::string& name, long queryCode, const char* queryFailure,
              long missingCode, const char* missing) {
    const APMResult<bool> stored = database.containsUserAttributeWithName(name);
    if (!stored.value) {
        APMMeasurement::monitor()->log(1, queryCode, queryFailure, errorContext(stored.error));
        return false;
    }
    if (!*stored.value) {
        APMMeasurement::monitor()->log(1, missingCode, missing);
        return false;
    }
    return true;
}

// How many "_f" raw events are stored; none when they cannot be read.
std::optional<std::size_t> storedFirstOpenEventCount(APMDatabase& database) {
    const auto events = database.allRawEvents();
    if (!events.value) return std::nullopt;
    return static_cast<std::size_t>(std::count_if(events.value->begin(), events.value->end(),
                                                  [](const APMRawEventRecord& record) { return record.name == "_f"; }));
}

}  // namespace

std::int64_t APMMeasurement::timestampMillisRoundedUpToNextHour(std::int64_t milliseconds) {
    return (milliseconds / kHourMillis) * kHourMillis + kHourMillis;
}

bool APMMeasurement::isVersionSameAsOriginalVersion() const { return APMIsAppVersionSameAsOriginalVersion(); }

// MARK: - First open

void APMMeasurement::reportFirstOpenOnWorkerQueue() {
    (void)scheduler_->checkOnBackgroundThread("reportFirstOpenOnWorkerQueue");
    const auto database = this->database();
    if (!database) return;
    const auto& log = monitor();
    const double T0 = initTimestamp();
    const std::int64_t P = std::strtoll(previousFirstOpenCount().value_or("0").c_str(), nullptr, 10);

    const APMResult<bool> hasFirstOpen = database->containsUserAttributeWithName("_fot");
    if (!hasFirstOpen.value) {
        log->log(1, 23019, "Failed to query first open property. Error", errorContext(hasFirstOpen.error));
        return;
    }
    if (*hasFirstOpen.value) {
        if (P < 1) setPreviousFirstOpenCount("1");
        facade_->removeDeferredAnalyticsCollection();
        if (APMIsAppActive()) {
            reportSessionStartOnWorkerQueue(T0, false);
        } else if (isSessionExpired()) {
            removeSessionUserPropertiesOnWorkerQueue();
        }
        persistedConfig_->setLoadTimestampValue(std::nullopt);
        return;
    }

    const std::int64_t fi = P >= 1 ? 1 : (isVersionSameAsOriginalVersion() ? 1 : 0);
    const auto config = configuration();
    const bool efficient = config->efficientEngagementReportingEnabled();
    const APMObjectParameters screen = currentScreenParameters();
    const auto F0 = static_cast<std::int64_t>(T0 * 1000);
    // "_fot" marks the first open as reported, so it commits together with
    // the first open's events ("_f", then the session start and "_e") or not
    // at all: the next start finds "_fot" and reports none of them again, so
    // a kill in between would lose the rest for good. What records the
    // outcome outside the database (the deferred collection, the load time,
    // the first-open time, the session's number) follows the commit.
    const bool reported = performCommittedTransaction(*database, [&] {
        const std::optional<std::size_t> firstOpensBefore = storedFirstOpenEventCount(*database);
        if (!firstOpensBefore) return false;
        const std::int64_t storedFirstOpen = persistedConfig_->firstOpenTimestampMilliseconds();
        const double fiSetTime = storedFirstOpen ? static_cast<double>(storedFirstOpen) / 1000.0 : T0;
        setUserAttributeOnWorkerQueue(APMUserAttribute("auto", "_fi", APMValue(fi), fiSetTime));
        if (!isStored(*database, "_fi", 23161,
                      "Failed to query first open after install property after setting it. Error", 23162,
                      "Failed to set first open after install property")) {
            return false;
        }
        setUserAttributeOnWorkerQueue(
            APMUserAttribute("auto", "_fot", APMValue(timestampMillisRoundedUpToNextHour(F0)), T0));
        if (!isStored(*database, "_fot", 23020, "Failed to query first open property after setting it. Error", 23021,
                      "Failed to set first open property")) {
            return false;
        }
        APMParameters parameters;
        if (!previousVAZAppID_.empty()) parameters.set("_pvaz", APMValue(previousVAZAppID_));
        parameters.set("_pfo", APMValue(P >= 1 ? P : 0));
        parameters.set("_uwa", APMValue(1 - fi));
        if (facade_->deferredAnalyticsCollection() == 1) parameters.set("_dac", APMValue(1));
        parameters.set("_elt", APMValue(static_cast<std::int64_t>(now() * 1000)));
        if (efficient) parameters.set("_et", APMValue(1));
        std::optional<APMEvent> firstOpen =
            APMEvent::initWithOrigin("auto", false, "_f", T0, 0, APMObjectParametersFrom(parameters));
        if (!firstOpen) return false;
        (void)firstOpen->addScreenParameters(screen);
        handleInternalEventOnWorkerQueue(std::move(*firstOpen));
        if (storedFirstOpenEventCount(*database) <= firstOpensBefore) return false;
        if (APMIsAppActive()) reportSessionStartOnWorkerQueue(T0, false);
        if (!config->redundantEngagementRemovalEnabled()) {
            APMParameters engagement{{"_et", APMValue(1)}};
            if (efficient) engagement.set("_fr", APMValue(1));
            if (std::optional<APMEvent> event =
                    APMEvent::initWithOrigin("auto", false, "_e", T0, 0, APMObjectParametersFrom(engagement))) {
                (void)event->addScreenParameters(screen);
                handleInternalEventOnWorkerQueue(std::move(*event));
            }
        }
        return true;
    });
    if (!reported) return;
    facade_->removeDeferredAnalyticsCollection();
    persistedConfig_->setLoadTimestampValue(std::nullopt);
    persistedConfig_->setFirstOpenTimestampMilliseconds(F0);
    reportStoredCampaignEventOnWorkerQueue(F0 - 1);
}

// MARK: - Stored campaign

void APMMeasurement::reportStoredCampaignEventOnWorkerQueue(std::optional<std::int64_t> clickTimestampMillis) {
    (void)scheduler_->checkOnBackgroundThread("reportStoredCampaignEventWithClickTimestampInMillisOnWorkerQueue:");
    const auto defaults = APMUserDefaults::sharedUserDefaults();
    std::optional<std::string> link = defaults->stringForKey(kAPMDeepLinkKey);
    if (!link || link->empty()) return;
    const double storedAt = defaults->doubleForKey(kAPMDeepLinkTimestampKey);
    APMParameters extras;
    if (std::fabs(now() - storedAt) > configuration()->attributionCacheTTLInterval()) {
        link = "(not set)";
        extras = APMParameters{{"utm_source", APMValue("(not set)")},
                               {"utm_medium", APMValue("(not set)")},
                               {"_cc", APMValue(1)}};
    } else {
        extras.set("_cc", APMValue(APMPreviousHourStartMillis(static_cast<std::int64_t>(storedAt * 1000))));
        if (auto referrer = defaults->stringForKey(kAPMDeepLinkReferrerKey); referrer && !referrer->empty()) {
            extras.set("_ref", APMValue(*referrer));
        }
    }
    APMClearStoredDeepLink(*defaults);
    handleOpenURLOnWorkerQueue(*link, clickTimestampMillis, storedAt, extras);
}

// MARK: - Sessions

void APMMeasurement::reportSessionStartOnWorkerQueue(double timestamp, bool appInBackground) {
    (void)scheduler_->checkOnBackgroundThread("reportSessionStartOnWorkerQueue");
    const auto reporter = sessionReporter();
    if (!reporter || !reporter->shouldStartNewSession()) return;
    // The new session's number and activity time are stored when its "_s"
    // event commits: inside the first open's transaction, a rollback or a
    // kill leaves the session to start again with it.
    const std::int64_t sessionNumber = persistedConfig_->sessionNumber() + 1;
    whenCommitted([reporter] { reporter->updatePropertiesForNewSessionStart(); });
    setUserAttributeOnWorkerQueue(reporter->sessionIDPropertyWithTimestamp(timestamp));
    setUserAttributeOnWorkerQueue(reporter->sessionNumberProperty(sessionNumber));
    const bool inBackground = appInBackground && configuration()->appInBackgroundParameterEnabled();
    if (std::optional<APMEvent> event = APMSessionStartEvent(sessionNumber, inBackground, timestamp)) {
        handleInternalEventOnWorkerQueue(std::move(*event));
    }
}

void APMMeasurement::removeSessionUserPropertiesOnWorkerQueue() {
    const auto database = this->database();
    if (!database) return;
    static constexpr struct {
        const char* name;
        long code;
        const char* message;
    } kProperties[] = {
        {"_sid", 23177, "Failed to remove session ID user property on session expiration. Error"},
        {"_sno", 23178, "Failed to remove session number user property on session expiration. Error"},
        {"_se", 23192, "Failed to remove session user engagement user property on session expiration. Error"},
    };
    // Once the session's properties are gone, every later event of the
    // expired session would find nothing: one read spares it the exclusive
    // transaction. A failed read takes the full pass, which reports it.
    std::vector<std::string> names;
    for (const auto& property : kProperties) names.emplace_back(property.name);
    if (const auto stored = database->containsUserAttributeWithAnyName(names); stored.value && !*stored.value) return;
    // A rolled-back removal is logged by the store and in the block.
    (void)database->performTransaction([&database] {
        for (const auto& property : kProperties) {
            APMError error;
            if (!database->deleteUserAttributeWithName(property.name, &error) && !error.domain.empty()) {
                monitor()->log(2, property.code, property.message, error);
                return false;
            }
        }
        return true;
    });
}

void APMMeasurement::backfillSessionNumber() {
    if (persistedConfig_->sessionNumber() != 0) return;
    const auto database = this->database();
    if (!database) return;
    const APMResult<APMEventAggregates> aggregates = database->eventAggregatesWithName("_s");
    if (!aggregates.value) {
        if (aggregates.error) {
            monitor()->log(1, 23063, "Unable to query event aggregates. Name, error", APMEventDisplayName("_s"),
                           *aggregates.error);
        }
        return;
    }
    persistedConfig_->setSessionNumber(static_cast<std::int32_t>(aggregates.value->lifetimeCount()));
}

// MARK: - Updates

namespace {

// Persists `current` when it differs from `previous`; answers the previous
// version to report (none on the first launch or when nothing changed).
std::optional<std::string> versionChange(const std::string& current, const std::string& previous,
                                         const std::function<void(const std::string&)>& persist) {
    if (current == previous) return std::nullopt;
    persist(current);
    if (previous.empty()) return std::nullopt;
    return previous;
}

}  // namespace

void APMMeasurement::reportAppUpdateOnWorkerQueue() {
    (void)scheduler_->checkOnBackgroundThread("reportAppUpdateOnWorkerQueue");
    const auto identity = this->identity();
    const std::string current = identity ? identity->appVersion().value_or("") : "";
    if (const auto previous = versionChange(current, persistedConfig_->appVersion().value_or(""),
                                            [this](const std::string& v) { persistedConfig_->setAppVersion(v); })) {
        APMLogInternalEvent("auto", "_au", APMParameters{{"_pv", APMValue(*previous)}});
    }
}

void APMMeasurement::reportOSUpdateOnWorkerQueue() {
    (void)scheduler_->checkOnBackgroundThread("reportOSUpdateOnWorkerQueue");
    const std::string& current = APMEnvironmentInfo::sharedInstance().deviceOSVersion();
    if (const auto previous = versionChange(current, persistedConfig_->osVersion().value_or(""),
                                            [this](const std::string& v) { persistedConfig_->setOSVersion(v); })) {
        APMLogInternalEvent("auto", "_ou", APMParameters{{"_po", APMValue(*previous)}});
    }
}

// MARK: - Ad personalization

void APMMeasurement::setPersonalizedAdsUserPropertyOnWorkerQueue() {
    (void)scheduler_->checkOnBackgroundThread("setPersonalizedAdsUserPropertyOnWorkerQueue");
    const auto database = this->database();
    if (!database) return;
    const auto& log = monitor();
    const APMResult<APMUserAttribute> stored = database->userAttributeWithName("_npa");
    if (!stored.value && stored.error) {
        log->log(1, 23172, "Unable to read personalized ads user property. Error", *stored.error);
        return;
    }
    const std::optional<std::int64_t> wanted = shouldDisableAdPersonalization();
    if (!wanted) {
        if (!stored.value) return;
        APMError error;
        if (!database->deleteUserAttributeWithName("_npa", &error) && !error.domain.empty()) {
            log->log(1, 23173, "Unable to remove personalized ads user property in the database. Error", error);
            return;
        }
        log->log(4, 23180, "No value set for personalized ads. Removing user property.");
        whenCommitted([] { APMConsentSettingsUtil::setDiagnosticSource(0, kAPMConsentTypeAdPersonalization); });
        return;
    }
    const bool same = stored.value && stored.value->value().int64Value() == *wanted;
    if (!APMConsentSettingsUtil::adPersonalization()) {
        whenCommitted([this, wanted] { updateAdPersonalizationConsentFromNPAValue(wanted); });
    }
    if (!same) setUserAttributeOnWorkerQueue(APMUserAttribute("auto", "_npa", APMValue(*wanted), now()));
}

void APMMeasurement::updateAdPersonalizationConsentFromNPAValue(std::optional<std::int64_t> value) {
    const std::optional<int> current = APMConsentSettingsUtil::adPersonalization();
    if (value && current && (*value != 0) != (*current != 0)) return;
    const bool denied = value && *value != 0;
    APMConsentSettingsUtil::updateSettings(APMConsentSettings{
        {kAPMConsentTypeAdPersonalization,
         platform::PropertyValue(denied ? kAPMConsentStatusDenied : kAPMConsentStatusGranted)}});
    std::optional<std::int64_t> source;
    if (persistedConfig_->allowPersonalizedAds()) {
        source = 5;
    } else if (foundAdPersonalizationPlistFlag_) {
        source = 3;
    } else if (const auto defaults = APMConsentSettingsUtil::defaultSettings();
               defaults && defaults->count(kAPMConsentTypeAdPersonalization)) {
        source = 1;
    }
    if (source) APMConsentSettingsUtil::setDiagnosticSource(*source, kAPMConsentTypeAdPersonalization);
}

namespace {

std::optional<APMConsentSettings> settingsOrNone(const std::map<std::string, std::string>& entries) {
    if (entries.empty()) return std::nullopt;
    APMConsentSettings settings;
    for (const auto& [type, value] : entries) settings[type] = platform::PropertyValue(value);
    return settings;
}

}  // namespace

void APMMeasurement::updateConsentSettingsUtilWithRemoteConfig() {
    const std::optional<int> before = APMConsentSettingsUtil::adPersonalization();
    const auto config = configuration();
    const auto defaults = settingsOrNone(config->consentDefaults());
    const auto delegations = settingsOrNone(config->consentDelegations());
    if (defaults || delegations) {
        APMConsentSettingsUtil::setDefaultSettings(defaults);
        APMConsentSettingsUtil::setDelegatedSettings(delegations);
    }
    APMConsentSettingsUtil::setRegionalDefaults(settingsOrNone(config->regionalDefaults()));
    const std::optional<int> after = APMConsentSettingsUtil::adPersonalization();
    if (after && after != before) shouldUpdateNPAUserProperty_ = true;
}

// MARK: - Legacy ad-click identifier

void APMMeasurement::updateCachedAdCampaignInfoWithExistingVBRAIDProperty() {
    const auto database = this->database();
    if (!database || !persistedConfig_->adCampaignInfoBuffer().empty()) return;
    const APMResult<APMUserAttribute> vbraid = database->userAttributeWithName("_vbraid");
    if (!vbraid.value) return;
    if (const auto info = APMAdCampaignInfoFromVbraidProperty(*vbraid.value)) {
        if (const auto bytes = info->protoBuffer()) persistedConfig_->setAdCampaignInfoBuffer(bytes->toVector());
    }
}

void APMMeasurement::removeLegacyVBRAIDUserProperty() {
    const auto database = this->database();
    if (!database) return;
    APMError ignored;
    (void)database->deleteUserAttributeWithName("_vbraid", &ignored);
}
