#include "measurement/storage/APMDatabase.h"

#include "measurement/storage/APMFilePaths.h"
#include "measurement/storage/APMMeasurementSchema.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMStoredMessageCodec.h"
#include "platform/core/Clock.h"

std::unique_ptr<APMDatabase> APMDatabase::open(const std::string& databaseName, APMError* error) {
    std::string path = APMMeasurementFilePath(databaseName);
    if (path.empty()) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Unable to find the measurement folder");
        return nullptr;
    }
    return openAtPath(path, error);
}

std::unique_ptr<APMDatabase> APMDatabase::openAtPath(const std::string& path, APMError* error,
                                                     platform::Clock* clock) {
    auto store = APMSqliteStore::open(path, error);
    if (!store) return nullptr;
    if (!APMMeasurementSchema::migrate(*store, error)) return nullptr;
    // Best effort: an unmarked file works the same, only backups may copy it.
    (void)APMExcludeFromBackup(path, nullptr);
    return std::unique_ptr<APMDatabase>(new APMDatabase(std::move(store), clock ? *clock : platform::systemClock()));
}

APMDatabase::APMDatabase(std::unique_ptr<APMSqliteStore> store, platform::Clock& clock)
    : store_(std::move(store)), clock_(clock) {}

APMDatabase::~APMDatabase() = default;

void APMDatabase::setStorageLimitsProvider(std::function<APMStorageLimits()> provider) {
    limitsProvider_ = std::move(provider);
}

double APMDatabase::now() const { return clock_.now(); }

APMStorageLimits APMDatabase::storageLimits() const { return limitsProvider_ ? limitsProvider_() : APMStorageLimits{}; }

std::shared_ptr<const APMStoredMessageCodec> APMDatabase::codec(APMError* error) const {
    auto installed = APMStoredMessageCodec::installed();
    if (!installed) APMSetError(error, kAPMDatabaseErrorInvalidArgument, "No stored-message codec is installed");
    return installed;
}

bool APMDatabase::performTransaction(const std::function<bool()>& block) {
    APMError error;
    if (store_->performTransaction(&error, block)) return true;
    APMMonitor::shared()->log(1, 12056, "Transaction failed. %@", error.description);
    return false;
}

bool APMDatabase::runInTransaction(APMError* error, const std::function<bool(APMError* failure)>& block) {
    APMError inner;
    APMError outer;
    if (store_->performTransaction(&outer, [&] { return block(&inner); })) return true;
    if (error) *error = inner.code != 0 ? inner : outer;
    return false;
}

bool APMDatabase::run(const std::string& sql, const APMSqliteStore::Parameters& parameters, APMError* error) {
    auto result = store_->execute(sql, parameters);
    if (result.failed() && error) *error = *result.error;
    return !result.failed();
}

APMResult<std::int64_t> APMDatabase::queryInteger(const std::string& sql,
                                                  const APMSqliteStore::Parameters& parameters) {
    auto row = store_->firstRow(sql, parameters);
    if (row.failed()) return APMResult<std::int64_t>::failure(*row.error);
    if (!row.value || row.value->size() == 0) return APMResult<std::int64_t>::none();
    return integerValue(*row.value, 0, sql);
}

APMResult<bool> APMDatabase::existsInTable(const std::string& table, const std::string& sql,
                                           const APMSqliteStore::Parameters& parameters) {
    std::string key = sql;
    for (const APMSqliteValue& parameter : parameters) {
        key += '\x1f';
        if (const auto* text = std::get_if<std::string>(&parameter)) {
            key += *text;
        } else if (const auto* integer = std::get_if<std::int64_t>(&parameter)) {
            key += std::to_string(*integer);
        } else {
            return queryExists(sql, parameters);  // not kept: no reader asks with other kinds
        }
    }
    return keptRead(keptExists_, table, key, [&] { return queryExists(sql, parameters); });
}

APMResult<bool> APMDatabase::queryExists(const std::string& sql, const APMSqliteStore::Parameters& parameters) {
    auto exists = queryInteger(sql, parameters);
    if (exists.failed()) return APMResult<bool>::failure(*exists.error);
    return APMResult<bool>::success(exists.value.value_or(0) != 0);
}

APMResult<double> APMDatabase::queryReal(const std::string& sql, const APMSqliteStore::Parameters& parameters) {
    auto row = store_->firstRow(sql, parameters);
    if (row.failed()) return APMResult<double>::failure(*row.error);
    if (!row.value || row.value->size() == 0) return APMResult<double>::none();
    return realValue(*row.value, 0, sql);
}

APMResult<std::int64_t> APMDatabase::integerValue(const APMSqliteRow& row, std::size_t column, const std::string& sql) {
    const APMSqliteValue& value = row.valueAt(column);
    if (const auto* integer = std::get_if<std::int64_t>(&value)) return APMResult<std::int64_t>::success(*integer);
    if (std::holds_alternative<std::monostate>(value)) return APMResult<std::int64_t>::none();
    return APMResult<std::int64_t>::failure(
        APMError::withCode(kAPMDatabaseErrorInvalidData, "Expected an integer from: " + sql));
}

APMResult<double> APMDatabase::realValue(const APMSqliteRow& row, std::size_t column, const std::string& sql) {
    if (row.isNull(row.nameAt(column))) return APMResult<double>::none();
    auto number = row.real(row.nameAt(column));
    if (!number) {
        return APMResult<double>::failure(APMError::withCode(kAPMDatabaseErrorInvalidData, "Expected a number from: " + sql));
    }
    return APMResult<double>::success(*number);
}

bool APMDatabase::upsertDataType(const APMSqliteRow& record, const std::string& table, const std::string& column,
                                 const APMSqliteValue& value, std::int64_t tableLimit, APMError* error) {
    auto exists = queryInteger("SELECT EXISTS (SELECT 1 FROM " + table + " WHERE " + column + " = ?)", {value});
    if (exists.failed()) {
        if (error) *error = *exists.error;
        return false;
    }
    if (exists.value.value_or(0) == 0) {
        auto count = queryInteger("SELECT COUNT(*) FROM " + table, {});
        if (count.failed()) {
            if (error) *error = *count.error;
            return false;
        }
        if (count.value.value_or(0) >= tableLimit) {
            APMSetError(error, kAPMDatabaseErrorTableFull, "Failed to insert data type. Table is full");
            return false;
        }
    }
    return store_->upsertRecord(record, table, error);
}

bool APMDatabase::reset(APMError* error) {
    return runInTransaction(error, [&](APMError* failure) {
        for (const auto& table : APMMeasurementSchema::measurementTables()) {
            if (!run("DELETE FROM " + table, {}, failure)) return false;
        }
        lastEnsuredMetadataFingerprint_.reset();
        return APMMeasurementSchema::ensureAppMetadataRow(*store_, failure);
    });
}

std::string APMDatabase::bindList(const std::vector<std::int64_t>& ids, APMSqliteStore::Parameters& parameters) {
    std::string placeholders;
    for (std::int64_t id : ids) {
        placeholders += placeholders.empty() ? "?" : ", ?";
        parameters.emplace_back(id);
    }
    return placeholders;
}
