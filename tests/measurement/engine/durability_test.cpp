// One event's writes commit together or not at all: a writer process logs
// events through the engine's entry, acknowledges each one once it has been
// handled, and is killed with SIGKILL at seeded points (before the write
// transaction, inside it, between events). The reopened store must hold
// every acknowledged event with its exact payload, and the aggregates, the
// daily counts and the lifetime value must agree with the stored rows.
// A file that cannot grow fails only the write that needs a new page, and
// writing resumes once the file may grow again.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include <random>
#include <set>

#include "EngineTestSupport.h"

namespace engine_test {
namespace {

constexpr int kEventsPerRun = 40;

enum class KillPoint { BeforeTransaction, InsideTransaction, AfterAcknowledgement };

std::string payloadFor(int i) { return "payload-" + std::to_string(i * 7919) + std::string(static_cast<std::size_t>(i % 13), 'x'); }
std::string nameFor(int i) { return i % 3 == 2 ? "purchase" : "e" + std::to_string(i); }

class Durability : public EngineFixture {
protected:
    // The writer: never returns.
    [[noreturn]] void runWriter(const std::filesystem::path& databasePath, int killAt, KillPoint point, int ackFd) {
        APMMeasurementConfiguration config = configuration();
        config.openDatabase = [&](const std::string&, APMError* error) {
            return APMDatabase::openAtPath(databasePath.string(), error, &dispatcher.virtualClock());
        };
        int current = -1;
        // Asked by the session step of the event road, before the write transaction.
        APMSetAppActiveProvider([&] {
            if (current == killAt && point == KillPoint::BeforeTransaction) raise(SIGKILL);
            return false;
        });
        // Asked while the raw event's metadata is built, inside the transaction.
        config.seams.metadataLinkageBits = [&] {
            if (current == killAt && point == KillPoint::InsideTransaction) raise(SIGKILL);
            return 0;
        };
        engine = APMMeasurement::create(kAppID, true, false, {}, std::move(config));
        dispatcher.drain();
        discardStartRecords();
        for (current = 0; current < kEventsPerRun; ++current) {
            APMObjectParameters parameters{{"i", platform::PropertyValue(static_cast<long long>(current))},
                                           {"blob", platform::PropertyValue(payloadFor(current))}};
            if (nameFor(current) == "purchase") {
                parameters.emplace_back("currency", platform::PropertyValue("USD"));
                parameters.emplace_back("value", platform::PropertyValue(1LL));
            }
            engine->logEventWithOrigin("app", true, nameFor(current), parameters, now() + current, true, false, false,
                                       nullptr, std::nullopt);
            dispatcher.drain();
            const std::string ack = std::to_string(current) + "\n";
            if (write(ackFd, ack.data(), ack.size()) != static_cast<ssize_t>(ack.size())) _exit(3);
            if (current == killAt && point == KillPoint::AfterAcknowledgement) raise(SIGKILL);
        }
        _exit(0);
    }
};

TEST_F(Durability, AcknowledgedEventsSurviveSigkillWithConsistentCounts) {
    std::mt19937 random(20261207);
    for (int run = 0; run < 24; ++run) {
        const int killAt = std::uniform_int_distribution<int>(0, kEventsPerRun - 1)(random);
        const auto point = static_cast<KillPoint>(run % 3);
        const std::filesystem::path databasePath = folder.path() / ("run" + std::to_string(run) + ".sql");
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(fds[0]);
            runWriter(databasePath, killAt, point, fds[1]);
        }
        close(fds[1]);
        std::string acks;
        char buffer[256];
        for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) acks.append(buffer, static_cast<std::size_t>(n));
        close(fds[0]);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "run " << run;
        std::set<int> acknowledged;
        for (std::size_t start = 0, end; (end = acks.find('\n', start)) != std::string::npos; start = end + 1) {
            acknowledged.insert(std::stoi(acks.substr(start, end - start)));
        }
        EXPECT_EQ(acknowledged.size(), static_cast<std::size_t>(point == KillPoint::AfterAcknowledgement ? killAt + 1 : killAt));

