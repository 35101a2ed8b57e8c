// Every statement and commit of the engine's transactions is made to fail
// in turn: the event write, bundling, the upload attempt (counting a retry
// before the request leaves), its completion (deleting the bundles on
// success) and storing a fetched configuration. After each failure the database and the persisted
// configuration equal what they were before, and the next attempt succeeds.
// The number of injection points of each transaction is printed.

#include <iostream>
#include <regex>

#include <gtest/gtest-spi.h>

#include "SqliteFaultInjector.h"
#include "EngineTestSupport.h"
#include "measurement/audiences/AudienceTestSupport.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/audiences/APMExperimentManager.h"

namespace engine_test {
namespace {

using audience_test::audience;
using audience_test::between;
using audience_test::eventFilter;
using audience_test::propertyFilter;
using audience_test::test;

class TransactionFaults : public EngineFixture {
protected:
    // One transaction: the state it starts from, the call that runs it, and
    // what shows that it ran to its end. `ignoredSettings` are persisted
    // settings that record what the network answered rather than what the
    // transaction stored.
    struct Transaction {
        const char* name;
        std::function<void(TransactionFaults&)> prepare;
        std::function<void(TransactionFaults&)> run;
        std::function<void(TransactionFaults&)> expectDone;
        std::vector<std::string> ignoredSettings;
    };

    void SetUp() override {
        writeBundleIdentifier();
        realSubsystems = true;
    }

    std::filesystem::path databasePath() const { return folder.path() / "measurement.sql"; }

    void stopEngine() {
        engine.reset();
        dispatcher.drain();
        APMMeasurement::resetSharedInstanceForTesting();
        APMEManager::resetSharedForTesting();
        dispatcher.drain();
        APMIdentity::setSharedInstance(nullptr);
        APMConsentSettingsUtil::resetForTesting();
    }

    // An engine started once over an empty database; its files are kept, so
    // that every run starts from the same identifiers and stored rows.
    void makeTemplate() {
        stopEngine();
        startEngine();
        stopEngine();
        std::filesystem::remove_all(templateFolder());
        std::filesystem::create_directories(templateFolder());
        for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
            const std::string name = entry.path().filename().string();
            if (name != "template" && name != "resources") {
                std::filesystem::copy(entry.path(), templateFolder() / name, std::filesystem::copy_options::recursive);
            }
        }
    }

    // The engine over a copy of the template's files, without stored rows.
    void startFromTemplate() {
        stopEngine();
        for (const auto& entry : std::filesystem::directory_iterator(templateFolder())) {
            std::filesystem::remove_all(folder.path() / entry.path().filename());
        }
        for (const char* suffix : {"-wal", "-shm"}) std::filesystem::remove(databasePath().string() + suffix);
        std::filesystem::copy(templateFolder(), folder.path(), std::filesystem::copy_options::recursive);
        startEngine();
        discardStartRecords();
    }

    void startEngine() {
        persisted = std::make_shared<APMPersistedConfig>(
            std::make_shared<platform::UserDefaults>("engine", folder.path() / "defaults"));
        start();
        engine->identity()->setAppIDFromVAZ(kAppID);
        dispatcher.drain();
    }

    std::filesystem::path templateFolder() const { return folder.path() / "template"; }

    // Every row of every table, read through a connection of the test's own.
    // `comparable` masks what differs between two engine starts: the
    // identifiers made at start (32 hexadecimal digits), the metadata
    // fingerprints that depend on them and the compressed bundles that
    // carry them.
    std::string databaseState(bool comparable = false) const {
        sqlite3* db = nullptr;
        std::string state;
        if (sqlite3_open_v2(databasePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return "unopened";
        std::vector<std::string> tables;
        sqlite3_exec(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name",
                     [](void* into, int, char** values, char**) {
                         static_cast<std::vector<std::string>*>(into)->push_back(values[0]);
                         return 0;
                     },
                     &tables, nullptr);
        for (const std::string& table : tables) {
            std::vector<std::string> rows;
            sqlite3_stmt* select = nullptr;
            sqlite3_prepare_v2(db, ("SELECT * FROM \"" + table + "\"").c_str(), -1, &select, nullptr);
            while (select && sqlite3_step(select) == SQLITE_ROW) {
                std::string row;
                for (int i = 0; i < sqlite3_column_count(select); ++i) {
                    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(select, i));
                    std::string value = bytes ? std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(select, i)))
                                              : std::string();
                    const std::string column = sqlite3_column_name(select, i);
                    if (comparable && (column == "metadata_fingerprint" || (table == "queue" && column == "data"))) {
                        value = "masked";
                    } else if (comparable) {
                        static const std::regex identifier("[0-9A-F]{32}");
                        value = std::regex_replace(value, identifier, "masked");
                    }
                    row += std::to_string(sqlite3_column_type(select, i)) + ":" + value + "|";
                }
                rows.push_back(std::move(row));
            }
            sqlite3_finalize(select);
            std::sort(rows.begin(), rows.end());
            state += "[" + table + "]";
            for (const auto& row : rows) state += row + "\n";
        }
        sqlite3_close(db);
        return state;
    }

