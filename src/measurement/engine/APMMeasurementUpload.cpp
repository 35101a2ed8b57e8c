// Upload of bundles: one batch of the oldest queued bundles per request,
// posted gzip-compressed; the answer deletes them or counts a retry on each.

#include <cmath>

#include "measurement/engine/APMBundleConsent.h"
#include "measurement/engine/APMEngineWiring.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/BundleChecksum.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMScheduler.h"

namespace {

constexpr double kSuspensionSeconds = 3600;
// MeasurementBatch slots.
constexpr int kBatchBundlesSlot = 0;
constexpr int kBatchUploadSubdomainSlot = 2;
// Queue rows that can never be uploaded are dropped and counted under this signal.
constexpr const char* kDroppedBundleSignal = "bundle_dropped_count";
constexpr const char* kDroppedBundleUnreadable = "unreadable";

std::string errorText(const std::optional<VULError>& error) {
    return error ? error->description() : std::string("(null)");
}

bool nonEmpty(const std::optional<std::string>& text) { return text && !text->empty(); }

}  // namespace

void APMMeasurement::uploadData() {
    (void)scheduler_->checkOnBackgroundThread("uploadData");
    const auto& log = monitor();
    if (suspendedUploadTimestamp_ > 0) {
        updateSchedule();
        return;
    }
    // No upload leaves while a back-off answer of the server holds, whoever
    // starts it (resigning active, a timer armed before the answer). The
    // plan then lies at the back-off's end, strictly later than now, so
    // planning again here cannot make the timer spin.
    const double backoff =
        uploadTimeNotAfterNow(persistedConfig_->lastBackoffTimestamp(), &APMPersistedConfig::setLastBackoffTimestamp);
    if (backoff != 0 && now() - backoff < configuration()->uploadingBackoffInterval()) {
        log->log(8, 23990, "Upload back-off period has not ended. Ignoring upload request. Seconds",
                 backoff + configuration()->uploadingBackoffInterval() - now());
        updateSchedule();
        return;
    }
    log->log(8, 23033, "Starting data upload");
    if (!isNetworkReadyForRequest()) {
        log->log(8, 23034, "Network operation is pending. Ignoring upload request");
        return;
    }
    if (!network_ || !network_->isNetworkConnected()) {
        log->log(7, 23035, "Network not connected, ignoring upload request");
        updateSchedule();
        return;
    }
    const auto config = configuration();
    if (!config->isExpired()) {
        for (std::int32_t made = 0; made < configuration()->maxBundlesCreatedPerIteration(); ++made) {
            if (!bundleRawEvents()) break;
        }
    }

    const auto database = this->database();
    std::vector<BundleToUpload> queued;
    {
        std::int64_t discarded = 0;
        APMResult<std::vector<APMQueuedBundle>> read =
            database ? database->queryBundlesWithCountLimit(config->uploadMaxBundlesLimit(),
                                                            config->uploadMaxSizeLimitBytes(), &discarded)
                     : APMResult<std::vector<APMQueuedBundle>>::failure(
                           APMError::withCode(kAPMDatabaseErrorNotOpen, "The measurement database is not open"));
        if (!read.value) {
            log->log(1, 23036, "Failed to query bundles. Error",
                     read.error.value_or(APMError::withCode(0, "No answer")));
            terminateBackgroundTask();
            return;
        }
        std::vector<std::int64_t> undecodable;
        for (const APMQueuedBundle& row : *read.value) {
            if (auto bundle = APMPBMeasurementBundle::initWithBuffer(row.bundle)) {
                queued.emplace_back(std::move(bundle), row.rowID);
            } else {
                undecodable.push_back(row.rowID);
            }
        }
        if (!undecodable.empty()) {
            log->log(1, 12051, "Unable to parse bundle from decompressed data. Deleting row IDs",
                     static_cast<long long>(undecodable.size()));
            (void)removeBundlesFromDatabaseWithIDs(undecodable);  // logged there; the next query finds them again
        }
        discarded += static_cast<std::int64_t>(undecodable.size());
        if (discarded > 0) incrementOnWorkerQueueByCount(discarded, kDroppedBundleSignal, kDroppedBundleUnreadable);
    }
    if (queued.empty()) {
        (void)config->activateNewSnapshot();  // false: none was waiting
        log->log(8, 23037, "No data to upload");
        if (config->isExpired()) {
            fetchRemoteConfig();
        } else {
            terminateBackgroundTask();
        }
        return;
    }

    std::string url = config->uploadURL().value_or("");
    VULHTTPHeaders headers;
    const bool serverSideTagging = config->SVTMUploadEnabled();
    if (serverSideTagging) {
        const std::optional<std::string> svtmURL = config->SVTMUploadURL();
        if (!svtmURL) {
            log->log(1, 23263, "Unable to get a valid SVTM upload URL.");
            return;
        }
        url = *svtmURL;
        for (const auto& [name, value] : config->SVTMUploadHTTPHeaders().value_or(std::map<std::string, std::string>{})) {
            headers[name] = value;
        }
        for (const auto& [name, value] : SVTMPreviewHeaders().value_or(std::map<std::string, std::string>{})) {
            headers[name] = value;
        }
    }

    tcfClientSetConsentFromData();
    const std::string signals = APMConsentSettingsUtil::consentSignals();
    const bool gate = config->gateIDFAOnATTMASEnabled();
    const std::string diagnostics = APMConsentSettingsUtil::consentDiagnostics();
    const bool adUserDataDenied = APMConsentSettingsUtil::isAdUserDataDenied();
    std::shared_ptr<APMPBUserAttribute> npa;
    if (database) {
        if (APMResult<APMUserAttribute> stored = database->userAttributeWithName("_npa"); stored.value) {
            npa = protoUserAttribute(*stored.value);
        }
    }
    const auto identity = this->identity();
    bool overwrite = signals.find('0') != std::string::npos;
    for (auto& [bundle, rowID] : queued) {
        if (!overwrite) overwrite = bundleHasFirstOpenEvent(bundle.get());
        applyConsentIdentifiersToBundle(*bundle, signals, gate, identity.get(), overwrite);
        applyConsentFieldsToBundle(*bundle, diagnostics, adUserDataDenied, npa, config.get(), overwrite);
    }

    const double now = this->now();
    if (const double lastSuccess = persistedConfig_->lastSuccessfulUploadTimestamp(); lastSuccess != 0) {
        log->log(8, 23038, "Uploading events. Elapsed time since last successful upload (s)",
                 std::fabs(now - lastSuccess));
    }
    const std::optional<std::string> appID = APMPBGetString(*queued.front().first, MeasurementBundleSlot::AppID);
    std::optional<std::string> resettableDeviceID;
    std::optional<std::string> vendorDeviceID;
    for (const auto& [bundle, rowID] : queued) {
        if (auto id = APMPBGetString(*bundle, MeasurementBundleSlot::ResettableDeviceID); nonEmpty(id)) {
            resettableDeviceID = id;
            break;
        }
        if (auto id = APMPBGetString(*bundle, MeasurementBundleSlot::VendorDeviceID); nonEmpty(id)) {
            vendorDeviceID = id;
            break;
        }
    }
    const std::vector<BundleToUpload> filtered =
        filteredBundlesWithCompatibleAppID(appID, resettableDeviceID, vendorDeviceID, queued);

    const auto uploadTime = static_cast<std::int64_t>(now * 1000);
    const APMPBMeasurementBundle* reference = filtered.size() >= 2 ? filtered.front().first.get() : nullptr;
    const std::int64_t libraryVersion = APMIdentity::varUradazaduroLibraryVersion();
    const std::vector<std::string> dataControls = config->dataControls();
    std::vector<std::shared_ptr<APMPBMeasurementBundle>> batchBundles;
    std::vector<std::int64_t> bundleIDs;
    for (const auto& [bundle, rowID] : filtered) {
        APMPBSetInt64(*bundle, MeasurementBundleSlot::UploadLibraryVersion, libraryVersion);
        APMPBSetInt64(*bundle, MeasurementBundleSlot::UploadTimestamp, uploadTime);
        redactBundleFields(*bundle, dataControls, identity.get());
        // A bundle that cannot be encoded goes without a checksum; encoding
        // the batch below then fails and nothing is sent.
        if (config->checksumEnabled()) (void)APMSetBundleChecksum(*bundle);
        if (reference && bundle.get() != reference && !bundlesHaveSameConsentMetadata(reference, bundle.get())) break;
        batchBundles.push_back(bundle);
        bundleIDs.push_back(rowID);
    }
    auto batch = APMPBMeasurementBatch::initWithBuffer({});
    APMPBSetArray(*batch, kBatchBundlesSlot, APMPBArrayOfMessages(batchBundles));
    if (serverSideTagging) {
        if (auto subdomain = config->uploadSubdomain(); nonEmpty(subdomain)) {
            APMPBSetString(*batch, kBatchUploadSubdomainSlot, *subdomain);
        }
    }
    const std::optional<APMPBData> payload = batch->protoBuffer();
    log->log(7, 23039, "Measurement data sent to network. Timestamp (ms), data", static_cast<long long>(uploadTime),
             "bundles: " + std::to_string(batchBundles.size()) +
                 ", bytes: " + std::to_string(payload ? payload->length() : 0));
    if (!payload) {
        // Nothing can be sent; the rows stay queued for a later attempt.
        log->log(1, 23036, "Failed to query bundles. Error", APMError::withCode(0, "The batch cannot be encoded"));
        terminateBackgroundTask();
        return;
    }
    setUploadInProgressWithBundleIDs(bundleIDs);
    if (bundleIDs.empty()) return;

    persistedConfig_->setLastFailedUploadTimestamp(now);
    // The attempt counts as a retry of its bundles before it leaves, as the
    // failure time does: an error answer, a transport failure, a session
    // that cannot be made and a process that ends before the answer all
    // count once. A success deletes the rows with their counts.
    incrementRetryCounter();
    isNetworkRequestPending_ = true;
    network_->setTimeoutInterval(config->networkTimeout());
    const std::optional<std::string> session = network_->postURL(
        url, headers, payload->toVector(), scheduler_->workerQueue(), shouldUseBackgroundSession(),
        [weak = weak_from_this()](const std::optional<VULHTTPResponse>& response, const std::optional<VULData>&,
                                  const std::optional<VULError>& error) {
            auto self = weak.lock();
            if (!self) return;
            self->isNetworkRequestPending_ = false;
            self->networkUploadCompletionHandlerWithResponse(response, error);
        },
        // The status alone says whether the batch arrived.
        VULResponseBody::Unused);
    if (!session || session->empty()) {
        log->log(2, 23040, "Unable to create network session.");
        uploadingBundleIDs_.clear();
    }
}

