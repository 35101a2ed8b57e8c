#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DatabaseTestSupport.h"

using storage_test::bundle;
using storage_test::DatabaseTest;
using storage_test::TextMessageCodec;

namespace {

class UploadQueue : public DatabaseTest {
protected:
    std::map<std::string, std::string> fieldsOf(const APMQueuedBundle& queued) {
        return *TextMessageCodec::decode("bundle", queued.bundle);
    }
    std::vector<std::int64_t> rowIDs(const std::vector<APMQueuedBundle>& bundles) {
        std::vector<std::int64_t> ids;
        for (const auto& queued : bundles) ids.push_back(queued.rowID);
        return ids;
    }
};

TEST_F(UploadQueue, RefusesBundlesWithoutAppIDOrValidEndTime) {
    APMError error;
    EXPECT_FALSE(db().insertBundle(bundle({{"end", "5"}}), false, &error));
    EXPECT_EQ(error.description, "Failed to insert bundle without App ID");
    EXPECT_FALSE(db().insertBundle(bundle({{"app", "1:1"}, {"end", "0"}}), false, &error));
    EXPECT_EQ(error.description, "Failed to insert bundle without valid timestamp");
    EXPECT_FALSE(db().insertBundle(bundle({{"app", "1:1"}}), false, &error));
    EXPECT_EQ(error.description, "Failed to insert bundle without valid timestamp");
    EXPECT_EQ(db().isQueuedBundleTableEmpty().value, true);
}

TEST_F(UploadQueue, WithoutACodecNothingIsGuessed) {
    APMStoredMessageCodec::install(nullptr);
    APMError error;
    EXPECT_FALSE(db().insertBundle(bundle({{"app", "a"}, {"end", "5"}}), false, &error));
    EXPECT_TRUE(db().queryBundlesWithCountLimit(10, 1000).failed());
}

TEST_F(UploadQueue, RetryCountRoundTripsThroughTheStoredColumn) {
    ASSERT_TRUE(db().insertBundle(bundle({{"app", "a"}, {"end", "5000"}, {"retry", "3"}}), false, nullptr));
    ASSERT_TRUE(db().insertBundle(bundle({{"app", "a"}, {"end", "6000"}}), false, nullptr));
    auto first = db().queryBundlesWithCountLimit(10, 100000);
    ASSERT_EQ(first.value->size(), 2u);
    EXPECT_EQ(fieldsOf((*first.value)[0])["retry"], "3");
    EXPECT_EQ(fieldsOf((*first.value)[1]).count("retry"), 0u) << "a count of 0 is left out of the bundle";

    ASSERT_TRUE(db().incrementRetryCounterForBundlesWithIDs(rowIDs(*first.value), nullptr));
    auto second = db().queryBundlesWithCountLimit(10, 100000);
    EXPECT_EQ(fieldsOf((*second.value)[0])["retry"], "4");
    EXPECT_EQ(fieldsOf((*second.value)[1])["retry"], "1");
    EXPECT_EQ(fieldsOf((*second.value)[0])["app"], "a");
}

TEST_F(UploadQueue, RetryCounterStopsAtTheThirtyTwoBitCeiling) {
    ASSERT_TRUE(db().insertBundle(bundle({{"app", "a"}, {"end", "5"}, {"retry", "2147483646"}}), false, nullptr));
    auto queued = db().queryBundlesWithCountLimit(1, 100000);
    auto ids = rowIDs(*queued.value);
    ASSERT_TRUE(db().incrementRetryCounterForBundlesWithIDs(ids, nullptr));
    ASSERT_TRUE(db().incrementRetryCounterForBundlesWithIDs(ids, nullptr));
    EXPECT_EQ(fieldsOf(db().queryBundlesWithCountLimit(1, 100000).value->front())["retry"], "2147483647");
}

TEST_F(UploadQueue, EmptyIDListsAreRefused) {
    APMError error;
    EXPECT_FALSE(db().incrementRetryCounterForBundlesWithIDs({}, &error));
    EXPECT_EQ(error.code, kAPMDatabaseErrorInvalidArgument);
    EXPECT_FALSE(db().deleteBundlesWithRowIDs({}, &error));
}

TEST_F(UploadQueue, SizeLimitAlwaysTakesTheFirstBundleAndStopsAtTheFirstMisfit) {
    // Sizes: the bundle text grows with the "pad" field.
    auto sized = [](const std::string& pad, const char* end) {
        return bundle({{"app", "a"}, {"end", end}, {"pad", pad}});
    };
    const std::size_t small = sized("", "1").size();
    ASSERT_TRUE(db().insertBundle(sized(std::string(200, 'x'), "1"), false, nullptr));  // larger than the limit
    ASSERT_TRUE(db().insertBundle(sized("", "2"), false, nullptr));
    ASSERT_TRUE(db().insertBundle(sized(std::string(100, 'x'), "3"), false, nullptr));  // does not fit
    ASSERT_TRUE(db().insertBundle(sized("", "4"), false, nullptr));                   // would fit, never reached

    auto firstOnly = db().queryBundlesWithCountLimit(10, 50);
    ASSERT_EQ(firstOnly.value->size(), 1u) << "the first bundle is taken even when it alone is too big";

    ASSERT_TRUE(db().deleteBundlesWithRowIDs(rowIDs(*firstOnly.value), nullptr));
    auto limited = db().queryBundlesWithCountLimit(10, static_cast<std::int64_t>(small) + 60);
    ASSERT_EQ(limited.value->size(), 1u);
    EXPECT_EQ(fieldsOf(limited.value->front())["end"], "2");

    auto counted = db().queryBundlesWithCountLimit(2, 100000);
    EXPECT_EQ(counted.value->size(), 2u);
}

TEST_F(UploadQueue, ExactFitIsWithinTheLimit) {
    auto one = bundle({{"app", "a"}, {"end", "1"}});
    ASSERT_TRUE(db().insertBundle(one, false, nullptr));
    ASSERT_TRUE(db().insertBundle(one, false, nullptr));
    EXPECT_EQ(db().queryBundlesWithCountLimit(10, static_cast<std::int64_t>(2 * one.size())).value->size(), 2u);
    EXPECT_EQ(db().queryBundlesWithCountLimit(10, static_cast<std::int64_t>(2 * one.size()) - 1).value->size(), 1u);
}

TEST_F(UploadQueue, UndecodableRowIsReportedAndRemovedWithoutLosingTheOthers) {
    ASSERT_TRUE(db().insertBundle(bundle({{"app", "a"}, {"end", "1"}}), false, nullptr));
    ASSERT_TRUE(db().insertBundle(bundle({{"app", "a"}, {"end", "2"}}), false, nullptr));
    {
        APMError error;
        auto store = APMSqliteStore::open(path(), &error);
        ASSERT_TRUE(store->execute("UPDATE queue SET data = x'0102' WHERE rowid = 1", {}).value);
    }
    auto read = db().queryBundlesWithCountLimit(10, 100000);
    ASSERT_TRUE(read.error);
    EXPECT_EQ(read.error->description, "Unable to parse bundle from decompressed data");
    ASSERT_EQ(read.value->size(), 1u);
    EXPECT_EQ(fieldsOf(read.value->front())["end"], "2");
    auto again = db().queryBundlesWithCountLimit(10, 100000);
    EXPECT_FALSE(again.error);
    EXPECT_EQ(again.value->size(), 1u);
}

TEST_F(UploadQueue, LatestTimeAndRealtimeFlag) {
    EXPECT_FALSE(db().queryLatestBundleTime().value);
    EXPECT_EQ(db().containsRealtimeBundles().value, false);
    ASSERT_TRUE(db().insertBundle(bundle({{"app", "a"}, {"end", "7000"}, {"events", "3"}}), false, nullptr));
    ASSERT_TRUE(db().insertBundle(bundle({{"app", "a"}, {"end", "5500"}}), true, nullptr));
    EXPECT_DOUBLE_EQ(*db().queryLatestBundleTime().value, 7.0);
    EXPECT_EQ(db().containsRealtimeBundles().value, true);
}

}  // namespace