    std::string persistedState(const std::vector<std::string>& ignored) const {
        PropertyDictionary settings = platform::UserDefaults("engine", folder.path() / "defaults").dictionaryRepresentation();
        for (const auto& key : ignored) settings.erase(APMPersistedConfig::storageKey(key));
        const auto bytes = platform::serializePropertyList(PropertyValue(settings), platform::PropertyListFormat::Xml);
        return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
    }

    // Runs the transaction once to count its points and keep the state it
    // leaves, then once per point with that point failing. A failure leaves
    // the state before (and the next attempt succeeds) or, when the failed
    // statement was one the transaction may do without, the state of the
    // clean run; never anything in between.
    void injectEveryPoint(const Transaction& transaction) {
        SCOPED_TRACE(transaction.name);
        SqliteFaultInjector injector(databasePath());
        makeTemplate();
        startFromTemplate();
        transaction.prepare(*this);
        injector.arm(std::nullopt);
        transaction.run(*this);
        const int points = injector.disarm();
        transaction.expectDone(*this);
        ASSERT_GT(points, 0);
        const std::string doneDatabase = databaseState(true);
        const std::string doneSettings = persistedState(transaction.ignoredSettings);
        int toleratedReads = 0;
        ASSERT_GT(points, 0);

        const auto failures = [] { return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count(); };
        const int failuresBefore = failures();
        for (int point = 0; point < points; ++point) {
            startFromTemplate();
            transaction.prepare(*this);
            const std::string database = databaseState();
            const std::string settings = persistedState(transaction.ignoredSettings);
            injector.arm(point);
            transaction.run(*this);
            injector.disarm();
            const std::string where = "point " + std::to_string(point) + ": " + injector.firedAt();
            ASSERT_TRUE(injector.fired()) << where;
            if (databaseState(true) == doneDatabase && persistedState(transaction.ignoredSettings) == doneSettings) continue;
            if (injector.firedAt().starts_with("SELECT") && databaseState() != database && isDone(transaction)) {
                // A read whose failure the transaction survives by leaving a
                // step out (diagnostics not attached, a schedule not moved):
                // it committed whole, without that step.
                ++toleratedReads;
                continue;
            }
            EXPECT_EQ(databaseState(), database) << where;
            EXPECT_EQ(persistedState(transaction.ignoredSettings), settings) << where;
            transaction.run(*this);
            transaction.expectDone(*this);
            if (failures() != failuresBefore) {
                ADD_FAILURE() << "first failing " << where;
                return;
            }
        }
        std::cout << "[ faults   ] " << transaction.name << ": " << points << " injection points (" << toleratedReads
                  << " failed reads left out an optional step)\n";
    }

