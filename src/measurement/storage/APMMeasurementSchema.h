#pragma once
// The measurement database's schema, in one place and versioned with
// "PRAGMA user_version": version N of a file is reached by running the
// migration steps 1..N in order, each in its own transaction together with
// the version bump, so a file is always at some complete version.

#include <string>
#include <vector>

#include "measurement/storage/APMError.h"

class APMSqliteStore;

struct APMMeasurementSchema {
    // The version this build writes.
    static int currentVersion();
    // Runs the missing migration steps. A file written by a newer build (a
    // higher version) is used as it is.
    [[nodiscard]] static bool migrate(APMSqliteStore& store, APMError* error);
    // Makes sure the single app_metadata row exists.
    [[nodiscard]] static bool ensureAppMetadataRow(APMSqliteStore& store, APMError* error);
    // The tables that a reset empties, in deletion order.
    static const std::vector<std::string>& measurementTables();
};
