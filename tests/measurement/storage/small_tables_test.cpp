// Subscriptions, purchase fingerprints, diagnostics signals and on-device
// measurement values.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DatabaseTestSupport.h"

using storage_test::DatabaseTest;
using testing::ElementsAre;

namespace {

class SmallTables : public DatabaseTest {};

TEST_F(SmallTables, SubscriptionsAreNewOnceAndOnlyTheNewestThousandStay) {
    EXPECT_EQ(db().insertIfNotDuplicateSubscriptionID("").value, false);
    EXPECT_EQ(db().insertIfNotDuplicateSubscriptionID("s0").value, true);
    EXPECT_EQ(db().insertIfNotDuplicateSubscriptionID("s0").value, false);
    ASSERT_TRUE(db().performTransaction([&] {
        for (int i = 1; i < 1005; ++i) {
            if (db().insertIfNotDuplicateSubscriptionID("s" + std::to_string(i)).value != true) return false;
        }
        return true;
    }));
    EXPECT_EQ(db().deleteSubscriptionsOverLimit().value, 5);
    EXPECT_EQ(db().deleteSubscriptionsOverLimit().value, 0);
    EXPECT_EQ(db().insertIfNotDuplicateSubscriptionID("s4").value, true) << "the oldest were pruned";
    EXPECT_EQ(db().insertIfNotDuplicateSubscriptionID("s1004").value, false);
}

TEST_F(SmallTables, PurchaseFingerprintsAreDeduplicatedWithinTheirLimit) {
    EXPECT_EQ(db().insertIfNotDuplicatePurchaseFingerprint("f0").value, true);
    EXPECT_EQ(db().insertIfNotDuplicatePurchaseFingerprint("f0").value, false);
    ASSERT_TRUE(db().performTransaction([&] {
        for (int i = 1; i <= 1000; ++i) {
            if (db().insertIfNotDuplicatePurchaseFingerprint("f" + std::to_string(i)).value != true) return false;
        }
        return true;
    }));
    EXPECT_EQ(count("purchase_transactions"), 1000);
    EXPECT_EQ(db().insertIfNotDuplicatePurchaseFingerprint("f0").value, true) << "the oldest was pruned";
    EXPECT_TRUE(db().insertIfNotDuplicatePurchaseFingerprint("").failed());
}

TEST_F(SmallTables, DiagnosticsSignalsAddUpAndAreConsumedOnce) {
    ASSERT_TRUE(db().incrementDiagnosticsSignalCountBy(1, "event_dropped_count", "blocklisted", nullptr));
    ASSERT_TRUE(db().incrementDiagnosticsSignalCountBy(2, "event_dropped_count", "blocklisted", nullptr));
    ASSERT_TRUE(db().incrementDiagnosticsSignalCountBy(1, "param_dropped_count", "value", nullptr));
    EXPECT_THAT(*db().consumeDiagnosticsSignals().value,
                ElementsAre(APMDiagnosticsSignal{"event_dropped_count", "blocklisted", 3},
                            APMDiagnosticsSignal{"param_dropped_count", "value", 1}));
    EXPECT_TRUE(db().consumeDiagnosticsSignals().value->empty());
}

TEST_F(SmallTables, OnDeviceValuesUpsertAndDelete) {
    EXPECT_FALSE(db().ODMValueWithName("odm1_value").value);
    ASSERT_TRUE(db().updateODMValue("1", "odm1_value", 10, nullptr));
    ASSERT_TRUE(db().updateODMValue("2", "odm1_value", 20, nullptr));
    EXPECT_EQ(db().ODMValueWithName("odm1_value").value, (APMODMValue{"2", 20}));
    ASSERT_TRUE(db().deleteODMValueWithName("odm1_value", nullptr));
    EXPECT_FALSE(db().ODMValueWithName("odm1_value").value);
    EXPECT_FALSE(db().updateODMValue("1", "", 1, nullptr));
}

}  // namespace
