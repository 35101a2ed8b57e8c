// The upload queue: gzip-compressed encoded bundles waiting for upload.

#include "measurement/storage/APMDatabase.h"

#include <zlib.h>

#include <algorithm>

#include "VadovaUtilities/VULGzip.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMStoredMessageCodec.h"

namespace {

// The retry count is a 32-bit field of the bundle; it stops at the ceiling.
constexpr std::int64_t kRetryCountCeiling = 2147483647;

// Inflates one stored row, refusing it once its output would pass the
// bundle cap: a damaged or hostile row must not be able to claim more memory
// than the largest bundle the queue accepts.
std::optional<APMBytes> inflateWithinCap(const APMBytes& compressed) {
    if (compressed.empty() || compressed.size() > kAPMMaxQueuedBundleBytes) return std::nullopt;
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 32) != Z_OK) return std::nullopt;
    stream.next_in = const_cast<Bytef*>(compressed.data());
    stream.avail_in = static_cast<uInt>(compressed.size());  // below the cap, so below UINT_MAX
    APMBytes result;
    std::uint8_t chunk[16384];
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        stream.next_out = chunk;
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) break;
        const std::size_t produced = sizeof chunk - stream.avail_out;
        if (result.size() + produced > kAPMMaxQueuedBundleBytes) break;
        result.insert(result.end(), chunk, chunk + produced);
    }
    const bool complete = status == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    if (!complete) return std::nullopt;
    return result;
}

}  // namespace

bool APMDatabase::insertBundle(const APMBytes& encodedBundle, bool isRealtime, APMError* error) {
    if (encodedBundle.size() > kAPMMaxQueuedBundleBytes) {
        APMSetError(error, kAPMDatabaseErrorTooLarge, "Failed to insert bundle larger than the queue's limit");
        return false;
    }
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
        APMSetError(error, kAPMDatabaseErrorCompression,
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
                                                                                std::int64_t sizeLimit,
                                                                                std::int64_t* discardedRows) {
    using Result = APMResult<std::vector<APMQueuedBundle>>;
    if (discardedRows) *discardedRows = 0;
    APMError error;
    auto messages = codec(&error);
    if (!messages) return Result::failure(error);

    std::vector<APMQueuedBundle> bundles;
    std::vector<std::int64_t> unreadable;
    std::int64_t totalSize = 0;
    // Unreadable rows do not count against the limit, so they never shadow
    // the readable rows behind them.
    bool ran = store_->forEachRow(
        "SELECT rowid, data, retry_count FROM queue ORDER BY rowid ASC", {},
        [&](const APMSqliteRow& row) {
            if (static_cast<std::int64_t>(bundles.size()) >= countLimit) return false;
            auto rowID = row.integer("rowid");
            if (!rowID) return true;
            auto data = row.blob("data");
            std::int64_t retryCount = row.integer("retry_count").value_or(0);
            std::optional<APMBytes> bundle;
            if (data) {
                std::optional<APMBytes> inflated = inflateWithinCap(*data);
                if (inflated) {
                    bundle = retryCount > 0 ? messages->bundleWithRetryCount(
                                                  *inflated, static_cast<std::int32_t>(std::min(retryCount, kRetryCountCeiling)))
                                            : (messages->bundleFacts(*inflated) ? inflated : std::nullopt);
                }
            }
            if (!bundle || bundle->size() > kAPMMaxQueuedBundleBytes) {
                // A bundle that cannot be read back can never be uploaded.
                unreadable.push_back(*rowID);
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
        if (discardedRows) *discardedRows = static_cast<std::int64_t>(unreadable.size());
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

