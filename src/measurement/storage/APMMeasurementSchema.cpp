#include "measurement/storage/APMMeasurementSchema.h"

#include "measurement/storage/APMSqliteStore.h"

namespace {

// Version 1: every table of the measurement database. Raw events and the
// upload queue keep their insertion order in the implicit rowid.
const char* const kVersion1 = R"SQL(
CREATE TABLE IF NOT EXISTS queue (
    data BLOB NOT NULL,
    bundle_end_timestamp INTEGER NOT NULL,
    is_realtime INTEGER NOT NULL DEFAULT 0,
    retry_count INTEGER NOT NULL DEFAULT 0,
    events_count INTEGER NOT NULL DEFAULT 1);
CREATE INDEX IF NOT EXISTS queue_bundle_end_timestamp ON queue (bundle_end_timestamp);
CREATE INDEX IF NOT EXISTS queue_realtime ON queue (is_realtime) WHERE is_realtime = 1;

CREATE TABLE IF NOT EXISTS raw_events (
    name TEXT NOT NULL,
    timestamp REAL NOT NULL,
    metadata_fingerprint INTEGER NOT NULL,
    data BLOB NOT NULL,
    realtime INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS raw_events_metadata_fingerprint ON raw_events (metadata_fingerprint);
CREATE INDEX IF NOT EXISTS raw_events_timestamp ON raw_events (timestamp);
CREATE INDEX IF NOT EXISTS raw_events_realtime ON raw_events (realtime) WHERE realtime = 1;

CREATE TABLE IF NOT EXISTS raw_events_metadata (
    metadata_fingerprint INTEGER NOT NULL PRIMARY KEY,
    metadata BLOB NOT NULL);

CREATE TABLE IF NOT EXISTS user_attributes (
    name TEXT NOT NULL PRIMARY KEY,
    origin TEXT NOT NULL,
    set_timestamp REAL NOT NULL,
    value BLOB NOT NULL);

CREATE TABLE IF NOT EXISTS events (
    name TEXT NOT NULL PRIMARY KEY,
    lifetime_count INTEGER NOT NULL,
    current_bundle_count INTEGER NOT NULL,
    current_session_count INTEGER NOT NULL,
    last_fire_timestamp REAL NOT NULL,
    last_bundled_timestamp REAL NOT NULL DEFAULT 0,
    last_bundled_day INTEGER NOT NULL DEFAULT 0,
    last_sampling_rate INTEGER NOT NULL DEFAULT 0,
    last_sampled_complex_event_id INTEGER,
    last_exempt_from_sampling INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS events_snapshot (
    name TEXT NOT NULL PRIMARY KEY,
    lifetime_count INTEGER NOT NULL,
    current_bundle_count INTEGER NOT NULL,
    current_session_count INTEGER NOT NULL,
    last_fire_timestamp REAL NOT NULL,
    last_bundled_timestamp REAL NOT NULL DEFAULT 0,
    last_bundled_day INTEGER NOT NULL DEFAULT 0,
    last_sampling_rate INTEGER NOT NULL DEFAULT 0,
    last_sampled_complex_event_id INTEGER,
    last_exempt_from_sampling INTEGER NOT NULL DEFAULT 0);

CREATE TABLE IF NOT EXISTS app_metadata (
    remote_config_data BLOB,
    remote_config_timestamp REAL,
    last_bundle_index INTEGER NOT NULL DEFAULT 0,
    last_delivery_index INTEGER NOT NULL DEFAULT 0,
    last_bundle_start_timestamp REAL NOT NULL DEFAULT 0,
    last_bundle_end_timestamp REAL NOT NULL DEFAULT 0,
    last_diagnostics_upload_timestamp REAL NOT NULL DEFAULT 0,
    last_stale_data_deletion_timestamp REAL NOT NULL DEFAULT 0,
    day INTEGER NOT NULL DEFAULT 0,
    daily_conversions_count INTEGER NOT NULL DEFAULT 0,
    daily_events_count INTEGER NOT NULL DEFAULT 0,
    daily_public_events_count INTEGER NOT NULL DEFAULT 0,
    daily_error_events_count INTEGER NOT NULL DEFAULT 0,
    daily_realtime_events_count INTEGER NOT NULL DEFAULT 0,
    daily_dcu_realtime_events_count INTEGER NOT NULL DEFAULT 0);

CREATE TABLE IF NOT EXISTS diagnostics_signals (
    signal_name TEXT NOT NULL,
    metadata TEXT NOT NULL,
    count INTEGER NOT NULL,
    PRIMARY KEY (signal_name, metadata));

CREATE TABLE IF NOT EXISTS subscriptions (subscription_id TEXT NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS purchase_transactions (fingerprint TEXT NOT NULL UNIQUE);

CREATE TABLE IF NOT EXISTS odm_values (
    name TEXT NOT NULL PRIMARY KEY,
    set_timestamp REAL NOT NULL,
    value TEXT NOT NULL);

CREATE TABLE IF NOT EXISTS conditional_properties (
    name TEXT NOT NULL PRIMARY KEY,
    origin TEXT NOT NULL,
    value BLOB NOT NULL,
    creation_timestamp REAL NOT NULL,
    active INTEGER NOT NULL,
    trigger_timeout REAL NOT NULL,
    triggered_timestamp REAL NOT NULL,
    time_to_live REAL NOT NULL,
    trigger_event_name TEXT,
    timed_out_event BLOB,
    triggered_event BLOB,
    expired_event BLOB);

CREATE TABLE IF NOT EXISTS event_filters (
    audience_id INTEGER NOT NULL,
    filter_id INTEGER NOT NULL,
    event_name TEXT NOT NULL,
    data BLOB NOT NULL,
    session_scoped INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY (audience_id, filter_id));
CREATE INDEX IF NOT EXISTS event_filters_event_name ON event_filters (event_name);

CREATE TABLE IF NOT EXISTS property_filters (
    audience_id INTEGER NOT NULL,
    filter_id INTEGER NOT NULL,
    property_name TEXT NOT NULL,
    data BLOB NOT NULL,
    session_scoped INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY (audience_id, filter_id));
CREATE INDEX IF NOT EXISTS property_filters_property_name ON property_filters (property_name);

CREATE TABLE IF NOT EXISTS audience_filter_values (
    audience_id INTEGER NOT NULL PRIMARY KEY,
    current_results BLOB,
    previous_results BLOB);
)SQL";

// Migration step N brings a file from version N-1 to N.
const std::vector<const char*>& migrationSteps() {
    static const std::vector<const char*> steps = {kVersion1};
    return steps;
}

}  // namespace

int APMMeasurementSchema::currentVersion() { return static_cast<int>(migrationSteps().size()); }

bool APMMeasurementSchema::migrate(APMSqliteStore& store, APMError* error) {
    auto version = store.firstRow("PRAGMA user_version", {});
    if (version.failed()) {
        if (error) *error = *version.error;
        return false;
    }
    std::int64_t current = version.value ? version.value->integer("user_version").value_or(0) : 0;
    for (std::int64_t step = current + 1; step <= currentVersion(); ++step) {
        APMError stepError;
        APMError transactionError;
        bool migrated = store.performTransaction(&transactionError, [&] {
            return store.executeScript(migrationSteps()[step - 1], &stepError) &&
                   store.executeScript("PRAGMA user_version = " + std::to_string(step), &stepError);
        });
        if (!migrated) {
            if (error) *error = stepError.code != 0 ? stepError : transactionError;
            return false;
        }
    }
    return ensureAppMetadataRow(store, error);
}

bool APMMeasurementSchema::ensureAppMetadataRow(APMSqliteStore& store, APMError* error) {
    auto inserted = store.execute("INSERT OR IGNORE INTO app_metadata (rowid) VALUES (1)", {});
    if (inserted.failed() && error) *error = *inserted.error;
    return !inserted.failed();
}

const std::vector<std::string>& APMMeasurementSchema::measurementTables() {
    static const std::vector<std::string> tables = {
        "queue",          "raw_events",    "raw_events_metadata",   "user_attributes",       "events",
        "events_snapshot", "app_metadata", "diagnostics_signals",   "subscriptions",         "purchase_transactions",
        "odm_values",     "conditional_properties", "event_filters", "property_filters", "audience_filter_values"};
    return tables;
}
