#pragma once
// APMSearchAdReporter: finds out once per installation whether the app was
// installed from a store search ad, and if so logs "_cmp" (origin "auto")
// with the campaign and keyword. It asks the platform for an attribution
// token, posts it to the attribution service ("<base>/api/v1/") and reads
// the JSON answer. Attempts are a day apart and at most 10 per installation;
// the attempt count, the last attempt's time and the answer persist.
//
// Threads: scheduling, attempts and the handling of answers run on the
// engine's worker queue (the answer hops there from the HTTP thread before
// it touches the alarm or the persisted values); nothing else is shared.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "VadovaUtilities/VULHTTPTransport.h"
#include "measurement/storage/APMAlarm.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "platform/core/AttributionToken.h"
#include "platform/core/Dispatch.h"

struct VRDOptions;

// The request URL for a base URL of the options ("https://host[:port]", or
// "http://" with a loopback host for tests): base + "/api/v1/". None for a
// missing or unacceptable base, or one with whitespace or control characters.
std::optional<std::string> APMSearchAdAttributionURL(const std::optional<std::string>& baseURL);

class APMSearchAdReporter : public std::enable_shared_from_this<APMSearchAdReporter> {
public:
    // Sends one HTTP request; the completion runs once, on any thread. False
    // when the request could not be started.
    using Sender = std::function<bool(VULHTTPRequest, std::function<void(VULHTTPOutcome)>)>;

    struct Environment {
        std::shared_ptr<platform::AttributionTokenSource> tokens;  // null: none on this system
        std::optional<std::string> attributionBaseURL;             // the options' deployment value
        Sender send;                                               // empty: a transport of its own
    };

    // None (with the log line) without a queue (32000) or a configuration
    // (32001), after more than 9 attempts (silently), or when an answer is
    // already persisted (32002).
    static std::shared_ptr<APMSearchAdReporter> create(platform::Dispatcher& dispatcher, platform::QueueRef workerQueue,
                                                       std::shared_ptr<APMPersistedConfig> persistedConfig,
                                                       Environment environment);
    // The environment of the options file: its attribution base URL and the
    // platform's token source (none on Linux).
    static Environment environmentFromOptions(const std::optional<VRDOptions>& options);
    ~APMSearchAdReporter();

    bool isSearchAdReporterEnabled() const;
    void setSearchAdReporterEnabled(bool enabled);

    void start();
    void scheduleSearchAdReport();
    void maybeLogIAdCampaignEvent();
    void fetchAttributionDetails();
    void requestAttributionPayloadWithToken(const std::string& token);
    void logCampaignEventWithSearchAdCampaign(bool isCampaign, const std::optional<std::string>& campaign,
                                              const std::optional<std::string>& term);
    void cancelScheduling();

    // The pending attempt's wall-clock time, if any (for the engine's diagnostics and tests).
    std::optional<double> scheduledTimestamp() const;

private:
    APMSearchAdReporter(platform::Dispatcher& dispatcher, platform::QueueRef workerQueue,
                        std::shared_ptr<APMPersistedConfig> persistedConfig, Environment environment);
    bool frameworkAvailable() const;
    void handleAnswerOnWorkerQueue(const VULHTTPOutcome& outcome);

    platform::Dispatcher& dispatcher_;
    const platform::QueueRef workerQueue_;
    const std::shared_ptr<APMPersistedConfig> persistedConfig_;
    const Environment environment_;
    std::shared_ptr<VULHTTPTransport> transport_;  // when no sender was given
    std::unique_ptr<APMAlarm> alarm_;              // on the worker queue; null once cancelled for good
    bool enabled_ = false;                         // on the worker queue
    mutable std::mutex campaignMutex_;             // orders the persisted answer
};
