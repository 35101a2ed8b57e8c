// The read that bundling uses hands back each row's encoded event exactly as
// stored (arrays included), and rows that can never be bundled can be
// removed alone or by fingerprint.

#include <gtest/gtest.h>

#include "DatabaseTestSupport.h"

using storage_test::bytesOf;
using storage_test::DatabaseTest;

namespace {

// An Event message with name "e" and a parameter "items" holding one
// element whose own parameter is a = 1: nested length-delimited fields.
const APMBytes kEventWithItems = {0x12, 0x01, 'e',  0x0a, 0x10, 0x0a, 0x05, 'i', 't', 'e', 'm', 's',
                                  0x32, 0x07, 0x32, 0x05, 0x0a, 0x01, 'a',  0x18, 0x01};

using RawEventRead = DatabaseTest;

TEST_F(RawEventRead, TheBundlingReadHandsBackTheStoredEventBytesUnchanged) {
    ASSERT_TRUE(db().insertRawEvent("e", 10, kEventWithItems, 7, false, nullptr));
    ASSERT_TRUE(db().insertRawEvent("f", 11, bytesOf("other"), 7, false, nullptr));
    std::vector<APMBytes> seen;
    auto read = db().rawEventsWithMetadataFingerprint(7, 1000, [&](const APMSqliteRow& row, std::size_t) {
        auto record = APMDatabase::rawEventRecordFromRow(row);
        EXPECT_TRUE(record.value);
        if (record.value) seen.push_back(record.value->data);
        return true;
    });
    ASSERT_TRUE(read.value);
    ASSERT_EQ(read.value->size(), 2u);
    EXPECT_EQ(read.value->front().data, kEventWithItems);
    EXPECT_EQ(seen, (std::vector<APMBytes>{kEventWithItems, bytesOf("other")}));
}

TEST_F(RawEventRead, RowsThatCannotBeBundledAreDeletedAloneOrByFingerprint) {
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(db().insertRawEvent("a", 1, bytesOf("x"), 7, false, nullptr));
    ASSERT_TRUE(db().insertRawEvent("b", 1, bytesOf("y"), 8, false, nullptr));
    APMError error;
    ASSERT_TRUE(db().deleteRawEventWithRowID(2, &error)) << error.text();
    auto rows = db().allRawEvents();
    ASSERT_EQ(rows.value->size(), 3u);
    EXPECT_EQ(rows.value->at(1).rowID, 3);
    auto deleted = db().deleteRawEventsWithMetadataFingerprint(7);
    EXPECT_EQ(deleted.value, 2);
    rows = db().allRawEvents();
    ASSERT_EQ(rows.value->size(), 1u);
    EXPECT_EQ(rows.value->front().metadataFingerprint, 8);
}

}  // namespace
