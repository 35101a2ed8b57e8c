#pragma once
// Fixtures of the transaction tests: an engine with the real audience store
// (as the application makes it), and SQL run on its database file through a
// connection of the test's own.

#include <sqlite3.h>

#include "BundlingTestSupport.h"
#include "measurement/engine/APMEngineSubsystems.h"

namespace engine_test {

// The experiment manager's place is taken, so only the audience store of
// the application's subsystems is made.
class NoExperiments final : public APMRemoteConfigExperimentManager {
public:
    std::shared_ptr<APMRemoteConfigExperimentClient> registerMeasurementClient(std::int64_t) override { return nullptr; }
    std::vector<std::int64_t> experimentIDs() const override { return {}; }
    void reset() override {}
};

// The configuration with the audience store the application installs.
inline APMMeasurementConfiguration withAudiences(APMMeasurementConfiguration configuration,
                                                 platform::Dispatcher& dispatcher) {
    configuration.experimentManager = std::make_shared<NoExperiments>();
    APMInstallDefaultSubsystems(configuration, dispatcher);
    return configuration;
}

// Runs `sql` on the database file; SQLite's message when it fails.
inline std::string runSql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string failure;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK || sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        failure = sqlite3_errmsg(db);
    }
    sqlite3_close(db);
    return failure;
}

}  // namespace engine_test
