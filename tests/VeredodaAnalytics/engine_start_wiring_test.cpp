// What the facade gives the engine at its start: the start-time consent
// choice, purchase reporting and the search-ad reporter.

#include "AnalyticsTestSupport.h"
#include "measurement/engine/APMEngineWiring.h"
#include "measurement/interface/APMAdExposureReporter.h"
#include "measurement/interface/APMConsentSettingsStore.h"
#include "measurement/interface/APMSearchAdReporter.h"

namespace analytics_test {
namespace {

const APMConsentSettings kDenied{{"analytics_storage", "denied"}};

TEST(ProspectiveConsentTest, FirstMatchingSourceIsChosen) {
    enum Copy { TCF = 1, Plist = 2, Start = 4, ThirdParty = 8 };
    struct Row {
        std::int64_t current;
        int copies;
        bool interface;
        std::int64_t source;
        bool apply;
    };
    const Row rows[] = {
        {100, TCF, true, 5, true},
        {5, TCF | ThirdParty, true, 5, true},
        {100, TCF | ThirdParty, false, 10, true},  // a 3P copy outranks TCF unless TCF is current
        {100, Plist | Start, true, 20, true},
        {10, Plist, true, 10, false},  // 20 may not replace 10; no 3P copy to apply
        {30, Start | ThirdParty, true, 100, false},
        {40, TCF | Start | ThirdParty, true, 100, false},
        {30, Start | ThirdParty, false, 10, true},  // 40 may not replace 30
        {100, Start | ThirdParty, true, 40, true},
        {100, 0, true, 10, false},
    };
    for (const Row& row : rows) {
        APMConsentSettingsUtil::resetForTesting();
        APMConsentSettingsUtil::setConsentSource(row.current);
        APMProspectiveConsentSources sources;
        sources.currentSource = row.current;
        if (row.copies & TCF) sources.tcf = {{"ad_storage", "granted"}};
        if (row.copies & Plist) sources.plist = {{"ad_storage", "denied"}};
        if (row.copies & Start) sources.firstPartyStart = kDenied;
        if (row.copies & ThirdParty) sources.thirdParty = {{"ad_user_data", "denied"}};
        sources.interfaceClassExists = row.interface;
        const auto choice = APMChooseProspectiveConsent(sources, &APMConsentSettingsUtil::isConsentSourceHigherPriority);
        SCOPED_TRACE(testing::Message() << "current " << row.current << " copies " << row.copies);
        EXPECT_EQ(choice.source, row.source);
        EXPECT_EQ(choice.apply, row.apply);
    }
    APMConsentSettingsUtil::resetForTesting();
}

class EngineStartWiringTest : public AnalyticsFixture {};

TEST_F(EngineStartWiringTest, StartOptionConsentIsAppliedAtEngineStartAndKeptAfterARestart) {
    APMAnalyticsStartOptions options;
    options.values = {{"analytics_storage", "denied"}};
    startFacade(options);
    EXPECT_EQ(APMConsentSettingsUtil::consentSource(), APMConsentSourceStartOptions);
    EXPECT_TRUE(APMConsentSettingsUtil::isAnalyticsStorageDenied());
    EXPECT_FALSE(suite->objectForKey(kAPMConsentSettingsOnStartKey));

    restart();
    startFacade();
    EXPECT_TRUE(APMConsentSettingsUtil::isAnalyticsStorageDenied());
    EXPECT_TRUE(suite->objectForKey(kAPMConsentSettingsKey));
}

TEST_F(EngineStartWiringTest, APurchaseFromThePaymentQueueIsLoggedOnce) {
    paymentStore->addProduct({"gems", "0.99", "USD", "Gems", std::nullopt});
    startFacade();
    platform::PaymentTransaction purchase;
    purchase.productIdentifier = "gems";
    purchase.transactionIdentifier = "1000";
    purchase.originalTransactionIdentifier = "1000";
    purchase.transactionDate = 1.7e9;
    const auto purchases = [&] {
        std::size_t count = 0;
        for (const auto& event : heard) count += event.name.rfind("_iap", 0) == 0;
        return count;
    };

    APMAnalytics::paymentQueueUpdatedTransactions({purchase});
    dispatcher.drain();
    EXPECT_EQ(purchases(), 1u);
    EXPECT_EQ(paymentStore->requestCount(), 1);

    APMAnalytics::paymentQueueUpdatedTransactions({purchase});
    dispatcher.drain();
    EXPECT_EQ(purchases(), 1u);
}

TEST_F(EngineStartWiringTest, TheEnginesSwitchReachesTheSearchAdReporter) {
    startFacade();
    const auto reporter = APMAnalyticsEngineBridge::searchAdReporter();
    ASSERT_TRUE(reporter);
    EXPECT_TRUE(reporter->isSearchAdReporterEnabled());

    APMAnalytics::setAnalyticsEnabled(false);
    dispatcher.drain();
    EXPECT_FALSE(reporter->isSearchAdReporterEnabled());
}

TEST_F(EngineStartWiringTest, AdExposuresReachTheEngineOnceTheFacadeStarted) {
    EXPECT_FALSE(APMAdExposureReporter::sharedInstance());
    startFacade();
    const auto reporter = APMAdExposureReporter::sharedInstance();
    ASSERT_TRUE(reporter);
    center.post(kAPMApplicationDidBecomeActiveNotification);

    reporter->beginAdUnitExposure("banner");
    dispatcher.drain();
    dispatcher.advance(1.5);
    reporter->endAdUnitExposure("banner");
    dispatcher.drain();
    // Ad exposures reach no listener: they are read back from the engine's store.
    auto rows = engine->database()->allRawEvents();
    ASSERT_TRUE(rows.value);
    std::vector<std::string> exposures;
    for (const auto& row : *rows.value) {
        APMError error;
        const auto data = APMRawEventData::fromRecord(row, &error);
        ASSERT_TRUE(data) << error.text();
        if (data->rawEvent.origin() != "am") continue;
        exposures.push_back(data->rawEvent.name());
        EXPECT_EQ(data->rawEvent.parameters().find("_xt")->int64Value(), 1500);
    }
    EXPECT_EQ(exposures, (std::vector<std::string>{"_xu", "_xa"}));
    APMSetAppActive(false);
}

}  // namespace
}  // namespace analytics_test