std::vector<APMMeasurement::BundleToUpload> APMMeasurement::filteredBundlesWithCompatibleAppID(
    const std::optional<std::string>& appID, const std::optional<std::string>& resettableDeviceID,
    const std::optional<std::string>& vendorDeviceID, const std::vector<BundleToUpload>& bundlesToUpload) {
    if (nonEmpty(resettableDeviceID) && nonEmpty(vendorDeviceID)) {
        monitor()->log(2, 23042, "Bundle filter must not specify both resettableDeviceID and vendorDeviceID");
        return {};
    }
    const bool resettable = nonEmpty(resettableDeviceID);
    const std::optional<std::string>& deviceID = resettable ? resettableDeviceID : vendorDeviceID;
    const int deviceSlot = resettable ? MeasurementBundleSlot::ResettableDeviceID : MeasurementBundleSlot::VendorDeviceID;
    std::vector<BundleToUpload> compatible;
    for (const auto& pair : bundlesToUpload) {
        const std::optional<std::string> bundleDeviceID = APMPBGetString(*pair.first, deviceSlot);
        if (nonEmpty(bundleDeviceID) && nonEmpty(deviceID) && *bundleDeviceID != *deviceID) break;
        const std::optional<std::string> bundleAppID = APMPBGetString(*pair.first, MeasurementBundleSlot::AppID);
        if (!bundleAppID || !appID || *bundleAppID != *appID) break;
        compatible.push_back(pair);
    }
    return compatible;
}

