#include "measurement/engine/APMEngineSubsystems.h"

#include <utility>

#include "measurement/audiences/APMAudience.h"
#include "measurement/audiences/APMAudienceBundlePass.h"
#include "measurement/audiences/APMExperimentManager.h"
#include "measurement/audiences/APMExperimentTaskManager.h"
#include "measurement/engine/APMRemoteConfig.h"
#include "measurement/interface/APMIdentity.h"

namespace {

// The name and version under which the engine asks for experiments.
constexpr const char* kMeasurementSDKName = "app_measurement";

// One bundle's audience pass; it keeps the audience alive while it runs.
class AudienceBundleAdapter final : public APMAudienceBundleWork {
public:
    explicit AudienceBundleAdapter(std::shared_ptr<APMAudience> audience)
        : audience_(std::move(audience)), pass_(*audience_) {}
    bool startSession(const std::vector<std::shared_ptr<APMPBUserAttribute>>& userAttributes) override {
        return pass_.startSession(userAttributes);
    }
    bool evaluateEvent(const APMEvent& event, const APMEventAggregates& aggregates) override {
        return pass_.evaluateEvent(event, aggregates);
    }
    bool finish(const std::vector<std::shared_ptr<APMPBUserAttribute>>& userAttributes, double evaluationTime,
                APMPBMeasurementBundle& bundle) override {
        return pass_.finish(userAttributes, evaluationTime, bundle);
    }

private:
    std::shared_ptr<APMAudience> audience_;
    APMAudienceBundlePass pass_;
};

class AudienceAdapter final : public APMAudienceEvaluator {
public:
    explicit AudienceAdapter(std::shared_ptr<APMAudience> audience) : audience_(std::move(audience)) {}
    bool updateAudiences(const std::vector<std::shared_ptr<APMPBAudience>>& audiences) override {
        return audience_->updateAudiences(audiences);
    }
    std::unique_ptr<APMAudienceBundleWork> beginBundle() override {
        return std::make_unique<AudienceBundleAdapter>(audience_);
    }

private:
    std::shared_ptr<APMAudience> audience_;
};

APMAudienceSettings currentAudienceSettings() {
    const std::shared_ptr<APMRemoteConfig> config = APMMeasurement::remoteConfig();
    APMAudienceSettings settings;
    settings.maxAudienceCount = config->maxAudienceCount();
    settings.maxFilterResultCount = config->maxFilterResultCount();
    settings.filterLimits.maxFiltersPerAudience = config->maxFiltersPerAudience();
    settings.filterLimits.maxParametersPerFilter = config->maxParametersPerFilter();
    return settings;
}

// The engine's client: activation and Boolean flags. It keeps the observer
// alive, since the client holds its delegate weakly.
class ExperimentClientAdapter final : public APMRemoteConfigExperimentClient {
public:
    ExperimentClientAdapter(std::shared_ptr<APMEClient> client, std::shared_ptr<APMEExperimentObserverDelegate> observer)
        : client_(std::move(client)), observer_(std::move(observer)) {}

    bool activateLatestSnapshot(APMError* error) override { return client_->activateLatestSnapshot(error); }
    std::optional<bool> flagValue(const std::string& flagName) const override {
        return APMEFlagBoolValue(client_->valueForFlag(flagName));
    }

private:
    std::shared_ptr<APMEClient> client_;
    std::shared_ptr<APMEExperimentObserverDelegate> observer_;
};

// New snapshots and fetch errors go to the engine's configuration, which
// also decides whether fetching is wanted.
std::shared_ptr<APMEExperimentObserverDelegate> makeObserver() {
    auto observer = std::make_shared<APMEExperimentObserverDelegate>();
    observer->clientDidReceiveNewSnapshot = [](const std::shared_ptr<APMEClient>&) {
        APMMeasurement::remoteConfig()->clientDidReceiveNewSnapshot();
    };
    observer->clientDidReceiveFetchError = [](const std::shared_ptr<APMEClient>&, const APMError& error) {
        APMMeasurement::remoteConfig()->clientDidReceiveFetchError(error);
    };
    observer->shouldFetchExperimentsForClient = [](const std::shared_ptr<APMEClient>&) {
        const std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
        return APMMeasurement::remoteConfig()->shouldFetchExperiments(engine && engine->isEnabled());
    };
    return observer;
}

class ExperimentManagerAdapter final : public APMRemoteConfigExperimentManager {
public:
    explicit ExperimentManagerAdapter(std::shared_ptr<APMEManager> manager) : manager_(std::move(manager)) {}

    std::shared_ptr<APMRemoteConfigExperimentClient> registerMeasurementClient(std::int64_t libraryVersion) override {
        auto property = std::make_shared<APMESDKProperty>(kMeasurementSDKName);
        property->setVersion(libraryVersion);
        std::shared_ptr<APMEClient> client = manager_->registerSDKProperty(property, {});
        if (!client) return nullptr;
        auto observer = makeObserver();
        client->setDelegate(observer);
        return std::make_shared<ExperimentClientAdapter>(std::move(client), std::move(observer));
    }
    std::vector<std::int64_t> experimentIDs() const override { return manager_->experimentIDs(); }
    void reset() override { manager_->reset(); }

private:
    std::shared_ptr<APMEManager> manager_;
};

}  // namespace

void APMInstallAudienceEvaluator(APMMeasurementConfiguration& configuration) {
    if (configuration.seams.makeAudience) return;
    configuration.seams.makeAudience = [](const std::shared_ptr<APMDatabase>& database) {
        return std::make_shared<AudienceAdapter>(std::make_shared<APMAudience>(database, currentAudienceSettings));
    };
}

void APMInstallDefaultSubsystems(APMMeasurementConfiguration& configuration, platform::Dispatcher& dispatcher) {
    APMETaskManagerEnvironment environment;
    environment.dispatcher = &dispatcher;
    APMInstallDefaultSubsystems(configuration, environment);
}

void APMInstallDefaultSubsystems(APMMeasurementConfiguration& configuration,
                                 const APMETaskManagerEnvironment& experimentEnvironment) {
    APMInstallAudienceEvaluator(configuration);
    if (!configuration.experimentManager) {
        const auto builder = experimentEnvironment.requestBuilder ? experimentEnvironment.requestBuilder
                                                                  : APMEExperimentRequestBuilder::sharedInstance();
        builder->setDiversionKeyProvider([] { return APMIdentity::sharedInstance()->diversionKey(); });
        if (auto manager = APMEManager::sharedInstance(experimentEnvironment)) {
            configuration.experimentManager = std::make_shared<ExperimentManagerAdapter>(std::move(manager));
        }
    }
}
