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

// The audience work of building one bundle, in the order bundling runs it
// inside its transaction: startSession (a session start among the raw
// events), evaluateEvent per event after its aggregates were saved, finish.
// Every false is a database failure and rolls the bundle back. The default
// has no audiences and answers true.
class APMAudienceBundleWork {
public:
    virtual ~APMAudienceBundleWork() = default;
    [[nodiscard]] virtual bool startSession(const std::vector<std::shared_ptr<APMPBUserAttribute>>&) { return true; }
    [[nodiscard]] virtual bool evaluateEvent(const APMEvent&, const APMEventAggregates&) { return true; }
    // Evaluates the attributes at `evaluationTime` and puts the results into
    // the bundle's audience evaluation results.
    [[nodiscard]] virtual bool finish(const std::vector<std::shared_ptr<APMPBUserAttribute>>&, double /*evaluationTime*/,
                                      APMPBMeasurementBundle&) {
        return true;
    }
};

// The audience evaluator over the database (audiences and experiments).
class APMAudienceEvaluator {
public:
    virtual ~APMAudienceEvaluator() = default;
    // Replaces the stored audience definitions; false when storing fails.
    [[nodiscard]] virtual bool updateAudiences(const std::vector<std::shared_ptr<APMPBAudience>>& audiences) = 0;
    // A new pass for one bundle.
    virtual std::unique_ptr<APMAudienceBundleWork> beginBundle() { return std::make_unique<APMAudienceBundleWork>(); }
};

struct APMMeasurementSeams {
    // Consent chosen at start from the stored sources.
    std::function<void()> setProspectiveConsentSettings;
    // Search-ad attribution.
    std::function<void(bool enabled)> setSearchAdReporterEnabled;
    std::function<void()> startSearchAdReporter;
    // Audiences: made at each component start; none fails the start.
    std::function<std::shared_ptr<APMAudienceEvaluator>(const std::shared_ptr<APMDatabase>&)> makeAudience;
    // TCF consent client, made at each component start.
    std::function<std::shared_ptr<APMTCFClient>()> makeTCFClient;
    // Whether the legacy measurement class was switched off.
    std::function<bool()> disableZIVMeasurement;
    // Whether the remote-configuration library is linked.
    std::function<bool()> isVeredodaRemoteConfigSDKPresent;

    // The event road.
    // The facade's event listeners, handed an event of their own, and
    // whether any may hear it (empty: assume so); with none, no copy is made.
    std::function<void(APMEvent event)> notifyEventListeners;
    std::function<bool()> hasEventListeners;
    // Replaces the metadata's linkage bits (tests); empty: the engine's own.
    std::function<std::int32_t()> metadataLinkageBits;
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
    virtual void removeDeferredAnalyticsCollection() = 0;
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
