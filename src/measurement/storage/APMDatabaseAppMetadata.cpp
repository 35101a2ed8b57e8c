// The single app_metadata row (rowid 1): bundle and delivery indexes, bundle
// times, daily counts and the stored remote configuration. The row is made
// with the schema, so an update that changes no row is a failure, never a
// silent loss.

#include "measurement/storage/APMDatabase.h"

#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMStoredMessageCodec.h"

bool APMDatabase::updateAppMetadataRow(const std::string& assignments, const APMSqliteStore::Parameters& parameters,
                                       APMError* error) {
    auto changed = store_->execute("UPDATE app_metadata SET " + assignments + " WHERE rowid = 1", parameters);
    if (changed.failed()) {
        if (error) *error = *changed.error;
        return false;
    }
    if (*changed.value == 0) {
        APMMonitor::shared()->log(1, 12052, "App metadata row is missing. Update not stored");
        APMSetError(error, kAPMDatabaseErrorRowMissing, "App metadata row is missing");
        return false;
    }
    return true;
}

APMResult<APMSqliteRow> APMDatabase::appMetadataRow() {
    auto row = store_->firstRow("SELECT * FROM app_metadata WHERE rowid = 1", {});
    if (!row.failed() && !row.value) {
        return APMResult<APMSqliteRow>::failure(
            APMError::withCode(kAPMDatabaseErrorRowMissing, "App metadata row is missing"));
    }
    return row;
}

namespace {

APMError unreadableMetadata() {
    return APMError::withCode(kAPMDatabaseErrorInvalidData, "App metadata row has missing or mistyped columns");
}

}  // namespace

APMResult<APMDailyCounts> APMDatabase::dailyCounts() {
    using Result = APMResult<APMDailyCounts>;
    auto row = appMetadataRow();
    if (row.failed()) return Result::failure(*row.error);
    const char* columns[] = {"day",
                             "daily_conversions_count",
                             "daily_events_count",
                             "daily_public_events_count",
                             "daily_error_events_count",
                             "daily_realtime_events_count",
                             "daily_dcu_realtime_events_count"};
    std::int32_t values[7];
    for (int i = 0; i < 7; ++i) {
        auto value = row.value->integer(columns[i]);
        if (!value || *value < INT32_MIN || *value > INT32_MAX) return Result::failure(unreadableMetadata());
        values[i] = static_cast<std::int32_t>(*value);
    }
    return Result::success(APMDailyCounts(values[0], values[1], values[2], values[3], values[4], values[5], values[6]));
}

bool APMDatabase::updateDailyCounts(const APMDailyCounts& counts, APMError* error) {
    return updateAppMetadataRow(
        "day = ?, daily_conversions_count = ?, daily_events_count = ?, daily_public_events_count = ?, "
        "daily_error_events_count = ?, daily_realtime_events_count = ?, daily_dcu_realtime_events_count = ?",
        {std::int64_t{counts.day()}, std::int64_t{counts.conversionsCount()}, std::int64_t{counts.allEventsCount()},
         std::int64_t{counts.publicEventsCount()}, std::int64_t{counts.errorEventsCount()},
         std::int64_t{counts.realtimeCount()}, std::int64_t{counts.dcuRealtimeCount()}},
        error);
}

APMResult<APMAppMetadata> APMDatabase::queryAppMetadata() {
    using Result = APMResult<APMAppMetadata>;
    auto row = appMetadataRow();
    if (row.failed()) return Result::failure(*row.error);
    auto bundleIndex = row.value->integer("last_bundle_index");
    auto deliveryIndex = row.value->integer("last_delivery_index");
    auto bundleStart = row.value->real("last_bundle_start_timestamp");
    auto bundleEnd = row.value->real("last_bundle_end_timestamp");
    auto diagnostics = row.value->real("last_diagnostics_upload_timestamp");
    if (!bundleIndex || !deliveryIndex || !bundleStart || !bundleEnd || !diagnostics) {
        return Result::failure(unreadableMetadata());
    }
    return Result::success(APMAppMetadata{*bundleIndex, *deliveryIndex, *bundleStart, *bundleEnd, *diagnostics});
}

bool APMDatabase::updateAppMetadata(const APMAppMetadata& metadata, APMError* error) {
    return updateAppMetadataRow(
        "last_bundle_index = ?, last_delivery_index = ?, last_bundle_start_timestamp = ?, "
        "last_bundle_end_timestamp = ?, last_diagnostics_upload_timestamp = ?",
        {metadata.lastBundleIndex, metadata.lastDeliveryIndex, metadata.lastBundleStartTimestamp,
         metadata.lastBundleEndTimestamp, metadata.lastDiagnosticsUploadTimestamp},
        error);
}

bool APMDatabase::updateRemoteConfig(const APMBytes& encodedConfig, APMError* error) {
    if (encodedConfig.empty()) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Invalid measurement config data");
        return false;
    }
    auto messages = codec(error);
    if (!messages) return false;
    auto appID = messages->measurementConfigAppID(encodedConfig);
    if (!appID) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Invalid measurement config data");
        return false;
    }
    if (appID->empty()) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Missing Vadova app ID in measurement configuration");
        return false;
    }
    return updateAppMetadataRow("remote_config_data = ?, remote_config_timestamp = ?", {encodedConfig, now()}, error);
}

APMResult<APMBytes> APMDatabase::queryMeasurementConfig() {
    using Result = APMResult<APMBytes>;
    auto row = store_->firstRow("SELECT remote_config_data FROM app_metadata LIMIT 1", {});
    if (row.failed()) return Result::failure(*row.error);
    if (!row.value || row.value->isNull("remote_config_data")) return Result::none();
    auto data = row.value->blob("remote_config_data");
    if (data && data->empty()) return Result::none();
    APMError error;
    auto messages = codec(&error);
    if (!messages) return Result::failure(error);
    if (!data || !messages->measurementConfigAppID(*data)) {
        return Result::failure(APMError::withCode(kAPMDatabaseErrorInvalidData, "Remote config data is corrupted"));
    }
    return Result::success(std::move(*data));
}

APMResult<double> APMDatabase::lastRemoteConfigUpdateTimestamp() {
    return queryReal("SELECT remote_config_timestamp FROM app_metadata WHERE rowid = 1", {});
}

bool APMDatabase::updateRemoteConfigSuccessfulTimestamp(double timestamp, APMError* error) {
    return updateAppMetadataRow("remote_config_timestamp = ?", {timestamp}, error);
}
