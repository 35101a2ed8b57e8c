// One event written through the engine's worker-queue entry into a real
// database file (pipeline, limits, metadata, storage cap, raw event, one
// transaction) against the practical floor: one plain prepared INSERT per
// transaction of a blob of the same size into a fresh table that has only
// its rowid key, in another file with the same journal and synchronous
// settings. Runs on an empty store, half full, and filled to the storage cap
// (100,000 events, where every write also deletes the oldest); prints the
// ratio for each.

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include "BenchFolder.h"
#include "TimesReporter.h"

#include "measurement/engine/APMEngineWiring.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMStoredMessageCodec.h"
#include "platform/core/DeterministicDispatch.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/UserDefaults.h"

namespace {

// A fresh folder per run, so every case starts from its own files.
std::filesystem::path runFolder(const std::string& name) {
    const auto path = benchFolder() / name;
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path;
}

APMObjectParameters eventParameters() {
    return {{"level", platform::PropertyValue(12LL)},
            {"character", platform::PropertyValue("wizard")},
            {"score", platform::PropertyValue(1234.5)}};
}

std::size_t gEventBlobSize = 0;

void EngineEventWrite(benchmark::State& state) {
    const auto folder = runFolder("engine-" + std::to_string(state.range(0)));
    platform::DeterministicDispatcher dispatcher{1.7e9};
    platform::NotificationCenter center;
    auto persisted = std::make_shared<APMPersistedConfig>(
        std::make_shared<platform::UserDefaults>("bench", folder / "defaults"));
    APMMeasurementConfiguration config;
    config.dispatcher = &dispatcher;
    config.persistedConfig = persisted;
    config.makeNetwork = false;
    config.endpoints = APMServiceEndpoints{};
    config.notificationCenter = &center;
    config.uptime = [&] { return dispatcher.virtualClock().uptime(); };
    config.measurementDirectory = folder.string();
    config.identity = [&] { return APMIdentity::create(dispatcher, persisted, nullptr, nullptr); };
    const std::string path = (folder / "measurement.sql").string();
    config.openDatabase = [&](const std::string&, APMError* error) {
        return APMDatabase::openAtPath(path, error, &dispatcher.virtualClock());
    };
    auto engine = APMMeasurement::create("1:1234:macos:abcd", true, false, {}, std::move(config));
    dispatcher.drain();
    if (!engine || !engine->database()) {
        state.SkipWithError("the engine did not start");
        return;
    }
    double timestamp = 1.7e9;
    auto logOne = [&] {
        timestamp += 0.001;
        engine->logEventOnWorkerQueueWithOrigin("app", true, "level_up", eventParameters(), timestamp, true, false,
                                                false, nullptr, std::nullopt);
        dispatcher.drain();
    };
    // The store is filled with copies of a real row of this engine.
    logOne();
    // The start stored the engine's own events (first open) before it.
    auto rows = engine->database()->allRawEvents();
    if (!rows.value || rows.value->empty() || rows.value->back().name != "level_up") {
        state.SkipWithError("the first event was not stored");
        return;
    }
    const APMRawEventRecord row = rows.value->back();
    gEventBlobSize = row.data.size();
    const bool filled = engine->database()->performTransaction([&] {
        for (std::int64_t i = 1; i < state.range(0); ++i) {
            if (!engine->database()->insertRawEvent(row.name, row.timestamp, row.data, row.metadataFingerprint, false,
                                                    nullptr)) {
                return false;
            }
        }
        return true;
    });
    if (!filled) {
        state.SkipWithError("filling the store failed");
        return;
    }
    for (auto _ : state) logOne();
    state.SetItemsProcessed(state.iterations());
    engine.reset();
    dispatcher.drain();
}

void PlainPreparedInsert(benchmark::State& state) {
    const auto folder = runFolder("plain-" + std::to_string(state.range(0)));
    sqlite3* db = nullptr;
    sqlite3_open_v2((folder / "plain.sql").c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; CREATE TABLE plain (data BLOB)", nullptr,
                 nullptr, nullptr);
    const std::string blob(gEventBlobSize ? gEventBlobSize : 120, '\x17');
    sqlite3_stmt *begin, *insert, *commit;
    sqlite3_prepare_v2(db, "BEGIN EXCLUSIVE TRANSACTION", -1, &begin, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO plain (data) VALUES (?)", -1, &insert, nullptr);
    sqlite3_prepare_v2(db, "END TRANSACTION", -1, &commit, nullptr);
    auto insertOne = [&] {
        sqlite3_bind_blob(insert, 1, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
        const bool done = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
        return done;
    };
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (std::int64_t i = 0; i < state.range(0); ++i) (void)insertOne();
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    for (auto _ : state) {
        sqlite3_step(begin);
        sqlite3_reset(begin);
        if (!insertOne()) state.SkipWithError(sqlite3_errmsg(db));
        sqlite3_step(commit);
        sqlite3_reset(commit);
    }
    sqlite3_finalize(begin);
    sqlite3_finalize(insert);
    sqlite3_finalize(commit);
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations());
}

// The engine runs first so the baseline's blob has the engine's row size.
BENCHMARK(EngineEventWrite)->Arg(0)->Arg(50000)->Arg(100000);
BENCHMARK(PlainPreparedInsert)->Arg(0)->Arg(50000)->Arg(100000);

void printRatios(const TimesReporter::Times& times) {
    std::printf("event blob: %zu bytes\n", gEventBlobSize);
    for (const char* stored : {"0", "50000", "100000"}) {
        const auto engine = times.find(std::string("EngineEventWrite/") + stored);
        const auto plain = times.find(std::string("PlainPreparedInsert/") + stored);
        if (engine == times.end() || plain == times.end() || plain->second <= 0) continue;
        std::printf("%s stored: engine %.1f us/event, plain insert %.1f us/event, ratio %.2f\n", stored,
                    engine->second / 1000, plain->second / 1000, engine->second / plain->second);
    }
    const auto empty = times.find("EngineEventWrite/0");
    const auto full = times.find("EngineEventWrite/100000");
    if (empty != times.end() && full != times.end() && empty->second > 0) {
        std::printf("engine write at the cap / empty: %.2f\n", full->second / empty->second);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    APMStoredMessageCodec::install(std::make_shared<APMWireStoredMessageCodec>());
    // The write is measured, not the terminal: shown lines go nowhere.
    APMMonitor::Options options;
    options.sink = [](const std::string&) {};
    APMMonitor::resetSharedForTesting(std::make_shared<APMMonitor>(std::move(options)));
    TimesReporter reporter(printRatios);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(benchFolder(), ignored);
    return 0;
}
