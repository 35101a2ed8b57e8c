#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DatabaseTestSupport.h"
#include "measurement/storage/APMDigest.h"

using storage_test::bytesOf;
using storage_test::DatabaseTest;
using testing::ElementsAre;

namespace {

class RawEvents : public DatabaseTest {
protected:
    // Stores metadata and one event under it, as the event writer does.
    std::int64_t write(const std::string& name, double timestamp, const std::string& metadata = "meta-1") {
        APMBytes encoded = bytesOf(metadata);
        EXPECT_TRUE(db().insertIfNotExistsRawEventMetadata(encoded, nullptr));
        auto capped = db().deleteRawEventsOverAbsoluteLimit();
        EXPECT_FALSE(capped.failed());
        std::int64_t fingerprint = APM64LSBMD5(encoded.data(), encoded.size());
        EXPECT_TRUE(db().insertRawEvent(name, timestamp, bytesOf("event:" + name), fingerprint, false, nullptr));
        return fingerprint;
    }
    std::vector<std::string> storedNames() {
        std::vector<std::string> names;
        auto all = db().allRawEvents();
        for (const auto& event : *all.value) names.push_back(event.name);
        return names;
    }
    void limitStoredEventsTo(std::int64_t limit) {
        db().setStorageLimitsProvider([limit] {
            APMStorageLimits limits;
            limits.maxEventsStored = limit;
            return limits;
        });
    }
};

TEST_F(RawEvents, MetadataIsStoredOncePerFingerprint) {
    std::int64_t fingerprint = write("a", 1);
    write("b", 2);
    EXPECT_EQ(count("raw_events_metadata"), 1);
    EXPECT_EQ(db().queryRawEventsMetadataWithFingerprint(fingerprint).value, bytesOf("meta-1"));
    EXPECT_FALSE(db().queryRawEventsMetadataWithFingerprint(fingerprint + 1).value);
    APMError error;
    EXPECT_FALSE(db().insertIfNotExistsRawEventMetadata({}, &error));
}

TEST_F(RawEvents, RowsReadBackWithTheirFingerprintAndFlag) {
    std::int64_t fingerprint = write("_s", 1700000000.5);
    ASSERT_TRUE(db().insertRawEvent("_e", 3, bytesOf("x"), 42, true, nullptr));
    auto all = db().allRawEvents();
    ASSERT_EQ(all.value->size(), 2u);
    EXPECT_EQ((*all.value)[0], (APMRawEventRecord{1, "_s", 1700000000.5, fingerprint, bytesOf("event:_s"), false}));
    EXPECT_TRUE((*all.value)[1].isRealtime);
    EXPECT_EQ(db().nextMetadataFingerprintToProcess().value, fingerprint);
    EXPECT_EQ(db().containsRealtimeRawEvents().value, true);
    EXPECT_DOUBLE_EQ(*db().queryLatestRawEventTime().value, 1700000000.5);
}

TEST_F(RawEvents, EmptyNameOrEventIsRefused) {
    APMError error;
    EXPECT_FALSE(db().insertRawEvent("", 1, bytesOf("x"), 1, false, &error));
    EXPECT_FALSE(db().insertRawEvent("a", 1, {}, 1, false, &error));
    EXPECT_EQ(db().isRawEventsTableEmpty().value, true);
    EXPECT_FALSE(db().nextMetadataFingerprintToProcess().value);
    EXPECT_FALSE(db().nextMetadataFingerprintToProcess().failed());
}

TEST_F(RawEvents, CapKeepsTheNewestAndNeverMeansUnlimited) {
    limitStoredEventsTo(3);
    for (int i = 0; i < 5; ++i) write("e" + std::to_string(i), i);
    EXPECT_THAT(storedNames(), ElementsAre("e2", "e3", "e4"));

    // A limit of 0 must not become "LIMIT -1" and keep everything.
    limitStoredEventsTo(0);
    EXPECT_EQ(*db().deleteRawEventsOverAbsoluteLimit().value, 3);
    EXPECT_EQ(db().isRawEventsTableEmpty().value, true);
}

TEST_F(RawEvents, CapDeletesOrphanedMetadataButSparesTheOneBeingWritten) {
    limitStoredEventsTo(2);
    std::int64_t old = write("a", 1, "meta-old");
    write("b", 2, "meta-old");
    std::int64_t current = write("c", 3, "meta-new");
    write("d", 4, "meta-new");  // the cap drops a, b: meta-old has no event left
    EXPECT_FALSE(db().queryRawEventsMetadataWithFingerprint(old).value);
    EXPECT_TRUE(db().queryRawEventsMetadataWithFingerprint(current).value);

    // With room for no old event, the metadata the writer just ensured stays
    // for the event it inserts next.
    limitStoredEventsTo(1);
    std::int64_t again = write("e", 5, "meta-new");
    EXPECT_EQ(again, current);
    EXPECT_THAT(storedNames(), ElementsAre("e"));
    EXPECT_TRUE(db().queryRawEventsMetadataWithFingerprint(current).value);
}

// A second process of the application may write the same file: what this
// connection keeps of its earlier reads (the metadata it ensured, its count
// of raw events) must not hide those writes from its next transaction.
TEST_F(RawEvents, AnotherConnectionsWritesAreSeenByTheNextTransaction) {
    limitStoredEventsTo(3);
    write("a", 1);
    const std::int64_t fingerprint = write("a2", 2);
    APMError error;
    auto other = APMDatabase::openAtPath(path(), &error, &clock_);
    ASSERT_TRUE(other) << error.text();
    ASSERT_TRUE(other->deleteRawEventMetadataWithMetadataFingerprint(fingerprint, &error)) << error.text();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(other->insertRawEvent("o" + std::to_string(i), 10 + i, bytesOf("x"), fingerprint, false, &error));
    }
    ASSERT_TRUE(db().performTransaction([&] {
        write("b", 20);
        return true;
    }));
    EXPECT_TRUE(db().queryRawEventsMetadataWithFingerprint(fingerprint).value);
    EXPECT_THAT(storedNames(), ElementsAre("o1", "o2", "b"));
}