void APMMeasurement::setUploadInProgressWithBundleIDs(const std::vector<std::int64_t>& bundleIDs) {
    if (bundleIDs.empty()) {
        monitor()->log(2, 23046, "Bundle list is empty. Cancelling upload");
        return;
    }
    if (!uploadingBundleIDs_.empty()) {
        monitor()->log(2, 23047, "Set uploading progress before finishing the previous upload");
        return;
    }
    uploadingBundleIDs_ = bundleIDs;
}

void APMMeasurement::networkUploadCompletionHandlerWithResponse(const std::optional<VULHTTPResponse>& response,
                                                                const std::optional<VULError>& error) {
    const auto& log = monitor();
    const long status = response ? response->statusCode : 0;
    const double now = this->now();
    if (status != 200 && status != 204) {
        persistedConfig_->setLastFailedUploadTimestamp(now);
        if (status == 503 || status == 429) persistedConfig_->setLastBackoffTimestamp(now);
        log->log(7, 23043, "Network upload failed. Will retry later. Code, error", status, errorText(error));
        uploadingBundleIDs_.clear();
        updateSchedule();
        return;
    }
    log->log(7, 23044, "Successful upload. Got network response. Code, size", status,
             static_cast<long long>(response->expectedContentLength));
    persistedConfig_->setLastSuccessfulUploadTimestamp(now);
    persistedConfig_->setLastFailedUploadTimestamp(0);
    persistedConfig_->setLastBackoffTimestamp(0);
    updateSchedule();
    if (!uploadingBundleIDs_.empty() && !removeBundlesFromDatabaseWithIDs(uploadingBundleIDs_)) {
        log->log(1, 23045, "Unable to delete uploaded bundles. Uploads will be suspended for seconds", kSuspensionSeconds);
        suspendedUploadTimestamp_ = uptime();
    } else {
        suspendedUploadTimestamp_ = 0;
    }
    uploadingBundleIDs_.clear();
    const bool connected = network_ && network_->isNetworkConnected();
    if ((connected && hasDataToUpload()) || configuration()->isExpired()) {
        uploadData();
    } else if (!sendPostponedPSMRequest()) {
        updateSchedule();
    }
}

void APMMeasurement::incrementRetryCounter() {
    // Nothing is in flight when the session could not be made: there is no
    // bundle to count, and the store refuses an empty list.
    if (uploadingBundleIDs_.empty()) return;
    const auto database = this->database();
    APMError error = APMError::withCode(kAPMDatabaseErrorNotOpen, "The measurement database is not open");
    if (!database || !database->incrementRetryCounterForBundlesWithIDs(uploadingBundleIDs_, &error)) {
        monitor()->log(2, 23166, "Failed to update the bundles' retry counts. Error", error);
    }
}

bool APMMeasurement::removeBundlesFromDatabaseWithIDs(const std::vector<std::int64_t>& bundleIDs) {
    const auto database = this->database();
    APMError error = APMError::withCode(kAPMDatabaseErrorNotOpen, "The measurement database is not open");
    if (!database || !database->deleteBundlesWithRowIDs(bundleIDs, &error)) {
        monitor()->log(1, 23122, "Failed to delete bundles from database. Error", error);
        return false;
    }
    return true;
}
