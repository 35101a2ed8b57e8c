// Diagnostics signals: a count per (signal name, metadata), taken away with
// the next bundle.

#include "measurement/storage/APMDatabase.h"

bool APMDatabase::incrementDiagnosticsSignalCountBy(std::int64_t count, const std::string& name,
                                                    const std::string& metadata, APMError* error) {
    if (name.empty()) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Received empty diagnostics signal name");
        return false;
    }
    return run("INSERT INTO diagnostics_signals (signal_name, metadata, count) VALUES (?, ?, ?) "
               "ON CONFLICT (signal_name, metadata) DO UPDATE SET count = count + excluded.count",
               {name, metadata, count}, error);
}

APMResult<std::vector<APMDiagnosticsSignal>> APMDatabase::consumeDiagnosticsSignals() {
    using Result = APMResult<std::vector<APMDiagnosticsSignal>>;
    std::vector<APMDiagnosticsSignal> signals;
    APMError error;
    bool consumed = runInTransaction(&error, [&](APMError* failure) {
        auto rows = store_->recordsForQuery("SELECT signal_name, metadata, count FROM diagnostics_signals ORDER BY rowid", {});
        if (rows.failed()) {
            *failure = *rows.error;
            return false;
        }
        for (const auto& row : *rows.value) {
            auto name = row.text("signal_name");
            auto metadata = row.text("metadata");
            auto count = row.integer("count");
            if (name && metadata && count) signals.push_back({std::move(*name), std::move(*metadata), *count});
        }
        return run("DELETE FROM diagnostics_signals", {}, failure);
    });
    if (!consumed) return Result::failure(error);
    return Result::success(std::move(signals));
}
