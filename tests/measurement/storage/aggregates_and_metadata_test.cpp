#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DatabaseTestSupport.h"

using storage_test::bytesOf;
using storage_test::DatabaseTest;
using storage_test::TextMessageCodec;

namespace {

class AggregatesAndMetadata : public DatabaseTest {
protected:
    void removeAppMetadataRow() {
        APMError error;
        auto store = APMSqliteStore::open(path(), &error);
        ASSERT_TRUE(store->execute("DELETE FROM app_metadata", {}).value);
    }
};

TEST_F(AggregatesAndMetadata, AggregatesRoundTripWithSamplingState) {
    APMEventAggregates aggregates("_e", 5, 2, 1, 1700.5);
    aggregates.lastBundledDay = 19000;
    aggregates.lastSamplingRate = 10;
    aggregates.lastSampledComplexEventID = 77;
    aggregates.lastExemptFromSampling = true;
    ASSERT_TRUE(db().updateEventAggregates(aggregates, nullptr));
    EXPECT_EQ(db().eventAggregatesWithName("_e").value, aggregates);
    EXPECT_FALSE(db().eventAggregatesWithName("none").value);
    EXPECT_FALSE(db().eventAggregatesWithName("none").failed());
}

TEST_F(AggregatesAndMetadata, PublicEventCountIgnoresInternalNames) {
    for (const char* name : {"_e", "_s", "purchase", "level_up"}) {
        ASSERT_TRUE(db().updateEventAggregates(APMEventAggregates(name, 1, 1, 1, 1), nullptr));
    }
    EXPECT_EQ(db().publicEventCount().value, 2);
    EXPECT_EQ(db().allEventAggregates().value->size(), 4u);
}

TEST_F(AggregatesAndMetadata, SessionCountsClearAndSnapshotRestores) {
    ASSERT_TRUE(db().updateEventAggregates(APMEventAggregates("a", 3, 2, 5, 1), nullptr));
    ASSERT_TRUE(db().createEventsSnapshotTable(nullptr));
    ASSERT_TRUE(db().updateEventAggregates(APMEventAggregates("b", 1, 1, 1, 1), nullptr));
    ASSERT_TRUE(db().clearCurrentSessionCounts(nullptr));
    EXPECT_EQ(db().eventAggregatesWithName("a").value->currentSessionCount(), 0);
    ASSERT_TRUE(db().restoreFromEventsSnapshotTable(nullptr));
    EXPECT_EQ(db().eventAggregatesWithName("a").value, APMEventAggregates("a", 3, 2, 5, 1));
    EXPECT_FALSE(db().eventAggregatesWithName("b").value);
}

TEST_F(AggregatesAndMetadata, DailyCountsAndAppMetadataShareTheOneRow) {
    EXPECT_EQ(db().dailyCounts().value, APMDailyCounts(0, 0, 0, 0, 0, 0, 0));
    ASSERT_TRUE(db().updateDailyCounts(APMDailyCounts(19700, 1, 2, 3, 4, 5, 6), nullptr));
    APMAppMetadata metadata{2147483647, 9, 10.5, 11.5, 12.5};
    ASSERT_TRUE(db().updateAppMetadata(metadata, nullptr));
    reopen();
    EXPECT_EQ(db().dailyCounts().value, APMDailyCounts(19700, 1, 2, 3, 4, 5, 6));
    EXPECT_EQ(db().queryAppMetadata().value, metadata);
}

TEST_F(AggregatesAndMetadata, UpdatesOfAMissingRowFailInsteadOfVanishing) {
    db();
    removeAppMetadataRow();
    APMError error;
    EXPECT_FALSE(db().updateDailyCounts(APMDailyCounts(1, 0, 1, 0, 0, 0, 0), &error));
    EXPECT_EQ(error.code, kAPMDatabaseErrorRowMissing);
    EXPECT_FALSE(db().updateAppMetadata(APMAppMetadata{}, &error));
    EXPECT_FALSE(db().updateRemoteConfig(TextMessageCodec::encode("config", {{"app", "1:2"}}), &error));
    EXPECT_TRUE(db().dailyCounts().failed());
    // Opening again restores the row.
    reopen();
    EXPECT_TRUE(db().updateDailyCounts(APMDailyCounts(1, 0, 1, 0, 0, 0, 0), nullptr));
}

TEST_F(AggregatesAndMetadata, RemoteConfigIsValidatedOnWriteAndRead) {
    APMError error;
    EXPECT_FALSE(db().queryMeasurementConfig().value);
    EXPECT_FALSE(db().queryMeasurementConfig().failed());
    EXPECT_FALSE(db().updateRemoteConfig({}, &error));
    EXPECT_EQ(error.description, "Invalid measurement config data");
    EXPECT_FALSE(db().updateRemoteConfig(TextMessageCodec::encode("config", {{"app", ""}}), &error));
    EXPECT_EQ(error.description, "Missing Vadova app ID in measurement configuration");

    APMBytes config = TextMessageCodec::encode("config", {{"app", "1:2"}});
    ASSERT_TRUE(db().updateRemoteConfig(config, nullptr));
    EXPECT_EQ(db().queryMeasurementConfig().value, config);
    EXPECT_DOUBLE_EQ(*db().lastRemoteConfigUpdateTimestamp().value, clock_.now());
    ASSERT_TRUE(db().updateRemoteConfigSuccessfulTimestamp(5, nullptr));
    EXPECT_DOUBLE_EQ(*db().lastRemoteConfigUpdateTimestamp().value, 5);

    {
        auto store = APMSqliteStore::open(path(), &error);
        ASSERT_TRUE(store->execute("UPDATE app_metadata SET remote_config_data = x'FFFF'", {}).value);
    }
    auto corrupted = db().queryMeasurementConfig();
    ASSERT_TRUE(corrupted.failed());
    EXPECT_EQ(corrupted.error->description, "Remote config data is corrupted");
    EXPECT_EQ(db().dailyCounts().value, APMDailyCounts(0, 0, 0, 0, 0, 0, 0)) << "the rest of the row stays usable";
}

}  // namespace
