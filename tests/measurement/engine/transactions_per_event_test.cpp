// How many exclusive transactions one event takes: the statements of the
// engine's own connection are traced from its opening on.

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "EngineTestSupport.h"

namespace engine_test {
namespace {

std::mutex gTraceMutex;
std::string gTraceTarget;
std::vector<std::string> gTraced;

int traceTarget(unsigned, void*, void* statement, void* text) {
    const char* sql = static_cast<const char*>(text);
    const char* file = sqlite3_db_filename(sqlite3_db_handle(static_cast<sqlite3_stmt*>(statement)), "main");
    std::lock_guard lock(gTraceMutex);
    if (sql && file && std::filesystem::path(file) == std::filesystem::path(gTraceTarget)) gTraced.emplace_back(sql);
    return 0;
}

int installTrace(sqlite3* db, char**, const sqlite3_api_routines*) {
    sqlite3_trace_v2(db, SQLITE_TRACE_STMT, traceTarget, nullptr);
    return SQLITE_OK;
}

class TransactionsPerEvent : public EngineFixture {
protected:
    void SetUp() override {
        {
            std::lock_guard lock(gTraceMutex);
            gTraceTarget = std::filesystem::weakly_canonical(folder.path() / "measurement.sql").string();
            gTraced.clear();
        }
        ASSERT_EQ(sqlite3_auto_extension(reinterpret_cast<void (*)()>(&installTrace)), SQLITE_OK);
        start();
    }
    void TearDown() override { sqlite3_reset_auto_extension(); }

    // Statements `sql` begun while `work` ran.
    template <class Work>
    int countOf(const std::string& sql, Work work) {
        {
            std::lock_guard lock(gTraceMutex);
            gTraced.clear();
        }
        work();
        std::lock_guard lock(gTraceMutex);
        return static_cast<int>(std::count(gTraced.begin(), gTraced.end(), sql));
    }
    template <class Work>
    int exclusiveTransactionsOf(Work work) {
        return countOf("BEGIN EXCLUSIVE TRANSACTION", work);
    }

};

TEST_F(TransactionsPerEvent, AnEventOfAnExpiredSessionRemovesItsPropertiesOnceThenWritesAlone) {
    ASSERT_TRUE(engine->isSessionExpired());
    APMError error;
    for (const char* name : {"_sid", "_sno"}) {
        ASSERT_TRUE(engine->database()->updateUserAttribute(
            APMUserAttribute("auto", name, APMValue(std::int64_t{7}), now()), &error))
            << error.text();
    }
    EXPECT_EQ(exclusiveTransactionsOf([&] { log("first"); }), 2);
    EXPECT_FALSE(property("_sid"));
    EXPECT_FALSE(property("_sno"));
    EXPECT_EQ(exclusiveTransactionsOf([&] { log("second"); }), 1);
    EXPECT_EQ(storedNames().back(), "second");
}

TEST_F(TransactionsPerEvent, AnExpiredSessionsPropertiesAreLookedForAgainOnlyAfterAUserPropertyWrite) {
    ASSERT_TRUE(engine->isSessionExpired());
    const std::string lookup = "SELECT EXISTS (SELECT 1 FROM user_attributes WHERE name IN (?, ?, ?))";
    log("first");
    EXPECT_EQ(countOf(lookup, [&] { log("second"); }), 0);
    APMError error;
    ASSERT_TRUE(engine->database()->updateUserAttribute(
        APMUserAttribute("auto", "_sid", APMValue(std::int64_t{7}), now()), &error))
        << error.text();
    EXPECT_EQ(countOf(lookup, [&] { log("third"); }), 1);
    EXPECT_FALSE(property("_sid"));
}

TEST_F(TransactionsPerEvent, TheUploadPlanAfterAnEventTakesNoReadTransaction) {
    EXPECT_EQ(countOf("BEGIN DEFERRED TRANSACTION", [&] { log("planned"); }), 0);
}

}  // namespace
}  // namespace engine_test
