// The remote configuration fetch: a conditional GET on the network client
// and the handling of its answer.

#include <span>

#include "measurement/engine/APMMeasurement.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/interface/APMTCFClient.h"
#include "measurement/messages/MeasurementConfigAcceptance.h"
#include "measurement/rules/APMPRuntime.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMScheduler.h"

namespace {

// Larger bodies are refused before decoding: no configuration comes near it,
// and decoding holds the whole message in memory at once.
constexpr std::size_t kMaxConfigurationBodyBytes = 2 * 1024 * 1024;

std::string errorText(const std::optional<VULError>& error) {
    return error ? error->description() : std::string("(null)");
}

// A validator the server sent, kept only when it may go into a later header.
std::optional<std::string> safeValidator(const VULHTTPResponse& response, const char* header) {
    auto value = response.valueForHTTPHeaderField(header);
    if (!value || !APMIsSafeHeaderValue(*value)) return std::nullopt;
    return value;
}

}  // namespace

void APMMeasurement::fetchRemoteConfig() {
    const auto& log = monitor();
    const auto config = remoteConfigInstance();
    const std::int64_t libraryVersion = APMIdentity::varUradazaduroLibraryVersion();
    const std::optional<std::string> url =
        config ? config->remoteConfigURLWithPlatform("macos", libraryVersion,
                                                     measurement::rules::APMPRuntime::runtimeVersion())
               : std::nullopt;
    if (!url || !network_) {
        log->log(2, 23125, "Invalid server URL to get configuration");
        return;
    }
    log->log(8, 23126, "Fetching configuration from the server");
    VULHTTPHeaders headers;
    if (persistedConfig_->configVAZVersion() == libraryVersion) {
        // The stored validators came from a server answer: checked again here.
        if (auto modified = persistedConfig_->configServerLastModifiedString();
            modified && !modified->empty() && APMIsSafeHeaderValue(*modified)) {
            headers["If-Modified-Since"] = *modified;
        }
        if (auto etag = persistedConfig_->configServerETag(); etag && !etag->empty() && APMIsSafeHeaderValue(*etag)) {
            headers["If-None-Match"] = *etag;
        }
    }
    isNetworkRequestPending_ = true;
    network_->setTimeoutInterval(config->networkTimeout());
    (void)network_->getURL(
        *url, headers, scheduler_->workerQueue(), shouldUseBackgroundSession(),
        [weak = weak_from_this()](const std::optional<VULHTTPResponse>& response, const std::optional<VULData>& data,
                                  const std::optional<VULError>& error) {
            auto self = weak.lock();
            if (!self) return;
            self->isNetworkRequestPending_ = false;
            self->networkRemoteConfigFetchCompletionHandler(response, data, error);
        });
    // A request that could not be made has already been answered on the
    // worker queue with an error: the failure path below handles it.
}

void APMMeasurement::networkRemoteConfigFetchCompletionHandler(const std::optional<VULHTTPResponse>& response,
                                                               const std::optional<VULData>& data,
                                                               const std::optional<VULError>& error) {
    const auto& log = monitor();
    const double now = this->now();
    const long status = response ? response->statusCode : 0;
    log->log(8, 23127, "Fetched configuration. Status code", status);
    const bool fetched = status == 200 || status == 204;
    const bool notModified = status == 304;
    const bool notFound = status == 404;
    if (!fetched && !notModified && !notFound) {
        log->log(3, 23128, "Network request failed to fetch remote config. Code, Error", status, errorText(error));
        persistedConfig_->setLastFailedUploadTimestamp(now);
        if (status == 503 || status == 429) persistedConfig_->setLastBackoffTimestamp(now);
        log->log(3, 23129, "Network fetch failed. Will retry later. Code, error", status, errorText(error));
        updateSchedule();
        return;
    }
    persistedConfig_->setLastFailedUploadTimestamp(0);
    persistedConfig_->setLastBackoffTimestamp(0);
    if (notModified) {
        log->log(8, 23131, "Configuration has not been modified. Using the same configuration. Code", status);
    } else if (notFound) {
        log->log(3, 23130, "Configuration not found. Using default configuration");
    } else {
        log->log(8, 23133, "Successfully fetched configuration from the server. Code, size", status,
                 static_cast<long long>(response->expectedContentLength));
    }
    const auto database = this->database();
    APMError timestampError;
    const bool renewed = database && database->updateRemoteConfigSuccessfulTimestamp(now, &timestampError);
    if (!renewed) {
        if (!database) timestampError = APMError::withCode(0, "The measurement database is not open");
        log->log(1, fetched ? 23134 : 23132,
                 fetched ? "Failed to set last set timestamp in database. Error"
                         : "Failed to update config last set timestamp. Error",
                 timestampError);
        suspendedUploadTimestamp_ = uptime();
    } else {
        suspendedUploadTimestamp_ = 0;
    }
    if (fetched && data && !data->empty()) storeRemoteConfigFromBody(status, &*response, *data);

    updateAdsOnDeviceConversionMeasurement();
    updateODFIDs();
    updateAdsOnDeviceConversionGroupInfo();
    const auto config = configuration();
    if (config->PSMGroupIDEnabled()) initiateODMGroupIDProtocol();
    if (shouldRequestDeferredDeepLinkAfterConfigFetch_) {
        shouldRequestDeferredDeepLinkAfterConfigFetch_ = false;
        requestDeferredDeepLink();
    } else {
        uploadDataOrRegisterAlarm();
    }
    if (auto tcf = tcfClient()) tcf->setIsDMARegion(config->isDMARegion());
}

void APMMeasurement::storeRemoteConfigFromBody(long, const VULHTTPResponse* response, const VULData& body) {
    const auto database = this->database();
    const auto config = remoteConfigInstance();
    const auto identity = this->identity();
    if (!database || !config) return;
    const bool committed = performCommittedTransaction(*database, [&] {
        if (body.size() > kMaxConfigurationBodyBytes) {
            monitor()->log(2, 23135, "Configuration data is invalid.");
            return false;
        }
        const std::string appID = identity ? identity->appIDFromVAZ().value_or("") : std::string();
        std::optional<APMAcceptedMeasurementConfig> accepted =
            APMAcceptMeasurementConfig(std::span<const std::uint8_t>(body.data(), body.size()), appID);
        if (!accepted) return false;  // 23135 / 23136 logged
        if (!config->updateMeasurementConfig(accepted->config)) {
            monitor()->log(2, 23138, "Failed to update configuration with new server configuration",
                           static_cast<long long>(body.size()));
            return false;
        }
        // The consent defaults come with the configuration: applied only
        // once it is stored.
        whenCommitted([this] { updateConsentSettingsUtilWithRemoteConfig(); });
        const auto audience = this->audience();
        if (!audience || !audience->updateAudiences(accepted->audiences)) {
            monitor()->log(2, 23137, "Failed to update audiences with new server configuration",
                           static_cast<long long>(body.size()));
            return false;
        }
        return true;
    });
    if (!committed) {
        // The stored configuration rolled back; the one in force must match it.
        config->reloadFromDatabase();
        return;
    }
    persistedConfig_->setConfigServerLastModifiedString(safeValidator(*response, "Last-Modified"));
    persistedConfig_->setConfigServerETag(safeValidator(*response, "ETag"));
    persistedConfig_->setConfigVAZVersion(APMIdentity::varUradazaduroLibraryVersion());
}
