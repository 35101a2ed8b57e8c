// Bundling-time counting: aggregates and previous timestamps, customer type,
// conversion limits, consent snapshots and manual purchase amounts.

#include "EngineTestSupport.h"
#include "measurement/messages/MessageSlots.h"

namespace engine_test {
namespace {

class Aggregates : public EngineFixture {
protected:
    void SetUp() override { start(); }
};

APMEvent event(const std::string& name, double timestamp, APMObjectParameters parameters = {}) {
    return *APMEvent::initWithOrigin("app", false, name, timestamp, 0, parameters);
}

TEST_F(Aggregates, CountingGivesPreviousTimestampsAndTheCustomerType) {
    auto counted = engine->eventsAfterUpdatingEventAggregates(
        {event("purchase", 100), event("purchase", 200), event("other", 300)}, false);
    ASSERT_TRUE(counted);
    ASSERT_EQ(counted->size(), 3u);
    EXPECT_EQ((*counted)[0].previousTimestamp(), 0);
    EXPECT_EQ((*counted)[1].previousTimestamp(), 100);
    EXPECT_EQ(*(*counted)[0].parameters().find("_ct")->stringValue(), "new");
    EXPECT_EQ(*(*counted)[1].parameters().find("_ct")->stringValue(), "returning");
    EXPECT_FALSE((*counted)[2].parameters().contains("_ct"));
    auto stored = engine->database()->eventAggregatesWithName("purchase");
    EXPECT_EQ(stored.value->lifetimeCount(), 2);
    EXPECT_EQ(stored.value->lastFireTimestamp, 200);
}

TEST_F(Aggregates, AConversionBeyondTheDailyLimitLosesItsFlag) {
    applySettings({{"measurement.upload.max_conversions_per_day", "1"}});
    APMDailyCounts counts(engine->currentDayNumber(), 0, 5, 0, 0, 0, 0);
    APMEvent first = event("purchase", 1, {{"value", platform::PropertyValue(1.0)}, {"currency", platform::PropertyValue("USD")}});
    APMEvent second = first.copy();
    first.setConversion(true);
    second.setConversion(true);
    EXPECT_TRUE(engine->checkConversion(first, counts));
    EXPECT_EQ(counts.conversionsCount(), 1);
    EXPECT_EQ(counts.allEventsCount(), 5);
    EXPECT_FALSE(engine->checkConversion(second, counts));
    EXPECT_FALSE(second.isConversion());
    EXPECT_EQ(monitor.linesWithCode(23102).size(), 1u);
}

TEST_F(Aggregates, ConsentDeniedAndGrantedAgainRestoresTheEarlierCounts) {
    auto bundleWith = [](const char* signals) {
        auto bundle = APMPBMeasurementBundle::initWithBuffer({});
        APMPBSetString(*bundle, MeasurementBundleSlot::ConsentSignals, signals);
        return bundle;
    };
    ASSERT_TRUE(engine->database()->updateEventAggregates(APMEventAggregates("a", 5, 0, 0, 0), nullptr));
    engine->handleAnalyticsStorageConsentTransitions(*bundleWith("G111"));
    engine->handleAnalyticsStorageConsentTransitions(*bundleWith("G110"));
    ASSERT_TRUE(engine->database()->updateEventAggregates(APMEventAggregates("a", 9, 0, 0, 0), nullptr));
    engine->handleAnalyticsStorageConsentTransitions(*bundleWith("G111"));
    EXPECT_EQ(engine->database()->eventAggregatesWithName("a").value->lifetimeCount(), 5);
    EXPECT_EQ(persisted->previousBundledConsentSignals(), "G111");
}

TEST_F(Aggregates, ManualPurchaseAmountsBecomeExactMillionths) {
    const APMRawEventData raw{event("_iap", 1, {{"price", platform::PropertyValue(2.01)}, {"value", platform::PropertyValue(1.5)}}), 4, 9};
    const APMRawEventData processed = engine->processInAppPurchaseEvent(raw);
    EXPECT_EQ(processed.rowID, 4);
    EXPECT_EQ(processed.metadataFingerprint, 9);
    EXPECT_EQ(processed.rawEvent.parameters().find("price")->int64Value(), 2010000);
    EXPECT_EQ(processed.rawEvent.parameters().find("value")->int64Value(), 1500000);
    EXPECT_EQ(processed.rawEvent.parameters().find("quantity")->int64Value(), 1);
}

}  // namespace
}  // namespace engine_test