        APMError error;
        auto database = APMDatabase::openAtPath(databasePath.string(), &error, &dispatcher.virtualClock());
        ASSERT_TRUE(database) << error.text();
        auto rows = database->allRawEvents();
        ASSERT_TRUE(rows.value);
        std::set<int> stored;
        std::set<std::string> storedNames;
        int purchases = 0;
        for (const auto& row : *rows.value) {
            auto data = APMRawEventData::fromRecord(row, &error);
            ASSERT_TRUE(data) << error.text();
            const int i = static_cast<int>(data->rawEvent.parameters().find("i")->int64Value());
            EXPECT_EQ(data->rawEvent.name(), nameFor(i));
            EXPECT_EQ(*data->rawEvent.parameters().find("blob")->stringValue(), payloadFor(i)) << "run " << run;
            stored.insert(i);
            storedNames.insert(data->rawEvent.name());
            purchases += data->rawEvent.name() == "purchase";
        }
        // Exactly the acknowledged events: the one being written when the
        // writer died left no trace.
        EXPECT_EQ(stored, acknowledged) << "run " << run;
        auto counts = database->dailyCounts();
        ASSERT_TRUE(counts.value);
        EXPECT_EQ(counts.value->allEventsCount(), static_cast<std::int32_t>(rows.value->size())) << "run " << run;
        EXPECT_EQ(counts.value->publicEventsCount(), static_cast<std::int32_t>(rows.value->size())) << "run " << run;
        auto aggregates = database->allEventAggregates();
        ASSERT_TRUE(aggregates.value);
        std::set<std::string> aggregateNames;
        for (const auto& a : *aggregates.value) aggregateNames.insert(a.name());
        EXPECT_EQ(aggregateNames, storedNames) << "run " << run;
        auto ltv = database->userAttributeWithName("_ltv_USD");
        EXPECT_EQ(ltv.value ? ltv.value->value().int64Value() : 0, std::int64_t{purchases} * 1000000) << "run " << run;
    }
}

}  // namespace
}  // namespace engine_test

namespace engine_test {
namespace {

// Every connection the process opens to `target` is kept here, so the test
// can limit the size of the engine's own database file.
std::string gFullDiskTarget;
sqlite3* gFullDiskConnection = nullptr;

int keepTargetConnection(sqlite3* db, char**, const sqlite3_api_routines*) {
    const char* file = sqlite3_db_filename(db, "main");
    if (file && !gFullDiskTarget.empty() && std::filesystem::path(file) == std::filesystem::path(gFullDiskTarget)) {
        gFullDiskConnection = db;
    }
    return SQLITE_OK;
}

class FullDisk : public EngineFixture {
protected:
    void SetUp() override {
        gFullDiskTarget = std::filesystem::weakly_canonical(folder.path() / "measurement.sql").string();
        ASSERT_EQ(sqlite3_auto_extension(reinterpret_cast<void (*)()>(&keepTargetConnection)), SQLITE_OK);
        startWithoutStartRecords();
        ASSERT_NE(gFullDiskConnection, nullptr);
    }
    void TearDown() override { sqlite3_reset_auto_extension(); }

    std::int64_t pragma(const std::string& sql) {
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(gFullDiskConnection, sql.c_str(), -1, &statement, nullptr), SQLITE_OK);
        std::int64_t value = -1;
        if (sqlite3_step(statement) == SQLITE_ROW) value = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
        return value;
    }

    void logNumbered(int i) { log("grow", {{"i", platform::PropertyValue(static_cast<long long>(i))},
                                           {"blob", platform::PropertyValue(payloadFor(i))}}); }
};

TEST_F(FullDisk, AFileThatCannotGrowFailsTheWriteKeepsEarlierEventsAndRecovers) {
    for (int i = 0; i < 5; ++i) logNumbered(i);
    ASSERT_EQ(stored().size(), 5u);
    const std::int64_t pages = pragma("PRAGMA page_count");
    ASSERT_EQ(pragma("PRAGMA max_page_count = " + std::to_string(pages)), pages);

    // Fill the free room of the last pages until a write needs a new one.
    int next = 5;
    while (monitor.linesWithCode(23071).empty() && next < 500) logNumbered(next++);
    ASSERT_EQ(monitor.linesWithCode(23071).size(), 1u) << "no write failed within the page limit";
    EXPECT_EQ(monitor.linesWithCode(12056).size(), 1u);
    const int failed = next - 1;

    std::set<int> expected;
    for (int i = 0; i < failed; ++i) expected.insert(i);
    std::set<int> kept;
    for (const auto& event : stored()) {
        const int i = static_cast<int>(event.rawEvent.parameters().find("i")->int64Value());
        EXPECT_EQ(*event.rawEvent.parameters().find("blob")->stringValue(), payloadFor(i));
        kept.insert(i);
    }
    EXPECT_EQ(kept, expected);
    // The failed event's daily count was rolled back with it.
    EXPECT_EQ(engine->database()->dailyCounts().value->allEventsCount(), failed);

    pragma("PRAGMA max_page_count = 1073741823");
    logNumbered(failed + 1);
    EXPECT_EQ(stored().size(), static_cast<std::size_t>(failed + 1));
    EXPECT_EQ(monitor.linesWithCode(23071).size(), 1u);
}

}  // namespace
}  // namespace engine_test
