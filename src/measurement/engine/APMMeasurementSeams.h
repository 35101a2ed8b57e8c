#pragma once
// What the engine calls in parts that are not built yet, and what it needs
// of the analytics facade that sits above it. Each seam is a function the
// owner may fill in; an empty one does nothing and answers as an absent
// object would (false, none). The engine never calls an empty function.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/interface/APMEvent.h"
#include "measurement/messages/APMPBMessages.h"

class APMDatabase;
class APMEventAggregates;
class APMTCFClient;

// The audience evaluator over the database (audiences and experiments).
class APMAudienceEvaluator {
public:
    virtual ~APMAudienceEvaluator() = default;
    // Replaces the stored audience definitions; false when storing fails.
    [[nodiscard]] virtual bool updateAudiences(const std::vector<std::shared_ptr<APMPBAudience>>& audiences) = 0;
};

struct APMMeasurementSeams {
    // Lifecycle events (first open, updates, "_npa", campaigns).
    std::function<void()> setPersonalizedAdsUserPropertyOnWorkerQueue;
    std::function<void()> reportFirstOpenOnWorkerQueue;
    std::function<void()> updateCachedAdCampaignInfoWithExistingGBRAIDProperty;
    std::function<void()> removeLegacyGBRAIDUserProperty;
    std::function<void()> backfillSessionNumber;
    std::function<void()> reportAppUpdateOnWorkerQueue;
    std::function<void()> reportOSUpdateOnWorkerQueue;
    std::function<void()> reportStoredCampaignEventOnWorkerQueue;
    std::function<void()> updateConsentSettingsUtilWithRemoteConfig;
    // Consent chosen at start from the stored sources.
    std::function<void()> setProspectiveConsentSettings;
    // Deferred deep links.
    std::function<bool()> shouldAllowRequestDeferredDeepLink;
    std::function<void()> requestDeferredDeepLink;
    std::function<bool()> hasSVTMPreviewHeaders;
    // Reset and wipe; false when the wipe failed.
    std::function<bool()> wipeoutAnalyticsDataAndResetComponents;
    std::function<void()> checkAppConfigDiagnosticsOnWorkerQueue;
    // Upload of bundles.
    std::function<void()> uploadData;
    // Sessions and search-ad attribution.
    std::function<void(bool enabled)> setSessionReportingEnabled;
    std::function<void(bool enabled)> setSearchAdReporterEnabled;
    std::function<void()> startSearchAdReporter;
    // Audiences: made at each component start; none fails the start.
    std::function<std::shared_ptr<APMAudienceEvaluator>(const std::shared_ptr<APMDatabase>&)> makeAudience;
    // TCF consent client, made at each component start.
    std::function<std::shared_ptr<APMTCFClient>()> makeTCFClient;
    // On-device conversion measurement.
    std::function<void()> checkPSMDependencyOnWorkerQueue;
    std::function<void()> checkODM2DependencyOnWorkerQueue;
    std::function<void()> setupODM2ConversionService;
    std::function<void()> maybeDeleteExpiredPSMValueOnWorkerQueue;
    std::function<void()> initiateODMGroupIDProtocol;
    std::function<void()> updateAdsOnDeviceConversionMeasurement;
    std::function<void()> updateODFIDs;
    std::function<void()> updateAdsOnDeviceConversionGroupInfo;
    // Screen views: created when launching has finished.
    std::function<void()> createScreenViewReporter;
    // Whether the legacy measurement class was switched off.
    std::function<bool()> disableZIVMeasurement;
    // Whether the remote-configuration library is linked.
    std::function<bool()> isVeredodaRemoteConfigSDKPresent;

    // The event road.
    // Conditional user properties react to an event before it is written:
    // they write their timed-out and expired events themselves (through
    // writeFilteredEventOnWorkerQueue) and answer the events the name
    // triggered, or none on failure. Empty: nothing is triggered.
    std::function<std::optional<std::vector<APMEvent>>(const APMEvent& event)> processConditionalUserProperties;
    // The facade's event listeners.
    std::function<void(const APMEvent& event)> notifyEventListeners;
    // The session reporter and the session-start report.
    std::function<bool()> isSessionExpired;
    std::function<void()> extendSession;
    std::function<void(double timestamp, bool appInBackground)> reportSessionStartOnWorkerQueue;
    std::function<void()> removeSessionUserPropertiesOnWorkerQueue;
    std::function<void(double timestamp)> initiateODMSessionStartProtocol;
    // "_npa" hands its value to the ad-personalization consent.
    std::function<void(std::int64_t value)> updateAdPersonalizationConsentFromNPAValue;
    // Consent identifiers and fields of the raw-event metadata.
    std::function<void(APMPBMeasurementBundle& metadata)> applyConsentToRawEventMetadata;
    // The metadata's linkage bits: bit 0 when the default identity support
    // reports an app-data consent status, bits 1-3 for the linked
    // conversion libraries. Empty: none.
    std::function<std::int32_t()> metadataLinkageBits;
    // Audience filters over one counted event; false fails the bundle.
    std::function<bool(const APMEvent& event, const APMEventAggregates& aggregates)> evaluateFiltersForEvent;
};

// The facade's persisted state that the engine reads and writes, and its
// operation queue. The default (APMMeasurementFacadeState::makeDefault)
// keeps the values in the shared measurement user defaults under the
// facade's keys and runs queued operations at once.
class APMMeasurementFacadeState {
public:
    virtual ~APMMeasurementFacadeState() = default;
    static std::shared_ptr<APMMeasurementFacadeState> makeDefault(double loadTimestamp);

    virtual double loadTimestamp() const = 0;
    virtual std::optional<std::int64_t> deferredAnalyticsCollection() const = 0;
    virtual void setDeferredAnalyticsCollection(std::int64_t value) = 0;
    virtual std::int64_t resetRetryCount() const = 0;
    virtual void setResetRetryCount(std::int64_t count) = 0;  // below 1 removes it
    virtual bool needFirstOpenAfterReset() const = 0;
    virtual void removeNeedFirstOpenAfterReset() = 0;
    virtual std::optional<std::string> appInstanceIDAfterReset() const = 0;
    virtual void setAppInstanceIDAfterReset(std::optional<std::string> appInstanceID) = 0;
    virtual void removeStartUpConsentSettings() = 0;
    virtual void removeDeferredResetOnDeniedConsent() = 0;
    // Runs the block behind every interface call queued before it.
    virtual void queueOperation(std::function<void()> block) = 0;
};