TEST_F(RawEvents, FilteredReadStopsAtTheFirstNoAndSkipsDamagedRows) {
    std::int64_t fingerprint = write("a", 1);
    write("b", 2);
    write("c", 3);
    ASSERT_TRUE(db().insertRawEvent("other", 4, bytesOf("x"), fingerprint + 1, false, nullptr));
    {
        APMError error;
        auto store = APMSqliteStore::open(path(), &error);
        ASSERT_TRUE(store->execute("UPDATE raw_events SET data = 'text' WHERE name = 'b'", {}).value);
    }
    std::vector<std::size_t> offered;
    auto read = db().rawEventsWithMetadataFingerprint(fingerprint, 1000, [&](const APMSqliteRow&, std::size_t n) {
        offered.push_back(n);
        return n < 2;
    });
    EXPECT_THAT(offered, ElementsAre(0, 1, 2));
    ASSERT_EQ(read.value->size(), 1u) << "the row with text data cannot be read back";
    EXPECT_EQ(read.value->front().name, "a");

    monitor_.clear();
    auto none = db().rawEventsWithMetadataFingerprint(fingerprint, 1000, [](const APMSqliteRow&, std::size_t) {
        return false;
    });
    EXPECT_TRUE(none.value->empty());
    EXPECT_EQ(monitor_.linesWithCode(34005).size(), 1u);
}

TEST_F(RawEvents, BundlingDeletionLeavesOtherFingerprints) {
    std::int64_t first = write("a", 1, "m1");
    std::int64_t second = write("b", 2, "m2");
    ASSERT_TRUE(db().deleteRawEventsWithMaxRowID(1, nullptr));
    EXPECT_EQ(db().containsRawEventWithMetadataFingerprint(first).value, false);
    EXPECT_EQ(db().containsRawEventWithMetadataFingerprint(second).value, true);
    ASSERT_TRUE(db().deleteRawEventMetadataWithMetadataFingerprint(first, nullptr));
    EXPECT_EQ(count("raw_events_metadata"), 1);
}

TEST_F(RawEvents, UpdateRewritesOneRowAndFailsForAMissingOne) {
    write("a", 1);
    auto record = db().allRawEvents().value->front();
    record.data = bytesOf("edited");
    ASSERT_TRUE(db().updateRawEvent(record, nullptr));
    EXPECT_EQ(db().allRawEvents().value->front().data, bytesOf("edited"));
    record.rowID = 99;
    APMError error;
    EXPECT_FALSE(db().updateRawEvent(record, &error));
    EXPECT_EQ(error.code, kAPMDatabaseErrorRowMissing);
}

TEST_F(RawEvents, StaleDataIsDeletedOncePerInterval) {
    const double now = clock_.now();
    write("old", now - 2419200 - 10, "m-old");
    std::int64_t fresh = write("fresh", now - 10, "m-new");
    ASSERT_TRUE(db().insertBundle(storage_test::bundle({{"app", "a"}, {"end", std::to_string(int64_t((now - 2419300) * 1000))}}),
                                  false, nullptr));
    ASSERT_TRUE(db().insertBundle(storage_test::bundle({{"app", "a"}, {"end", std::to_string(int64_t(now * 1000))}}),
                                  false, nullptr));

    EXPECT_EQ(db().maybeDeleteStaleData().value, true);
    EXPECT_THAT(storedNames(), ElementsAre("fresh"));
    EXPECT_EQ(count("queue"), 1);
    EXPECT_EQ(count("raw_events_metadata"), 1);
    EXPECT_TRUE(db().queryRawEventsMetadataWithFingerprint(fresh).value);

    clock_.advance(3600);
    EXPECT_EQ(db().maybeDeleteStaleData().value, false);
    clock_.advance(86400);
    EXPECT_EQ(db().maybeDeleteStaleData().value, true);
}

}  // namespace
