// Events through the real threaded road, as the application logs them: the
// facade's queues and the engine's worker queue on the process's real
// dispatcher, the engine built from the process's defaults (its network
// client watching the upload host, its identity, its database file in the
// data folder). One thread offers a batch of events and the batch counts as
// taken in when the engine has handled its last one: a marker queued behind
// the batch through the facade's operations reaches the engine's worker queue
// after it. No event listener is added, as the application adds none (an
// added listener costs every event a copy and a hand-off to the facade's
// serial queue).
//
// Against it, in the same run: a plain-C replay of the SQLite statements the
// engine ran for two events after the batch (captured with the statement
// trace on the engine's own connection), prepared once, stepped in turn on
// the same file after the engine is gone, on the connection settings the
// engine uses.
//
// Prints events a second taken in, process CPU per event of both, and their
// ratio last.

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchFolder.h"
#include "TimesReporter.h"

#include "VeredodaAnalytics/APMAnalytics.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMScheduler.h"
#include "measurement/messages/APMWireStoredMessageCodec.h"
#include "measurement/storage/APMStoredMessageCodec.h"

namespace {

constexpr int kBatch = 2000;
// The replay steps the statements of two events in turn. Each event writes
// other values (its daily counts, its time), as the engine's do: one event's
// statements stepped again and again would rewrite a row with the values it
// already holds, which SQLite skips, and leave a page a real event writes.
constexpr int kCapturedEvents = 2;
constexpr const char* kDatabaseName = "vadova-app-measurement.sql";

double processCPUSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

APMObjectParameters eventParameters() {
    return {{"level", platform::PropertyValue(12LL)},
            {"character", platform::PropertyValue("wizard")},
            {"score", platform::PropertyValue(1234.5)}};
}

// The statements the engine's connection runs while `capturing` is set, and
// the temporary tables and triggers it makes when it opens (which the
// replay's connection needs too).
struct StatementCapture {
    std::mutex mutex;
    bool capturing = false;
    std::vector<std::string> setup;
    std::vector<std::string> statements;
} gCapture;

bool startsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

int traceStatement(unsigned, void*, void* statement, void* text) {
    auto* stmt = static_cast<sqlite3_stmt*>(statement);
    const char* sql = static_cast<const char*>(text);
    while (sql && std::isspace(static_cast<unsigned char>(*sql))) ++sql;
    // Statements of triggers come as "-- TRIGGER name": their statement is the caller's.
    if (!sql || startsWith(sql, "--")) return 0;
    const char* file = sqlite3_db_filename(sqlite3_db_handle(stmt), "main");
    const std::string_view name = file ? file : "";
    if (!name.ends_with(std::string("/") + kDatabaseName)) return 0;
    std::lock_guard lock(gCapture.mutex);
    const bool setup = startsWith(sql, "CREATE TEMP") || startsWith(sql, "INSERT INTO raw_events_count");
    if (!setup && !gCapture.capturing) return 0;
    if (char* expanded = sqlite3_expanded_sql(stmt)) {
        (setup ? gCapture.setup : gCapture.statements).emplace_back(expanded);
        sqlite3_free(expanded);
    }
    return 0;
}

int installTrace(sqlite3* db, const char**, const sqlite3_api_routines*) {
    sqlite3_trace_v2(db, SQLITE_TRACE_STMT, traceStatement, nullptr);
    return SQLITE_OK;
}

// Waits until everything queued so far through the facade's operations has
// been handled by the engine's worker queue.
bool waitForTheEngine() {
    struct Marker {
        std::mutex mutex;
        std::condition_variable reached;
        bool done = false;
    };
    auto marker = std::make_shared<Marker>();
    APMAnalytics::queueOperationWithBlock([marker] {
        auto reach = [marker] {
            {
                std::lock_guard lock(marker->mutex);
                marker->done = true;
            }
            marker->reached.notify_all();
        };
        if (auto engine = APMMeasurement::sharedInstance()) {
            engine->scheduler()->scheduleOnWorkerQueue("bench", reach);
        } else {
            reach();
        }
    });
    std::unique_lock lock(marker->mutex);
    return marker->reached.wait_for(lock, std::chrono::seconds(60), [&] { return marker->done; });
}

struct Figures {
    double eventsPerSecond = 0;
    double cpuMicrosPerEvent = 0;
};
Figures gEngine;
Figures gReplay;
std::string gEngineDatabase;

void ThreadedEventRoad(benchmark::State& state) {
    APMAnalytics::startWithAppID("1:1234:macos:abcd", "fa", {});
    auto offerBatch = [&] {
        for (int i = 0; i < kBatch; ++i) APMAnalytics::logEventWithName("level_up", eventParameters());
        return waitForTheEngine();
    };
    // Warm up: the start, its own events, and the first batch.
    if (!offerBatch()) {
        state.SkipWithError("the engine did not finish the events");
        return;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(benchFolder())) {
        if (entry.path().filename() == kDatabaseName) gEngineDatabase = entry.path().string();
    }
    if (gEngineDatabase.empty()) {
        state.SkipWithError("the engine made no database file");
        return;
    }
    std::int64_t events = 0;
    double seconds = 0;
    double cpu = 0;
    for (auto _ : state) {
        const auto wallStart = std::chrono::steady_clock::now();
        const double cpuStart = processCPUSeconds();
        if (!offerBatch()) {
            state.SkipWithError("the engine did not finish the events");
            return;
        }
        cpu += processCPUSeconds() - cpuStart;
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        events += kBatch;
    }
    state.SetItemsProcessed(events);
    gEngine = {static_cast<double>(events) / seconds, cpu / static_cast<double>(events) * 1e6};

    // Two more events, each alone, with their statements captured.
    {
        std::lock_guard lock(gCapture.mutex);
        gCapture.capturing = true;
    }
    bool finished = true;
    for (int i = 0; i < kCapturedEvents; ++i) {
        APMAnalytics::logEventWithName("level_up", eventParameters());
        finished = finished && waitForTheEngine();
    }
    std::lock_guard lock(gCapture.mutex);
    gCapture.capturing = false;
    if (!finished || gCapture.statements.empty()) state.SkipWithError("no statements were captured");
}

void PlainCReplay(benchmark::State& state) {
    std::vector<std::string> setup;
    std::vector<std::string> statements;
    {
        std::lock_guard lock(gCapture.mutex);
        setup = gCapture.setup;
        statements = gCapture.statements;
    }
    if (statements.empty() || gEngineDatabase.empty()) {
        state.SkipWithError("nothing was captured from the engine");
        return;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(gEngineDatabase.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        state.SkipWithError("the engine's database did not open");
        return;
    }
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    for (const std::string& sql : setup) sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    std::vector<sqlite3_stmt*> prepared;
    for (const std::string& sql : statements) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
            state.SkipWithError(sqlite3_errmsg(db));
            break;
        }
        prepared.push_back(stmt);
    }
    std::int64_t events = 0;
    double seconds = 0;
    double cpu = 0;
    if (prepared.size() == statements.size()) {
        for (auto _ : state) {
            const auto wallStart = std::chrono::steady_clock::now();
            const double cpuStart = processCPUSeconds();
            for (int i = 0; i < kBatch / kCapturedEvents; ++i) {
                for (sqlite3_stmt* stmt : prepared) {
                    while (sqlite3_step(stmt) == SQLITE_ROW) {
                    }
                    sqlite3_reset(stmt);
                }
            }
            cpu += processCPUSeconds() - cpuStart;
            seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
            events += kBatch;
        }
    }
    for (sqlite3_stmt* stmt : prepared) sqlite3_finalize(stmt);
    sqlite3_close(db);
    state.SetItemsProcessed(events);
    if (events > 0) gReplay = {static_cast<double>(events) / seconds, cpu / static_cast<double>(events) * 1e6};
}