    // The transaction's own check, without reporting.
    bool isDone(const Transaction& transaction) {
        ::testing::TestPartResultArray failures;
        using Reporter = ::testing::ScopedFakeTestPartResultReporter;
        Reporter quiet(Reporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
        transaction.expectDone(*this);
        return failures.size() == 0;
    }

    std::int64_t rows(const std::string& table) const {
        sqlite3* db = nullptr;
        std::int64_t count = -1;
        sqlite3_stmt* select = nullptr;
        if (sqlite3_open_v2(databasePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db, ("SELECT COUNT(*) FROM " + table).c_str(), -1, &select, nullptr) == SQLITE_OK &&
            sqlite3_step(select) == SQLITE_ROW) {
            count = sqlite3_column_int64(select, 0);
        }
        sqlite3_finalize(select);
        sqlite3_close(db);
        return count;
    }

    // Events of a session with engagement, an audience that counts one of
    // them, a purchase and a denied analytics storage (its snapshot).
    void storeEventsToBundle() {
        ASSERT_TRUE(engine->audience()->updateAudiences(
            {audience(1, {eventFilter(1, "level_up")}, {propertyFilter(2, "_lte", test(between("0", "1000000")))})}));
        APMConsentSettingsUtil::setConsentSettings(
            APMConsentSettings{{kAPMConsentTypeAnalyticsStorage, PropertyValue("denied")}});
        persisted->setLastMonitorDataSampledTimestamp(0);
        monitor.monitor().log(3, 23999, "a warning the bundle reports");
        engine->setShouldUpdateNPAUserProperty(true);
        log("_s", {}, 0, "auto", false);
        log("level_up", {{"level", PropertyValue(3LL)}});
        log("purchase", {{"currency", PropertyValue("USD")}, {"value", PropertyValue(2LL)}});
        log("_e", {{"_et", PropertyValue(1500LL)}}, 0, "auto", false);
    }

    std::vector<std::int64_t> queuedRowIDs() {
        std::vector<std::int64_t> ids;
        for (const auto& row : engine->database()->queryBundlesWithCountLimit(100, 1 << 30).value.value_or(
                 std::vector<APMQueuedBundle>{})) {
            ids.push_back(row.rowID);
        }
        return ids;
    }

    // One queued bundle, as the upload that is about to complete sent it.
    void queueOneBundle() {
        log("level_up");
        ASSERT_TRUE(engine->bundleRawEvents());
        uploading = queuedRowIDs();
    }

    void completeUpload(long status) {
        onWorker([&](APMMeasurement& e) {
            VULHTTPResponse response;
            response.statusCode = status;
            e.setUploadInProgressWithBundleIDs(uploading);
            e.networkUploadCompletionHandlerWithResponse(response, std::nullopt);
        });
    }

    // What an upload attempt stores before its request leaves.
    void countAttempt() {
        onWorker([&](APMMeasurement& e) {
            e.setUploadInProgressWithBundleIDs(uploading);
            e.incrementRetryCounter();
            e.setUploadInProgressWithBundleIDs({});
        });
    }

    std::vector<std::int64_t> uploading;

    std::int64_t retryCount() {
        const auto bundles = engine->database()->queryBundlesWithCountLimit(1, 1 << 30);
        if (!bundles.value || bundles.value->empty()) return -1;
        auto bundle = APMPBMeasurementBundle::initWithBuffer(bundles.value->front().bundle);
        return bundle ? APMPBGetInt32(*bundle, bundleSlot(39)) : -1;
    }

    static std::string fetchedConfiguration() {
        // ConsentConfig with one default entry {type 4 (ad_personalization), status 2 (denied)}.
        const std::vector<std::uint8_t> deniedPersonalization = {0x0A, 0x04, 0x08, 0x04, 0x10, 0x02};
        auto consent = APMPBConsentConfig::initWithBuffer(deniedPersonalization);
        auto config = makeConfig(kAppID, {{"measurement.upload.interval", "60000"}});
        APMPBSetMessage(*config, MeasurementConfigSlot::ConsentConfig, consent.get());
        const std::vector<std::shared_ptr<APMPBAudience>> audiences = {
            audience(7, {eventFilter(1, "level_up")}, {propertyFilter(2, "_lte", test(between("0", "9")))})};
        APMPBSetArray(*config, MeasurementConfigSlot::Audiences, APMPBArrayOfMessages(audiences));
        return encoded(*config);
    }

    void storeFetchedConfiguration() {
        const std::string body = fetchedConfiguration();
        VULHTTPResponse response;
        response.statusCode = 200;
        response.allHeaderFields["ETag"] = "\"v7\"";
        onWorker([&](APMMeasurement& e) {
            e.networkRemoteConfigFetchCompletionHandler(response, VULData(body.begin(), body.end()), std::nullopt);
        });
    }

    // What the server answered an upload is recorded whatever the database
    // does with it.
    static std::vector<std::string> uploadOutcome() {
        return {"last_successful_upload", "last_failed_upload", "last_backoff"};
    }

    static std::vector<Transaction> engineTransactions() {
        return {
            {"event write",
             [](TransactionFaults& t) { t.log("level_up", {{"level", PropertyValue(1LL)}}); },
             [](TransactionFaults& t) {
                 t.log("purchase", {{"currency", PropertyValue("USD")}, {"value", PropertyValue(5LL)}});
             },
             [](TransactionFaults& t) { EXPECT_EQ(t.rows("raw_events"), 2); },
             {}},
            {"first-open event write",
             [](TransactionFaults&) {},
             [](TransactionFaults& t) { t.log("_f", {{"_c", PropertyValue(1LL)}}, 0, "auto", false); },
             [](TransactionFaults& t) { EXPECT_EQ(t.storedCount("_f"), 1u); },
             {}},
            {"bundling",
             [](TransactionFaults& t) { t.storeEventsToBundle(); },
             [](TransactionFaults& t) { (void)t.engine->bundleRawEvents(); },
             [](TransactionFaults& t) { EXPECT_EQ(t.rows("queue"), 1); },
             {}},
            {"upload completion, success",
             [](TransactionFaults& t) { t.queueOneBundle(); },
             [](TransactionFaults& t) { t.completeUpload(200); },
             [](TransactionFaults& t) { EXPECT_EQ(t.rows("queue"), 0); },
             uploadOutcome()},
            {"upload attempt, retry count",
             [](TransactionFaults& t) { t.queueOneBundle(); },
             [](TransactionFaults& t) { t.countAttempt(); },
             [](TransactionFaults& t) { EXPECT_GE(t.retryCount(), 1); },
             uploadOutcome()},
            {"storing a fetched configuration",
             [](TransactionFaults& t) {
                 // The fetch's own time stamp, written before the configuration
                 // is stored, is written here first with the same time.
                 ASSERT_TRUE(t.engine->database()->updateRemoteConfigSuccessfulTimestamp(t.now(), nullptr));
             },
             [](TransactionFaults& t) { t.storeFetchedConfiguration(); },
             [](TransactionFaults& t) {
                 EXPECT_EQ(t.engine->remoteConfigInstance()->uploadingInterval(), 60);
                 EXPECT_EQ(t.persisted->configServerETag(), "\"v7\"");
             },
             // The answer's handling goes on to start an upload.
             uploadOutcome()},
        };
    }
};

TEST_F(TransactionFaults, EveryFailingStatementLeavesTheStateBeforeAndTheNextAttemptSucceeds) {
    for (const Transaction& transaction : engineTransactions()) injectEveryPoint(transaction);
}

}  // namespace
}  // namespace engine_test
