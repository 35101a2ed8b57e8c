// The first open's records land together: "_fi", "_fot", the "_f" event and
// the session start and engagement that follow it. A process killed while
// writing any of its events leaves none of them, and the next start reports
// the first open whole, each event once and in its order.

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "EngineTestSupport.h"

namespace engine_test {
namespace {

// Kills the process when a connection opened after `killWhenInserting` starts
// to insert the raw event of that name (an SQLite auto-extension: no hook in
// the code under test). For a forked child only.
class RawEventInsertKill {
public:
    static void killWhenInserting(const char* name) {
        target() = name;
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(&attach));
    }

private:
    static const char*& target() {
        static const char* name = nullptr;
        return name;
    }
    static int attach(sqlite3* db, char**, const sqlite3_api_routines*) {
        sqlite3_trace_v2(db, SQLITE_TRACE_STMT, &onStatement, nullptr);
        return SQLITE_OK;
    }
    static int onStatement(unsigned, void*, void* statement, void*) {
        char* sql = sqlite3_expanded_sql(static_cast<sqlite3_stmt*>(statement));
        const std::string insert = std::string("INSERT INTO raw_events (name, timestamp, metadata_fingerprint, data, "
                                               "realtime) VALUES ('") + target() + "',";
        if (sql && std::strncmp(sql, insert.c_str(), insert.size()) == 0) raise(SIGKILL);
        sqlite3_free(sql);
        return 0;
    }
};

struct KillPoint {
    const char* killedWriting;
    bool appActive;
    std::vector<std::string> reported;
};

class FirstOpenDurability : public EngineFixture, public ::testing::WithParamInterface<KillPoint> {
protected:
    ~FirstOpenDurability() override { APMSetAppActive(false); }
};

TEST_P(FirstOpenDurability, AKillWhileWritingTheFirstOpenLeavesNoneOfItAndTheNextStartReportsItWhole) {
    const KillPoint& c = GetParam();
    APMSetAppActive(c.appActive);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RawEventInsertKill::killWhenInserting(c.killedWriting);
        start();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the event was not written";
    {
        const auto database = openDatabase();
        ASSERT_TRUE(database);
        EXPECT_EQ(database->containsUserAttributeWithName("_fot").value, false);
        EXPECT_EQ(database->allRawEvents().value->size(), 0u);
    }

    // The settings as the killed process left them.
    persisted = std::make_shared<APMPersistedConfig>(
        std::make_shared<platform::UserDefaults>("engine", folder.path() / "defaults"));
    start();
    EXPECT_EQ(engine->database()->containsUserAttributeWithName("_fot").value, true);
    EXPECT_EQ(storedNames(), c.reported);
    EXPECT_EQ(persisted->sessionNumber(), c.appActive ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(KillPoints, FirstOpenDurability,
                         ::testing::Values(KillPoint{"_f", false, {"_f", "_e"}},
                                           KillPoint{"_e", false, {"_f", "_e"}},
                                           KillPoint{"_e", true, {"_f", "_s", "_e"}}),
                         [](const ::testing::TestParamInfo<KillPoint>& info) {
                             return std::string("Writing") + info.param.killedWriting + (info.param.appActive ? "Active" : "");
                         });

}  // namespace
}  // namespace engine_test
