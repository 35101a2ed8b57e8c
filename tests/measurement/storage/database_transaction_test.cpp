#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "DatabaseTestSupport.h"

using storage_test::bundle;
using storage_test::bytesOf;
using storage_test::DatabaseTest;
using testing::HasSubstr;

namespace {

class DatabaseTransactions : public DatabaseTest {
protected:
    // Writes into every kind of table.
    bool writeEverywhere() {
        return db().insertBundle(bundle({{"app", "a"}, {"end", "9"}}), false, nullptr) &&
               db().insertIfNotExistsRawEventMetadata(bytesOf("m"), nullptr) &&
               db().insertRawEvent("e", 1, bytesOf("x"), 1, false, nullptr) &&
               db().updateUserAttribute(APMUserAttribute("app", "p", APMValue(1), 1), nullptr) &&
               db().updateEventAggregates(APMEventAggregates("e", 1, 1, 1, 1), nullptr) &&
               db().updateDailyCounts(APMDailyCounts(5, 1, 1, 1, 0, 0, 0), nullptr) &&
               db().incrementDiagnosticsSignalCountBy(1, "s", "m", nullptr) &&
               db().insertIfNotDuplicateSubscriptionID("sub").value.value_or(false) &&
               db().updateODMValue("v", "odm1_value", 1, nullptr) &&
               db().updateFilterResults({APMFilterResult{1, bytesOf("c"), bytesOf("p")}}, nullptr);
    }
    std::int64_t totalRows() {
        std::int64_t total = 0;
        for (const char* table : {"queue", "raw_events", "raw_events_metadata", "user_attributes", "events",
                                  "diagnostics_signals", "subscriptions", "odm_values", "audience_filter_values"}) {
            total += count(table);
        }
        return total;
    }
};

TEST_F(DatabaseTransactions, ABlockAnsweringNoRollsBackEveryTableAndLogs) {
    EXPECT_FALSE(db().performTransaction([&] {
        EXPECT_TRUE(writeEverywhere());
        return false;
    }));
    EXPECT_EQ(totalRows(), 0);
    EXPECT_EQ(db().dailyCounts().value, APMDailyCounts(0, 0, 0, 0, 0, 0, 0));
    auto lines = monitor_.linesWithCode(12056);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_THAT(lines[0], HasSubstr("Transaction failed."));
}

TEST_F(DatabaseTransactions, CommittedDataSurvivesReopening) {
    EXPECT_TRUE(db().performTransaction([&] { return writeEverywhere(); }));
    reopen();
    EXPECT_EQ(totalRows(), 9);
    EXPECT_EQ(db().dailyCounts().value, APMDailyCounts(5, 1, 1, 1, 0, 0, 0));
    EXPECT_TRUE(monitor_.linesWithCode(12056).empty());
}

TEST_F(DatabaseTransactions, AnExceptionRollsBackAndIsRethrown) {
    // The transaction throws, so there is no answer to look at.
    EXPECT_THROW((void)db().performTransaction([&]() -> bool {
        writeEverywhere();
        throw std::runtime_error("boom");
    }),
                 std::runtime_error);
    EXPECT_EQ(totalRows(), 0);
    EXPECT_TRUE(db().performTransaction([] { return true; })) << "the database stays usable";
}

TEST_F(DatabaseTransactions, InnerOperationsRollBackAloneInsideAnOuterTransaction) {
    EXPECT_TRUE(db().performTransaction([&] {
        EXPECT_TRUE(db().updateODMValue("kept", "a", 1, nullptr));
        EXPECT_FALSE(db().performTransaction([&] {
            EXPECT_TRUE(db().updateODMValue("dropped", "b", 1, nullptr));
            return false;
        }));
        return true;
    }));
    EXPECT_TRUE(db().ODMValueWithName("a").value);
    EXPECT_FALSE(db().ODMValueWithName("b").value);
}

TEST_F(DatabaseTransactions, ResetEmptiesEverythingAndKeepsTheMetadataRow) {
    ASSERT_TRUE(writeEverywhere());
    ASSERT_TRUE(db().reset(nullptr));
    EXPECT_EQ(totalRows(), 0);
    EXPECT_EQ(db().isQueuedBundleTableEmpty().value, true);
    EXPECT_TRUE(db().updateDailyCounts(APMDailyCounts(1, 0, 0, 0, 0, 0, 0), nullptr));
}

TEST_F(DatabaseTransactions, ADamagedFileIsRecreated) {
    ASSERT_TRUE(writeEverywhere());
    close();
    {
        std::ofstream garbage(path(), std::ios::binary | std::ios::trunc);
        garbage << std::string(8192, '\x5a');
    }
    std::filesystem::remove(path() + "-wal");
    reopen();
    EXPECT_EQ(totalRows(), 0);
    EXPECT_EQ(monitor_.linesWithCode(12050).size(), 1u);
    EXPECT_TRUE(writeEverywhere()) << "the new file has the full schema";
}

TEST_F(DatabaseTransactions, SchemaVersionIsRecorded) {
    db();
    APMError error;
    auto store = APMSqliteStore::open(path(), &error);
    auto version = store->firstRow("PRAGMA user_version", {});
    EXPECT_EQ(version.value->integer("user_version"), 1);
    auto mode = store->firstRow("PRAGMA journal_mode", {});
    EXPECT_EQ(mode.value->text("journal_mode"), "wal");
}

TEST_F(DatabaseTransactions, UpsertRespectsTheTableLimit) {
    auto upsert = [&](const std::string& name, APMError* error) {
        return db().upsertDataType(APMSqliteRow{{"name", name}, {"set_timestamp", 1.0}, {"value", "v"}}, "odm_values",
                                   "name", name, 2, error);
    };
    ASSERT_TRUE(upsert("a", nullptr));
    ASSERT_TRUE(upsert("b", nullptr));
    APMError error;
    EXPECT_FALSE(upsert("c", &error));
    EXPECT_EQ(error.description, "Failed to insert data type. Table is full");
    EXPECT_TRUE(upsert("a", nullptr)) << "an existing key is always rewritten";
}

// Answers of reads of a table may be kept between reads; every way the table can
// change must show in the next answer: a row written or deleted, a write
// seen inside its transaction and gone after its rollback, and the whole
// table emptied at once by a reset.
TEST_F(DatabaseTransactions, ExistenceAnswersFollowEveryChangeOfTheirTable) {
    auto stored = [&] {
        const auto all = db().userAttributesIncludingInternal(true).value;
        const bool listed = all && all->size() == 1;
        EXPECT_EQ(listed, db().userAttributeWithName("p").value.has_value());
        return db().containsUserAttributeWithName("p").value.value_or(false) && listed;
    };
    EXPECT_FALSE(stored());
    ASSERT_TRUE(db().updateUserAttribute(APMUserAttribute("app", "p", APMValue(1), 1), nullptr));
    EXPECT_TRUE(stored());
    ASSERT_TRUE(db().deleteUserAttributeWithName("p", nullptr));
    EXPECT_FALSE(stored());

    EXPECT_FALSE(db().performTransaction([&] {
        EXPECT_TRUE(db().updateUserAttribute(APMUserAttribute("app", "p", APMValue(2), 2), nullptr));
        EXPECT_TRUE(stored());
        return false;
    }));
    EXPECT_FALSE(stored());

    ASSERT_TRUE(db().updateUserAttribute(APMUserAttribute("app", "p", APMValue(3), 3), nullptr));
    EXPECT_TRUE(stored());
    ASSERT_TRUE(db().reset(nullptr));
    EXPECT_FALSE(stored());

    auto lifetimeCount = [&] {
        const auto aggregates = db().eventAggregatesWithName("e").value;
        return aggregates ? aggregates->lifetimeCount() : 0;
    };
    ASSERT_TRUE(db().updateEventAggregates(APMEventAggregates("e", 1, 1, 1, 1), nullptr));
    EXPECT_EQ(lifetimeCount(), 1);
    EXPECT_FALSE(db().performTransaction([&] {
        EXPECT_TRUE(db().updateEventAggregates(APMEventAggregates("e", 2, 2, 2, 2), nullptr));
        EXPECT_EQ(lifetimeCount(), 2);
        return false;
    }));
    EXPECT_EQ(lifetimeCount(), 1);
}

// The upload plan may be kept, and carried over the raw events inserted;
// after every kind of change it answers as its separate reads do.
TEST_F(DatabaseTransactions, TheUploadPlanAnswersAsItsSeparateReadsAfterEveryChange) {
    auto expectPlanAsReads = [&](const std::string& step) {
        const auto plan = db().uploadPlanReads().value;
        ASSERT_TRUE(plan) << step;
        EXPECT_EQ(plan->bundlesEmpty.value, db().isQueuedBundleTableEmpty().value) << step;
        EXPECT_EQ(plan->rawEventsEmpty.value, db().isRawEventsTableEmpty().value) << step;
        EXPECT_EQ(plan->latestRawEventTime.value, db().queryLatestRawEventTime().value) << step;
        EXPECT_EQ(plan->latestBundleTime.value, db().queryLatestBundleTime().value) << step;
        EXPECT_EQ(plan->realtimeBundles.value, db().containsRealtimeBundles().value) << step;
        EXPECT_EQ(plan->realtimeRawEvents.value, db().containsRealtimeRawEvents().value) << step;
    };
    auto rawEvent = [&](double timestamp, bool realtime) {
        return db().insertRawEvent("e", timestamp, bytesOf("x"), 1, realtime, nullptr);
    };
    const std::pair<std::string, std::function<bool()>> steps[] = {
        {"nothing stored", [] { return true; }},
        {"a raw event", [&] { return rawEvent(5, false); }},
        {"an earlier one", [&] { return rawEvent(3, false); }},
        {"a real-time one", [&] { return rawEvent(7, true); }},
        {"a bundle", [&] { return db().insertBundle(bundle({{"app", "a"}, {"end", "9000"}}), true, nullptr); }},
        {"a rolled-back raw event",
         [&] {
             EXPECT_FALSE(db().performTransaction([&] {
                 EXPECT_TRUE(rawEvent(99, true));
                 expectPlanAsReads("inside the transaction");
                 return false;
             }));
             return true;
         }},
        {"raw events deleted", [&] { return db().deleteRawEventsWithMaxRowID(2, nullptr); }},
        {"a raw event after the deletion", [&] { return rawEvent(1, false); }},
        {"a reset", [&] { return db().reset(nullptr); }},
        {"a raw event after the reset", [&] { return rawEvent(2, false); }},
    };
    for (const auto& [step, change] : steps) {
        ASSERT_TRUE(change()) << step;
        expectPlanAsReads(step);
    }
}

}  // namespace
