// A bundle whose transaction rolls back leaves everything it touched as it
// was: the persisted mark of the consent bundled last, the monitor's samples
// and their time, the pending "_npa" update.

#include <gmock/gmock.h>

#include "EngineTestSupport.h"
#include "TransactionTestSupport.h"
#include "measurement/interface/APMConsentSettingsUtil.h"

namespace engine_test {
namespace {

class BundleRollback : public EngineFixture {
protected:
    void SetUp() override {
        writeBundleIdentifier();
        startWithoutStartRecords();
    }

    // While set, every insert into the upload queue fails, so each bundle
    // rolls back at its last step.
    void setQueueInsertFails(bool fails) {
        ASSERT_EQ(runSql(engine->database()->databasePath(),
                         fails ? "CREATE TRIGGER refuse_queue BEFORE INSERT ON queue "
                                 "BEGIN SELECT RAISE(ABORT, 'refused by the test'); END"
                               : "DROP TRIGGER refuse_queue"),
                  "");
    }

    static void setAnalyticsStorage(const char* status) {
        APMConsentSettingsUtil::setConsentSettings(
            APMConsentSettings{{kAPMConsentTypeAnalyticsStorage, PropertyValue(status)}});
    }
};

TEST_F(BundleRollback, RolledBackBundleKeepsConsentMarkSamplesAndNPAUpdate) {
    log("kept");
    ASSERT_TRUE(bundle());
    const auto consentMark = persisted->previousBundledConsentSignals();
    persisted->setLastMonitorDataSampledTimestamp(0);
    monitor.monitor().log(3, 23999, "a warning the next bundle reports");
    engine->setShouldUpdateNPAUserProperty(true);

    setAnalyticsStorage("denied");
    log("while_denied");
    setQueueInsertFails(true);
    EXPECT_FALSE(bundle());
    EXPECT_EQ(persisted->previousBundledConsentSignals(), consentMark);
    EXPECT_EQ(persisted->lastMonitorDataSampledTimestamp(), 0);
    EXPECT_TRUE(engine->shouldUpdateNPAUserProperty());

    // With the queue back, the samples travel with the next bundle, and the
    // denial and the grant after it keep the aggregates counted before.
    setQueueInsertFails(false);
    setAnalyticsStorage("granted");
    log("after_grant");
    while (bundle()) {
    }
    EXPECT_TRUE(stored().empty());
    const auto bundles = queued();
    ASSERT_EQ(bundles.size(), 3u);
    EXPECT_THAT(APMPBGetString(*bundles[1], bundleSlot(24)).value_or(""), ::testing::HasSubstr(";23999:1"));
    EXPECT_FALSE(engine->shouldUpdateNPAUserProperty());
    const auto aggregates = engine->database()->eventAggregatesWithName("kept");
    ASSERT_TRUE(aggregates.value);
    EXPECT_EQ(aggregates.value->lifetimeCount(), 1);
}

}  // namespace
}  // namespace engine_test
