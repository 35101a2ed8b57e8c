#pragma once
// Fixtures of the analytics-interface tests: the facade on the engine
// fixture's deterministic dispatcher, its suite of defaults in the test's
// folder, the engine built through the facade's bridge, and what the
// listeners heard.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "VadovaUtilities/VULMainBundle.h"
#include "VeredodaAnalytics/APMAnalytics.h"
#include "VeredodaAnalytics/APMAnalyticsEngineBridge.h"
#include "VeredodaAnalytics/APMAppDelegateInterceptor.h"
#include "VeredodaAnalytics/RADOdodavazi.h"
#include "VeredodaCore/DEDOru.h"
#include "VeredodaCore/VRDClassRegistry.h"
#include "measurement/engine/EngineTestSupport.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/interface/APMErrorEventLogging.h"
#include "measurement/interface/APMIdentifiers.h"
#include "platform/core/ApplicationDelegateProxy.h"

namespace analytics_test {

struct HeardEvent {
    std::string origin;
    std::string name;
    APMParameters parameters;
};

class AnalyticsFixture : public engine_test::EngineFixture {
protected:
    explicit AnalyticsFixture(engine_test::Logging logging = engine_test::Logging::standard)
        : engine_test::EngineFixture(logging) {
        APMConsentSettingsUtil::resetForTesting();
        VRDClassRegistry::shared().resetForTesting();
        platform::ApplicationDelegateProxy::resetSharedForTesting();
        RADOdodavazi::registerClass();
        makeFacade();
        markFirstOpenDone();
    }
    ~AnalyticsFixture() override {
        APMAnalytics::resetForTesting();
        APMAnalyticsEngineBridge::resetForTesting();
        RADOdodavazi::resetForTesting();
        DEDOru::resetForTesting();
        VRDClassRegistry::shared().resetForTesting();
        APMConsentSettingsUtil::resetForTesting();
        APMIdentifiers::resetForTesting();
        platform::ApplicationDelegateProxy::resetSharedForTesting();
        APMAppDelegateInterceptor::resetSharedInstanceForTesting();
        APMSetInternalEventLogger(nullptr);
        VULMainBundle::setResourcesDirectory(std::nullopt);
    }

    // A fresh facade over the same folder, as after a restart of the process.
    void makeFacade() {
        suite = std::make_shared<APMUserDefaults>(
            std::make_shared<platform::UserDefaults>("APMAnalyticsSuiteName", folder.path() / "defaults"));
        APMAnalytics::resetForTesting({&dispatcher, &center, suite, paymentStore, nullptr});
        APMAnalyticsEngineBridge::resetForTesting();
        APMAnalyticsEngineBridge::setConfigurationProvider([this] { return configuration(); });
        heard.clear();
        (void)APMAnalytics::addLogEventListener([this](const APMEvent& event) {
            heard.push_back({event.origin(), event.name(), event.parameters()});
        });
    }

    // Restart: the engine and the in-memory consent state go, the files stay.
    void restart() {
        engine.reset();
        dispatcher.drain();
        APMMeasurement::resetSharedInstanceForTesting();
        APMIdentity::setSharedInstance(nullptr);
        APMConsentSettingsUtil::resetForTesting();
        persisted = std::make_shared<APMPersistedConfig>(
            std::make_shared<platform::UserDefaults>("engine", folder.path() / "defaults"));
        makeFacade();
    }

    void startFacade(const APMAnalyticsStartOptions& options = {}, const std::string& origin = "fa") {
        APMAnalytics::startWithAppID(engine_test::kAppID, origin, options);
        dispatcher.drain();
        engine = APMMeasurement::sharedInstance();
    }

    // The default app configured through the options file, which starts the
    // interface by class name; `runQueues` false leaves the start queued.
    void configureDefaultApp(bool runQueues = true) {
        const auto resources = folder.path() / "resources";
        std::filesystem::create_directories(resources);
        const auto bytes = platform::serializePropertyList(
            platform::PropertyValue(platform::PropertyDictionary{{"VADOVA_APP_ID", engine_test::kAppID}}),
            platform::PropertyListFormat::Xml);
        ASSERT_TRUE(bytes);
        std::ofstream(resources / "VadovaService-Info.plist", std::ios::binary) << std::string(bytes->begin(), bytes->end());
        VULMainBundle::setResourcesDirectory(resources);
        DEDOru::configure();
        if (!runQueues) return;
        dispatcher.drain();
        engine = APMMeasurement::sharedInstance();
    }

    // These tests follow the facade's own calls: the installation has had its
    // first open (its marker "_fot" is stored), so a start logs none of its own.
    void markFirstOpenDone() {
        const auto database = openDatabase();
        APMError error;
        ASSERT_TRUE(database && database->updateUserAttribute(
                                    APMUserAttribute("auto", "_fot", APMValue(std::int64_t{1700002800000}), 1.7e9), &error))
            << error.text();
    }

    std::vector<std::string> heardNames() const {
        std::vector<std::string> names;
        for (const auto& event : heard) names.push_back(event.name);
        return names;
    }

    std::shared_ptr<APMUserDefaults> suite;
    std::shared_ptr<platform::InMemoryPaymentStore> paymentStore = std::make_shared<platform::InMemoryPaymentStore>();
    std::vector<HeardEvent> heard;
};

}  // namespace analytics_test
