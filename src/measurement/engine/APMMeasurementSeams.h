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

#include "measurement/messages/APMPBMessages.h"

class APMDatabase;
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