// The engine first: the replay runs what it captured, on its file.
// Fixed iterations: each runs once per process (the engine starts once).
BENCHMARK(ThreadedEventRoad)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(PlainCReplay)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void printFigures(const TimesReporter::Times&) {
    std::printf("statements per event: %zu\n", gCapture.statements.size() / kCapturedEvents);
    if (std::getenv("BENCH_SHOW_STATEMENTS")) {
        for (const std::string& sql : gCapture.statements) std::printf("  %.160s\n", sql.c_str());
    }
    std::printf("threaded road: %.0f events/s taken in, %.1f us CPU/event\n", gEngine.eventsPerSecond,
                gEngine.cpuMicrosPerEvent);
    std::printf("plain-C replay: %.0f events/s, %.1f us CPU/event\n", gReplay.eventsPerSecond,
                gReplay.cpuMicrosPerEvent);
    if (gReplay.cpuMicrosPerEvent > 0) {
        std::printf("CPU per event, threaded road / plain-C replay: %.2f\n",
                    gEngine.cpuMicrosPerEvent / gReplay.cpuMicrosPerEvent);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Every folder the analytics use lies in the bench's own.
    for (const char* variable : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
        setenv(variable, (benchFolder() / variable).c_str(), 1);
    }
    // An empty resources folder: the application's resources, once built
    // beside the bench, hold a service file that would defer the start.
    std::filesystem::create_directories(benchFolder() / "resources");
    setenv("MOSSBRIDGE_RESOURCES", (benchFolder() / "resources").c_str(), 1);
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(installTrace));
    benchmark::Initialize(&argc, argv);
    APMStoredMessageCodec::install(std::make_shared<APMWireStoredMessageCodec>());
    // The road is measured, not the terminal: shown lines go nowhere.
    APMMonitor::Options options;
    options.sink = [](const std::string&) {};
    APMMonitor::resetSharedForTesting(std::make_shared<APMMonitor>(std::move(options)));
    TimesReporter reporter(printFigures);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::fflush(stdout);
    std::error_code ignored;
    std::filesystem::remove_all(benchFolder(), ignored);
    // The engine and the facade live on the process's dispatcher until exit.
    std::_Exit(0);
}
