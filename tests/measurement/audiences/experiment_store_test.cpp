// The experiment store: its schema, upserts, the activation split, the
// start-up activation, stale rows, unreadable rows and damaged files.

#include <fstream>

#include "ExperimentTestSupport.h"

namespace experiment_test {
namespace {

class ExperimentStore : public ExperimentFixture {
protected:
    void SetUp() override {
        database = APMEDatabase::open(path(), dispatcher.clock());
        ASSERT_NE(database, nullptr);
    }
    std::string path() { return (folder.path() / kAPMEDatabaseFileName).string(); }
    APMESnapshotList all(std::optional<APMESnapshotList> (APMEDatabase::*fetch)(APMError*)) {
        APMError error;
        auto rows = (database.get()->*fetch)(&error);
        EXPECT_TRUE(rows.has_value()) << error.text();
        return rows.value_or(APMESnapshotList{});
    }
    void writeRaw(const char* table, const std::string& name, APMBytes blob, std::optional<std::int64_t> mark) {
        auto store = APMSqliteStore::open(path(), nullptr);
        APMSqliteRow row{{"sdk_name", name}, {"snapshotProto", blob}, {"timestamp", now()}};
        if (mark) row.set("manually_activated", *mark);
        ASSERT_TRUE(store->upsertRecord(row, table, nullptr));
    }
    std::unique_ptr<APMEDatabase> database;
};

TEST_F(ExperimentStore, TablesHaveTheFourColumnsInOrder) {
    auto store = APMSqliteStore::open(path(), nullptr);
    for (const char* table : {kAPMEPendingSnapshotTable, kAPMEActivatedSnapshotTable, kAPMELaunchedSnapshotTable}) {
        auto columns = store->recordsForQuery(std::string("PRAGMA table_info(") + table + ")", {});
        ASSERT_TRUE(columns.hasValue()) << table;
        std::vector<std::string> described;
        for (const auto& row : *columns.value) described.push_back(*row.text("name") + " " + *row.text("type"));
        EXPECT_EQ(described, (std::vector<std::string>{"sdk_name TEXT", "snapshotProto BLOB", "timestamp REAL",
                                                       "manually_activated INTEGER"}))
            << table;
    }
}

TEST_F(ExperimentStore, PendingUpsertsReplaceBySDKNameAndKeepTimeAndMark) {
    auto first = snapshot("sdk", {experiment(1, {flag("a", APMPBNumber::numberWithLongLong(1))})}, 100);
    auto second = snapshot("sdk", {experiment(2, {})}, 200);
    second->setManuallyActivated(true);
    ASSERT_TRUE(database->upsertPendingExperimentSnapshots({first}, nullptr));
    ASSERT_TRUE(database->upsertPendingExperimentSnapshots({second}, nullptr));
    auto rows = all(&APMEDatabase::fetchAllPendingSnapshots);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(ids(rows[0]), std::vector<std::int32_t>{2});
    EXPECT_EQ(rows[0]->timestamp(), 200);
    EXPECT_TRUE(rows[0]->manuallyActivated());
}

TEST_F(ExperimentStore, ActivationSplitsLaunchedFromActivatedAndKeepsLaterPendingRows) {
    auto both = snapshot("sdk", {experiment(0, {flag("l", "x")}), experiment(5, {flag("a", "y")})}, now());
    ASSERT_TRUE(database->activateSnapshot(both, now(), nullptr));
    EXPECT_EQ(ids(all(&APMEDatabase::fetchAllLaunchedSnapshots).at(0)), std::vector<std::int32_t>{0});
    EXPECT_EQ(ids(all(&APMEDatabase::fetchAllActivatedSnapshots).at(0)), std::vector<std::int32_t>{5});

    // Only experiment 0: the launched row is rewritten, the activated one stays.
    auto later = snapshot("sdk", {experiment(0, {flag("l", "z")})}, now() + 50);
    ASSERT_TRUE(database->upsertPendingExperimentSnapshots({later}, nullptr));
    ASSERT_TRUE(database->activateSnapshot(later, now() + 10, nullptr));
    EXPECT_EQ(text(APMPBFlagValue(all(&APMEDatabase::fetchAllLaunchedSnapshots).at(0)->flagByName("l").get())), "z");
    EXPECT_EQ(ids(all(&APMEDatabase::fetchAllActivatedSnapshots).at(0)), std::vector<std::int32_t>{5});
    EXPECT_EQ(all(&APMEDatabase::fetchAllPendingSnapshots).size(), 1u) << "written after the activation time";
    ASSERT_TRUE(database->activateSnapshot(later, now() + 50, nullptr));
    EXPECT_TRUE(all(&APMEDatabase::fetchAllPendingSnapshots).empty());
}

TEST_F(ExperimentStore, StartUpActivatesUnmarkedPendingRowsWithTheirOwnTime) {
    auto automatic = snapshot("auto", {experiment(0, {}), experiment(3, {flag("a", "1")})}, now() - 500);
    auto manual = snapshot("manual", {experiment(4, {flag("b", "2")})}, now() - 400);
    manual->setManuallyActivated(true);
    ASSERT_TRUE(database->upsertPendingExperimentSnapshots({automatic, manual}, nullptr));
    ASSERT_TRUE(database->performTransaction([&] { return database->activatePendingSnapshotsAutomatically(nullptr); }));
    auto pending = all(&APMEDatabase::fetchAllPendingSnapshots);
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0]->SDKName(), "manual");
    auto activated = all(&APMEDatabase::fetchAllActivatedSnapshots);
    ASSERT_EQ(activated.size(), 1u);
    EXPECT_EQ(activated[0]->SDKName(), "auto");
    EXPECT_EQ(activated[0]->timestamp(), now() - 500);
    EXPECT_EQ(all(&APMEDatabase::fetchAllLaunchedSnapshots).at(0)->timestamp(), now() - 500);
}

