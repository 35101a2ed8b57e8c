// On-device measurement values: one odm_values row per name.

#include "measurement/storage/APMDatabase.h"

APMResult<APMODMValue> APMDatabase::ODMValueWithName(const std::string& name) {
    using Result = APMResult<APMODMValue>;
    auto row = store_->firstRow("SELECT value, set_timestamp FROM odm_values WHERE name = ?", {name});
    if (row.failed()) return Result::failure(*row.error);
    if (!row.value) return Result::none();
    auto value = row.value->text("value");
    auto timestamp = row.value->real("set_timestamp");
    if (!value || !timestamp) {
        return Result::failure(
            APMError::withCode(kAPMDatabaseErrorInvalidData, "On-device measurement value row has mistyped columns"));
    }
    return Result::success(APMODMValue{std::move(*value), *timestamp});
}

APMResult<bool> APMDatabase::containsODMValues() {
    return existsInTable("odm_values", "SELECT EXISTS (SELECT 1 FROM odm_values)", {});
}

bool APMDatabase::updateODMValue(const std::string& value, const std::string& name, double setTimestamp,
                                 APMError* error) {
    if (name.empty()) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Received empty on-device measurement value name");
        return false;
    }
    return store_->upsertRecord(APMSqliteRow{{"name", name}, {"set_timestamp", setTimestamp}, {"value", value}},
                                "odm_values", error);
}

bool APMDatabase::deleteODMValueWithName(const std::string& name, APMError* error) {
    if (name.empty()) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Received empty on-device measurement value name");
        return false;
    }
    return store_->deleteRecordFromTable("odm_values", "name", name, error);
}
