// Writing one event the way the engine does (one exclusive transaction:
// daily counts, the event's aggregates row, the metadata lookup, the storage
// cap and the raw event) against the practical limit: a plain prepared
// INSERT of the same raw-event row in its own transaction, on the same file
// with the same settings. Prints events per second and the ratio.

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include "BenchFolder.h"
#include "TimesReporter.h"

#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMDigest.h"

namespace {

const APMBytes kMetadata(180, 0x42);
const APMBytes kEvent(120, 0x17);

std::string databasePath() { return (benchFolder() / "vadova-app-measurement.sql").string(); }

void EngineEventWrite(benchmark::State& state) {
    APMError error;
    auto db = APMDatabase::openAtPath(databasePath(), &error);
    if (!db) {
        state.SkipWithError(error.text().c_str());
        return;
    }
    const std::int64_t fingerprint = APM64LSBMD5(kMetadata.data(), kMetadata.size());
    double timestamp = 1.7e9;
    for (auto _ : state) {
        timestamp += 0.001;
        bool committed = db->performTransaction([&] {
            auto counts = db->dailyCounts();
            if (!counts.value) return false;
            counts.value->incrementCountsForCurrentDay(19700, true, false);
            auto aggregates = db->eventAggregatesWithName("level_up");
            if (aggregates.failed()) return false;
            if (!aggregates.value) aggregates.value.emplace("level_up", 0, 0, 0, 0.0);
            aggregates.value->lastFireTimestamp = timestamp;
            return db->updateDailyCounts(*counts.value, nullptr) &&
                   db->updateEventAggregates(*aggregates.value, nullptr) &&
                   db->insertIfNotExistsRawEventMetadata(kMetadata, nullptr) &&
                   !db->deleteRawEventsOverAbsoluteLimit().failed() &&
                   db->insertRawEvent("level_up", timestamp, kEvent, fingerprint, false, nullptr);
        });
        if (!committed) state.SkipWithError("event write failed");
    }
    state.SetItemsProcessed(state.iterations());
}

void PlainPreparedInsert(benchmark::State& state) {
    // Opened through the store, so the file has the same pragmas and schema.
    APMError error;
    if (!APMDatabase::openAtPath(databasePath(), &error)) {
        state.SkipWithError(error.text().c_str());
        return;
    }
    sqlite3* db = nullptr;
    sqlite3_open_v2(databasePath().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    sqlite3_stmt *begin, *insert, *commit;
    sqlite3_prepare_v2(db, "BEGIN EXCLUSIVE TRANSACTION", -1, &begin, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO raw_events (name, timestamp, metadata_fingerprint, data, realtime) "
                       "VALUES (?, ?, ?, ?, 0)",
                       -1, &insert, nullptr);
    sqlite3_prepare_v2(db, "END TRANSACTION", -1, &commit, nullptr);
    double timestamp = 1.8e9;
    for (auto _ : state) {
        timestamp += 0.001;
        sqlite3_step(begin);
        sqlite3_reset(begin);
        sqlite3_bind_text(insert, 1, "level_up", -1, SQLITE_STATIC);
        sqlite3_bind_double(insert, 2, timestamp);
        sqlite3_bind_int64(insert, 3, 1);
        sqlite3_bind_blob(insert, 4, kEvent.data(), static_cast<int>(kEvent.size()), SQLITE_STATIC);
        if (sqlite3_step(insert) != SQLITE_DONE) state.SkipWithError(sqlite3_errmsg(db));
        sqlite3_reset(insert);
        sqlite3_step(commit);
        sqlite3_reset(commit);
    }
    sqlite3_finalize(begin);
    sqlite3_finalize(insert);
    sqlite3_finalize(commit);
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(EngineEventWrite);
BENCHMARK(PlainPreparedInsert);

void printRatios(const TimesReporter::Times& times) {
    const auto engine = times.find("EngineEventWrite");
    const auto plain = times.find("PlainPreparedInsert");
    if (engine == times.end() || plain == times.end() || plain->second <= 0 || engine->second <= 0) return;
    // Adjusted times are in nanoseconds per event.
    std::printf("engine event write: %.0f events/s\n", 1e9 / engine->second);
    std::printf("plain prepared insert: %.0f events/s\n", 1e9 / plain->second);
    std::printf("ratio, engine write / plain insert: %.2f\n", engine->second / plain->second);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    TimesReporter reporter(printRatios);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(benchFolder(), ignored);
    return 0;
}