TEST_F(ExperimentStore, ActivatedRowsThreeDaysOldAreStaleLaunchedOnesNever) {
    ASSERT_TRUE(database->activateSnapshot(snapshot("old", {experiment(0, {}), experiment(1, {})}, 0),
                                           now() - kAPMEStaleSnapshotAge, nullptr));
    ASSERT_TRUE(database->activateSnapshot(snapshot("young", {experiment(2, {})}, 0),
                                           now() - kAPMEStaleSnapshotAge + 1, nullptr));
    ASSERT_TRUE(database->deleteStaleActivatedSnapshots(nullptr));
    auto activated = all(&APMEDatabase::fetchAllActivatedSnapshots);
    ASSERT_EQ(activated.size(), 1u);
    EXPECT_EQ(activated[0]->SDKName(), "young");
    EXPECT_EQ(all(&APMEDatabase::fetchAllLaunchedSnapshots).size(), 1u);
}

TEST_F(ExperimentStore, OneUnreadableRowHidesItsTableAndStopsStartUpActivation) {
    ASSERT_TRUE(database->upsertPendingExperimentSnapshots({snapshot("good", {experiment(1, {})}, now())}, nullptr));
    writeRaw(kAPMEPendingSnapshotTable, "bad", {0xff, 0xff, 0xff}, 0);
    APMError error;
    EXPECT_FALSE(database->fetchAllPendingSnapshots(&error).has_value());
    EXPECT_EQ(error.code, 0) << "an unreadable row sets no error";
    EXPECT_FALSE(database->performTransaction([&] { return database->activatePendingSnapshotsAutomatically(&error); }));
    EXPECT_EQ(error.code, kAPMDatabaseErrorInvalidData);
    EXPECT_TRUE(all(&APMEDatabase::fetchAllActivatedSnapshots).empty()) << "rolled back";
}

TEST_F(ExperimentStore, DamagedFileIsRecreatedAndUnusableTablesDeleteTheFile) {
    database.reset();
    { std::ofstream(path(), std::ios::trunc) << std::string(4096, 'x'); }
    database = APMEDatabase::open(path(), dispatcher.clock());
    ASSERT_NE(database, nullptr);
    EXPECT_TRUE(all(&APMEDatabase::fetchAllPendingSnapshots).empty());

    database.reset();
    std::filesystem::remove(path());
    {
        auto store = APMSqliteStore::open(path(), nullptr);
        ASSERT_TRUE(store->executeScript("CREATE TABLE activated_snapshot_table (other TEXT)", nullptr));
    }
    EXPECT_EQ(APMEDatabase::open(path(), dispatcher.clock()), nullptr);
    EXPECT_EQ(monitor.linesWithCode(810002).size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(path()));
}

}  // namespace
}  // namespace experiment_test
