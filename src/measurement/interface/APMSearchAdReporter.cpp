#include "measurement/interface/APMSearchAdReporter.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "VeredodaCore/VRDOptions.h"
#include "measurement/interface/APMErrorEventLogging.h"
#include "measurement/interface/APMServiceURL.h"
#include "measurement/storage/APMMonitor.h"

namespace {

constexpr int kMaxAttempts = 10;
constexpr double kAttemptInterval = 86400;
constexpr double kRequestTimeout = 10;
constexpr const char* kTestDataID = "1234567890";

// The text of a string or number member; none when absent. `ok` turns false
// for a member of any other kind.
std::optional<std::string> stringMember(const nlohmann::json& object, const char* key, bool& ok) {
    const auto found = object.find(key);
    if (found == object.end()) return std::nullopt;
    if (found->is_string()) return found->get<std::string>();
    if (found->is_number()) return found->dump();
    ok = false;
    return std::nullopt;
}

}  // namespace

std::optional<std::string> APMSearchAdAttributionURL(const std::optional<std::string>& baseURL) {
    return baseURL ? APMServiceURLWithPath(*baseURL, "/api/v1/") : std::nullopt;
}

APMSearchAdReporter::Environment APMSearchAdReporter::environmentFromOptions(const std::optional<VRDOptions>& options) {
    Environment environment;
    environment.tokens = std::make_shared<platform::NoAttributionToken>();
    if (options) environment.attributionBaseURL = options->searchAdAttributionURL;
    return environment;
}

std::shared_ptr<APMSearchAdReporter> APMSearchAdReporter::create(platform::Dispatcher& dispatcher,
                                                                 platform::QueueRef workerQueue,
                                                                 std::shared_ptr<APMPersistedConfig> persistedConfig,
                                                                 Environment environment) {
    auto& monitor = *APMMonitor::shared();
    if (!workerQueue) {
        monitor.log(2, 32000, "Cannot init Search Ad reporter. Queue must be provided");
        return nullptr;
    }
    if (!persistedConfig) {
        monitor.log(2, 32001, "Cannot init Search Ad reporter. Persisted config must be provided");
        return nullptr;
    }
    if (persistedConfig->searchAdRetryCount() > kMaxAttempts - 1) return nullptr;
    if (persistedConfig->searchAdCampaignValue()) {
        monitor.log(7, 32002, "Search Ad campaign attribution was already reported. Do not start Search Ad Reporter.");
        return nullptr;
    }
    return std::shared_ptr<APMSearchAdReporter>(
        new APMSearchAdReporter(dispatcher, std::move(workerQueue), std::move(persistedConfig), std::move(environment)));
}

APMSearchAdReporter::APMSearchAdReporter(platform::Dispatcher& dispatcher, platform::QueueRef workerQueue,
                                         std::shared_ptr<APMPersistedConfig> persistedConfig, Environment environment)
    : dispatcher_(dispatcher),
      workerQueue_(std::move(workerQueue)),
      persistedConfig_(std::move(persistedConfig)),
      environment_(std::move(environment)),
      alarm_(std::make_unique<APMAlarm>(dispatcher, workerQueue_, "Search Ad campaign report alarm")) {
    if (!environment_.send) transport_ = std::make_shared<VULHTTPTransport>();
}

APMSearchAdReporter::~APMSearchAdReporter() { cancelScheduling(); }

bool APMSearchAdReporter::isSearchAdReporterEnabled() const { return enabled_; }
void APMSearchAdReporter::setSearchAdReporterEnabled(bool enabled) { enabled_ = enabled; }

bool APMSearchAdReporter::frameworkAvailable() const {
    return environment_.tokens && environment_.tokens->isAvailable();
}

std::optional<double> APMSearchAdReporter::scheduledTimestamp() const {
    return alarm_ ? alarm_->scheduledTimestamp() : std::nullopt;
}

void APMSearchAdReporter::start() {
    if (!frameworkAvailable()) {
        APMMonitor::shared()->log(7, 32014,
                                  "AdServices framework is not linked. Search Ad Attribution Reporter is disabled.");
        return;
    }
    scheduleSearchAdReport();
}

void APMSearchAdReporter::scheduleSearchAdReport() {
    auto& monitor = *APMMonitor::shared();
    if (!alarm_) {
        monitor.log(5, 32013, "Search Ad Campaign attribution alarm is already canceled");
        return;
    }
    if (!enabled_) {
        alarm_->cancel();
        return;
    }
    if (persistedConfig_->searchAdCampaignValue()) {
        monitor.log(7, 32004, "Search Ad report not scheduled. Search Ad campaign attribution was already reported.");
        cancelScheduling();
        return;
    }
    if (alarm_->scheduledTimestamp()) {
        monitor.log(5, 32005, "Search Ad Campaign attribution alarm is already scheduled");
        return;
    }
    if (persistedConfig_->searchAdRetryCount() < kMaxAttempts) {
        monitor.log(7, 32006, "Scheduling Search Ad Report timer");
        const double sinceLast =
            std::fabs(dispatcher_.clock().now() - persistedConfig_->lastSearchAdLookUpTimestamp());
        std::weak_ptr<APMSearchAdReporter> weak = weak_from_this();
        alarm_->runAfterDelay(kAttemptInterval - sinceLast, [weak] {
            if (const auto self = weak.lock()) self->maybeLogIAdCampaignEvent();
        });
        return;
    }
    monitor.log(5, 32007, "Search Ad Campaign attribution exceeds the max number of retries. Do not schedule again.");
    cancelScheduling();
}

void APMSearchAdReporter::maybeLogIAdCampaignEvent() {
    if (!frameworkAvailable()) return;
    persistedConfig_->setLastSearchAdLookUpTimestamp(dispatcher_.clock().now());
    fetchAttributionDetails();
    scheduleSearchAdReport();
}

