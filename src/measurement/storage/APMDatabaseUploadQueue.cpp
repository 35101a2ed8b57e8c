// The upload queue: gzip-compressed encoded bundles waiting for upload.

#include "measurement/storage/APMDatabase.h"

#include "VadovaUtilities/VULGzip.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMStoredMessageCodec.h"

namespace {

// The retry count is a 32-bit field of the bundle; it stops at the ceiling.
constexpr std::int64_t kRetryCountCeiling = 2147483647;

}  // namespace

bool APMDatabase::insertBundle(const APMBytes& encodedBundle, bool isRealtime, APMError* error) {
    auto messages = codec(error);
    if (!messages) return false;
    auto facts = messages->bundleFacts(encodedBundle);
    if (!facts) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Failed to insert bundle that does not decode");
        return false;
    }
    if (!facts->hasAppID) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Failed to insert bundle without App ID");
        return false;
    }
    if (facts->endTimestamp.value_or(0) < 1) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Failed to insert bundle without valid timestamp");
        return false;
    }
    VULDataResult compressed = vul_dataByGzippingData(encodedBundle);
    if (!compressed.data) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument,
                    "Failed to compress bundle: " + (compressed.error ? compressed.error->description() : ""));
        return false;
    }
    std::int64_t events = std::max<std::int64_t>(static_cast<std::int64_t>(facts->eventCount), 1);
    return run("INSERT INTO queue (data, bundle_end_timestamp, is_realtime, retry_count, events_count) "
               "VALUES (?, ?, ?, ?, ?)",
               {std::move(*compressed.data), *facts->endTimestamp, std::int64_t{isRealtime},
                std::int64_t{facts->retryCount.value_or(0)}, events},
               error);
}

APMResult<std::vector<APMQueuedBundle>> APMDatabase::queryBundlesWithCountLimit(std::int64_t countLimit,
                                                                                std::int64_t sizeLimit) {
    using Result = APMResult<std::vector<APMQueuedBundle>>;
    APMError error;
    auto messages = codec(&error);
    if (!messages) return Result::failure(error);

    std::vector<APMQueuedBundle> bundles;
    std::vector<std::int64_t> unreadable;
    std::int64_t totalSize = 0;
    bool ran = store_->forEachRow(
        "SELECT rowid, data, retry_count FROM queue ORDER BY rowid ASC LIMIT ?", {std::max<std::int64_t>(countLimit, 0)},
        [&](const APMSqliteRow& row) {
            auto rowID = row.integer("rowid");
            auto data = row.blob("data");
            std::int64_t retryCount = row.integer("retry_count").value_or(0);
            std::optional<APMBytes> bundle;
            if (data) {
                VULDataResult inflated = vul_dataByInflatingGzippedData(*data);
                if (inflated.data) {
                    bundle = retryCount > 0 ? messages->bundleWithRetryCount(
                                                  *inflated.data, static_cast<std::int32_t>(std::min(retryCount, kRetryCountCeiling)))
                                            : (messages->bundleFacts(*inflated.data) ? inflated.data : std::nullopt);
                }
            }
            if (!bundle) {
                // A bundle that cannot be read back can never be uploaded.
                if (rowID) unreadable.push_back(*rowID);
                return true;
            }
            std::int64_t size = static_cast<std::int64_t>(bundle->size());
            if (!bundles.empty() && totalSize + size > sizeLimit) return false;
            totalSize += size;
            bundles.push_back(APMQueuedBundle{std::move(*bundle), *rowID});
            return true;
        },
        &error);
    if (!ran) return Result::failure(error);

    Result result = Result::success(std::move(bundles));
    if (!unreadable.empty()) {
        APMMonitor::shared()->log(1, 12051, "Unable to parse bundle from decompressed data. Deleting row IDs",
                                  static_cast<long long>(unreadable.size()));
        result.error = APMError::withCode(kAPMDatabaseErrorInvalidData, "Unable to parse bundle from decompressed data");
        // The unreadable rows are already reported in `result.error`; rows a
        // failed delete leaves behind are found and deleted by the next query.
        (void)deleteBundlesWithRowIDs(unreadable, nullptr);
    }
    return result;
}

bool APMDatabase::incrementRetryCounterForBundlesWithIDs(const std::vector<std::int64_t>& rowIDs, APMError* error) {
    if (rowIDs.empty()) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Received empty list of bundle IDs to update");
        return false;
    }
    APMSqliteStore::Parameters parameters{kRetryCountCeiling};
    std::string list = bindList(rowIDs, parameters);
    return run("UPDATE queue SET retry_count = retry_count + 1 WHERE retry_count < ? AND rowid IN (" + list + ")",
               parameters, error);
}

bool APMDatabase::deleteBundlesWithRowIDs(const std::vector<std::int64_t>& rowIDs, APMError* error) {
    if (rowIDs.empty()) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Received empty list of bundle IDs to delete");
        return false;
    }
    APMSqliteStore::Parameters parameters;
    std::string list = bindList(rowIDs, parameters);
    return run("DELETE FROM queue WHERE rowid IN (" + list + ")", parameters, error);
}

APMResult<double> APMDatabase::queryLatestBundleTime() {
    auto latest = queryInteger("SELECT MAX(bundle_end_timestamp) FROM queue", {});
    if (latest.failed()) return APMResult<double>::failure(*latest.error);
    if (!latest.value) return APMResult<double>::none();
    return APMResult<double>::success(static_cast<double>(*latest.value) / 1000.0);
}

APMResult<bool> APMDatabase::containsRealtimeBundles() {
    auto exists = queryInteger("SELECT EXISTS (SELECT 1 FROM queue WHERE is_realtime = 1)", {});
    if (exists.failed()) return APMResult<bool>::failure(*exists.error);
    return APMResult<bool>::success(exists.value.value_or(0) != 0);
}
