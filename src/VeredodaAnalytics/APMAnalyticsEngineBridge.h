#pragma once
// APMAnalyticsEngineBridge: the only place where this library reaches the
// measurement engine. Every engine call the facade and the connector make
// goes through one function here, so a change of an engine signature is
// one edit in APMAnalyticsEngineBridge.cpp.
//
// The session, screen, link, reset, user-data and conditional-property
// entries are replaceable functions (`engineSeams()`): they call the engine's
// shared instance by default, and a test may replace one to observe the
// facade's side alone; an emptied one answers as an absent engine would.
//
// Threads: every function may be called from any thread; engine work is
// handed to the engine's worker queue by the engine itself. The seams and
// the configuration provider are set before the start and then only read.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "measurement/engine/APMMeasurement.h"
#include "measurement/interface/APMEvent.h"
#include "measurement/interface/APMObjectParameters.h"
#include "measurement/storage/APMError.h"
#include "measurement/storage/APMUserAttribute.h"
#include "measurement/storage/APMValue.h"
#include "platform/core/NotificationCenter.h"

class APMPersistedConfig;
class APMSearchAdReporter;

using APMEventInterceptor = APMMeasurement::EventInterceptor;
using APMDefaultParameterEntries = APMMeasurement::DefaultParameterEntries;
using APMUserPropertyList = std::vector<std::pair<std::string, APMValue>>;

// A conditional user property as the connector hands it on: only the
// known fields, each already of its type.
struct APMConditionalUserPropertyFields {
    std::string name;
    std::optional<std::string> origin;
    std::optional<APMValue> value;
    std::optional<std::string> triggerEventName;
    std::optional<double> triggerTimeout;
    std::optional<double> timeToLive;
    std::optional<double> creationTimestamp;
    std::optional<double> triggeredTimestamp;
    std::optional<bool> active;
    std::optional<APMEvent> triggeredEvent;
    std::optional<APMEvent> timedOutEvent;
    std::optional<APMEvent> expiredEvent;
};

// Engine entries, each filled with the engine's call (see above). Empty:
// nothing happens, and the queries answer "no engine".
struct APMAnalyticsEngineSeams {
    // (session ID, error); none when the engine cannot answer. Filled: the engine's.
    std::function<void(std::function<void(std::int64_t, std::optional<APMError>)>)> sessionIDWithCompletion;
    std::function<void(double seconds)> setSessionTimeoutInterval;  // filled: the engine's
    // True when the engine reset its data. Filled, as setUserData: the engine's.
    std::function<bool(const std::optional<std::string>& appInstanceID)> resetAnalyticsDataWithAppInstanceID;
    std::function<void(const platform::PropertyDictionary& userData)> setUserData;
    std::function<std::optional<std::int64_t>()> shouldDisableAdPersonalization;
    // The screen-view reporter: filled with the process's; tracking makes it
    // on first use (on the facade's dispatcher and notification center).
    std::function<void(const APMObjectParameters& parameters, double timestamp)> trackScreenWithParameters;
    std::function<std::optional<APMObjectParameters>()> screenParameters;
    // Links: filled with the engine's.
    std::function<void(const std::string& url)> handleSVTMDebugModeWithURL;
    std::function<void(const std::string& url, double timestamp, const std::optional<std::string>& referrerURL)>
        handleNonFirstOpenEventURL;
    // Conditional user properties (the connector's entries): filled with the
    // engine's controller, here and after resetForTesting.
    std::function<void(const APMConditionalUserPropertyFields& property)> setConditionalUserProperty;
    std::function<void(const APMEvent& clearEvent, const std::string& name)> clearConditionalUserProperty;
    std::function<std::vector<std::pair<std::string, std::string>>(const std::string& prefix,
                                                                   const std::string& origin)>
        conditionalUserProperties;
};

// What the facade hands the engine at its creation, beside its state: the
// engine calls these back (see APMMeasurementSeams).
struct APMAnalyticsFacadeHooks {
    std::function<void(APMEvent)> notifyEventListeners;
    std::function<bool()> hasEventListeners;
    std::function<std::shared_ptr<APMTCFClient>()> makeTCFClient;
    std::function<void()> setProspectiveConsentSettings;
};

class APMAnalyticsEngineBridge {
public:
    APMAnalyticsEngineBridge() = delete;

    // What the engine is built from; tests give their dispatcher, folders
    // and stores. Empty: the process's defaults.
    using ConfigurationProvider = std::function<APMMeasurementConfiguration()>;
    static void setConfigurationProvider(ConfigurationProvider provider);
    static APMAnalyticsEngineSeams& engineSeams();

    // Creation of the engine's shared instance; the facade hands in its
    // persisted state and its hooks. The bridge also gives the engine its
    // search-ad reporter: made on the worker queue when the engine first
    // enables or starts it, from the options file's environment.
    static void createEngine(const std::string& appID, bool enabled, bool deactivated,
                             const std::vector<std::string>& safelistedEvents,
                             std::shared_ptr<APMMeasurementFacadeState> facade, platform::Dispatcher* dispatcher,
                             APMAnalyticsFacadeHooks hooks);
    static bool hasEngine();
    // Closes the engine's database, for the end of the process.
    static void closeDatabase();
    static bool wasEnabledDuringInitialization();
    static bool didInitializeComponents();
    static void setEnabled(bool enabled);
    // The engine's persisted configuration, else the one it will be built with.
    static std::shared_ptr<APMPersistedConfig> persistedConfig();
    static bool hasRemoteConsentDefaults();

    static void logEvent(const std::string& origin, bool isPublicEvent, const std::string& name,
                         std::optional<APMObjectParameters> parameters, double timestamp, bool enabled,
                         bool ignoreEnabled, bool ignoreInterceptor, APMEventInterceptor interceptor,
                         std::optional<APMObjectParameters> addedScreenParameters);
    static void incrementDiagnosticsSignal(const std::string& signal, const std::string& metadata);
    // The deep link of a user activity (the engine's rule; needs no engine).
    [[nodiscard]] static std::optional<std::string> deepLinkFromUserActivity(
        const std::optional<platform::UserActivity>& activity);
    static void setUserAttribute(const APMUserAttribute& attribute);
    static void removeUserAttribute(const APMUserAttribute& attribute);
    // False (and no call) when no engine exists.
    static bool userProperties(bool includingInternal, std::function<void(APMUserPropertyList)> callback);
    static bool maxUserProperties(const std::string& origin, std::function<void(std::int64_t)> callback);
    static void setDefaultEventParameters(std::optional<APMDefaultParameterEntries> parameters);

    // Purchases: the engine's duplicate filter (no engine: the callback is
    // never called) and the fingerprint of a purchase whose event was logged.
    static void filterPurchaseTransactions(APMMeasurement::PurchaseTransactions transactions,
                                           std::function<void(APMMeasurement::PurchaseTransactions)> callback);
    static void recordPurchaseFingerprint(const std::string& fingerprint);

    // Installs the process's ad-exposure reporter once, its screens those of
    // the engine's screen-view reporter and its app state the engine's, and
    // has launching create the screen-view reporter.
    static void installAdExposureReporter(platform::Dispatcher& dispatcher, platform::NotificationCenter& center);

    // The engine's search-ad reporter; none before the engine made it.
    static std::shared_ptr<APMSearchAdReporter> searchAdReporter();

    // Test hook: forgets the provider, the seams and the reporters.
    static void resetForTesting();
};