void APMSearchAdReporter::fetchAttributionDetails() {
    persistedConfig_->setSearchAdRetryCount(persistedConfig_->searchAdRetryCount() + 1);
    if (!frameworkAvailable()) return;
    std::string error;
    const auto token = environment_.tokens->attributionToken(&error);
    if (!token) {
        APMMonitor::shared()->log(1, 32018, "Cannot send request for Search Ad campaign attribution. Error", error);
        return;
    }
    if (!token->empty()) requestAttributionPayloadWithToken(*token);
}

void APMSearchAdReporter::requestAttributionPayloadWithToken(const std::string& token) {
    if (token.empty()) return;
    const auto url = APMSearchAdAttributionURL(environment_.attributionBaseURL);
    if (!url) {
        // No acceptable attribution host in this deployment: nothing is sent
        // and the attempt counts as failed.
        APMMonitor::shared()->log(1, 32015, "Cannot send request for Search Ad campaign attribution. Error",
                                  "no attribution service URL");
        return;
    }
    VULHTTPRequest request;
    request.method = "POST";
    request.URL = *url;
    request.headers = {{"cache-control", "no-cache"}, {"Content-Type", "text/plain"}};
    request.body.assign(token.begin(), token.end());
    request.timeoutSeconds = kRequestTimeout;

    std::weak_ptr<APMSearchAdReporter> weak = weak_from_this();
    const auto queue = workerQueue_;
    auto completion = [weak, queue](VULHTTPOutcome outcome) {
        // Hop to the worker queue before touching the alarm or the persisted values.
        queue->async([weak, outcome = std::move(outcome)] {
            if (const auto self = weak.lock()) self->handleAnswerOnWorkerQueue(outcome);
        });
    };
    const bool started = environment_.send ? environment_.send(std::move(request), std::move(completion))
                                           : transport_->start(std::move(request), std::move(completion));
    if (!started) {
        APMMonitor::shared()->log(1, 32015, "Cannot send request for Search Ad campaign attribution. Error",
                                  "the request could not be started");
    }
}

void APMSearchAdReporter::handleAnswerOnWorkerQueue(const VULHTTPOutcome& outcome) {
    auto& monitor = *APMMonitor::shared();
    if (outcome.error || !outcome.response) {
        monitor.log(1, 32015, "Cannot send request for Search Ad campaign attribution. Error",
                    outcome.error ? outcome.error->description() : std::string("no response"));
        scheduleSearchAdReport();
        return;
    }
    const long status = outcome.response->statusCode;
    if (status < 200 || status > 299) {
        monitor.log(1, 32015, "Cannot send request for Search Ad campaign attribution. Error",
                    "HTTP status " + std::to_string(status));
        scheduleSearchAdReport();
        return;
    }
    const std::string body = outcome.body ? std::string(outcome.body->begin(), outcome.body->end()) : std::string();
    const auto json = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
    bool ok = json.is_object();
    std::optional<std::string> campaignID, adID, keywordID;
    if (ok) {
        campaignID = stringMember(json, "campaignId", ok);
        adID = stringMember(json, "adId", ok);
        keywordID = stringMember(json, "keywordId", ok);
    }
    if (!ok) {
        monitor.log(1, 32017, "Search Ad Reporter failed to parse JSON data. Error",
                    json.is_discarded() ? "not JSON" : "not an object of strings and numbers");
        scheduleSearchAdReport();
        return;
    }
    if (json.empty()) {
        scheduleSearchAdReport();
        return;
    }
    if (adID == kTestDataID && campaignID == kTestDataID) {
        monitor.log(7, 32016, "Search Ad Reporter returned test data. Will retry next time.");
        scheduleSearchAdReport();
        return;
    }
    const auto attribution = json.find("attribution");
    if (attribution == json.end() || !attribution->is_boolean()) {
        monitor.log(1, 32017, "Search Ad Reporter failed to parse JSON data. Error", "no Boolean \"attribution\"");
        scheduleSearchAdReport();
        return;
    }
    logCampaignEventWithSearchAdCampaign(attribution->get<bool>(), campaignID, keywordID);
    cancelScheduling();
}

void APMSearchAdReporter::logCampaignEventWithSearchAdCampaign(bool isCampaign,
                                                               const std::optional<std::string>& campaign,
                                                               const std::optional<std::string>& term) {
    auto& monitor = *APMMonitor::shared();
    bool newlyPersisted = false;
    {
        std::lock_guard lock(campaignMutex_);
        if (persistedConfig_->searchAdCampaignValue()) {
            monitor.log(5, 32008, "Search Ad Campaign is already tracked");
        } else {
            persistedConfig_->setSearchAdCampaignValue(isCampaign);
            newlyPersisted = true;
        }
    }
    if (!newlyPersisted || !isCampaign) return;
    APMParameters parameters{{"source", APMValue("Apple")}, {"medium", APMValue("search")}};
    if (campaign && !campaign->empty()) parameters.set("campaign", APMValue(*campaign));
    if (term && !term->empty()) parameters.set("term", APMValue(*term));
    const auto firstOpen = persistedConfig_->firstOpenTimestampMilliseconds();
    if (firstOpen >= 2) {
        parameters.set("click_timestamp", APMValue(firstOpen - 1));
    } else {
        monitor.log(5, 32009, "Search Ad Campaign does not have click_timestamp.");
    }
    APMLogInternalEvent("auto", "_cmp", parameters);
}

void APMSearchAdReporter::cancelScheduling() {
    if (!alarm_) return;
    alarm_->cancel();
    alarm_.reset();
}
