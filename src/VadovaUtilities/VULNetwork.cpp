#include "VadovaUtilities/VULNetwork.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <mutex>
#include <set>

#include "VadovaUtilities/VULGzip.h"
#include "VadovaUtilities/VULHTTPTransport.h"

namespace {

constexpr double kDefaultTimeoutSeconds = 60.0;

bool hasHTTPScheme(const std::string& URL) {
    const auto schemeEnd = URL.find("://");
    if (schemeEnd == std::string::npos || schemeEnd + 3 >= URL.size()) return false;
    std::string scheme = URL.substr(0, schemeEnd);
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme == "http" || scheme == "https";
}

bool isFixedPostHeader(const std::string& name) {
    static const std::set<std::string, VULCaseInsensitiveLess> fixed = {"Content-Length", "Content-Type",
                                                                        "Content-Encoding"};
    return fixed.count(name) != 0;
}

void deliver(const platform::QueueRef& queue, const VULNetworkCompletionHandler& handler,
             std::optional<VULHTTPResponse> response, std::optional<VULData> data, std::optional<VULError> error) {
    if (!handler) return;
    auto block = [handler, response = std::move(response), data = std::move(data), error = std::move(error)] {
        handler(response, data, error);
    };
    if (queue) {
        queue->async(std::move(block));
    } else {
        block();
    }
}

// The test hook's observer; copied out under the lock, called outside it.
class BackgroundSessionObserver {
public:
    using Observer = std::function<void(const std::string& sessionID)>;
    Observer get() const {
        std::lock_guard lock(mutex_);
        return observer_;
    }
    void set(Observer observer) {
        std::lock_guard lock(mutex_);
        observer_ = std::move(observer);
    }

private:
    mutable std::mutex mutex_;
    Observer observer_;  // guarded by mutex_
};

BackgroundSessionObserver& backgroundSessionObserver() {
    static BackgroundSessionObserver observer;
    return observer;
}

}  // namespace

struct VULNetwork::State {
    mutable std::mutex mutex;
    std::weak_ptr<VULNetworkLoggerDelegate> loggerDelegate;
    std::weak_ptr<VULNetworkReachabilityDelegate> reachabilityDelegate;
    bool debugMode = false;
    double timeout = kDefaultTimeoutSeconds;
    std::uint64_t requestsMade = 0;
    std::set<std::string> running;

    void log(VULNetworkLogLevel level, long code, const std::string& message, std::optional<std::string> context) {
        std::shared_ptr<VULNetworkLoggerDelegate> delegate;
        {
            std::lock_guard lock(mutex);
            if (level == VULNetworkLogLevel::Debug && !debugMode) return;
            delegate = loggerDelegate.lock();
        }
        if (delegate) delegate->VULNetwork_logWithLevel(level, code, message, context);
    }

    void reachabilityChanged() {
        std::shared_ptr<VULNetworkReachabilityDelegate> delegate;
        {
            std::lock_guard lock(mutex);
            delegate = reachabilityDelegate.lock();
        }
        if (delegate) delegate->reachabilityDidChange();
    }
};

VULNetwork::VULNetwork() : VULNetwork(std::string(kVULNetworkReachabilityHost)) {}

VULNetwork::VULNetwork(const std::string& reachabilityHost) : VULNetwork(VULMakeHostReachability(reachabilityHost)) {}

VULNetwork::VULNetwork(std::shared_ptr<VULReachability> reachability, VULBodyCompressor compressor)
    : state_(std::make_shared<State>()),
      reachability_(std::move(reachability)),
      compressor_(compressor ? std::move(compressor) : VULBodyCompressor(vul_dataByGzippingData)),
      transport_(std::make_unique<VULHTTPTransport>()) {}

VULNetwork::~VULNetwork() {
    // Requests still in flight complete (cancelled) while the state exists.
    transport_.reset();
    if (reachability_) reachability_->setChangeHandler({});
}

void VULNetwork::handleEventsForBackgroundURLSessionID(const std::string& sessionID,
                                                       const std::function<void()>& completionHandler) {
    // No session is ours, so finishing one here would tell the system that the
    // application's own session is done before its delegate has handled it.
    (void)completionHandler;
    if (const auto observer = backgroundSessionObserver().get()) observer(sessionID);
}

void VULNetwork::setBackgroundSessionObserverForTesting(std::function<void(const std::string& sessionID)> observer) {
    backgroundSessionObserver().set(std::move(observer));
}

void VULNetwork::setLoggerDelegate(std::weak_ptr<VULNetworkLoggerDelegate> delegate) {
    std::lock_guard lock(state_->mutex);
    state_->loggerDelegate = std::move(delegate);
}

void VULNetwork::setReachabilityDelegate(std::weak_ptr<VULNetworkReachabilityDelegate> delegate) {
    const bool watching = !delegate.expired();
    {
        std::lock_guard lock(state_->mutex);
        state_->reachabilityDelegate = std::move(delegate);
    }
    if (!reachability_) return;
    if (watching) {
        std::weak_ptr<State> weakState = state_;
        reachability_->setChangeHandler([weakState] {
            if (auto state = weakState.lock()) state->reachabilityChanged();
        });
    } else {
        reachability_->setChangeHandler({});
    }
}

void VULNetwork::setIsDebugModeEnabled(bool enabled) {
    std::lock_guard lock(state_->mutex);
    state_->debugMode = enabled;
}

bool VULNetwork::isDebugModeEnabled() const {
    std::lock_guard lock(state_->mutex);
    return state_->debugMode;
}

void VULNetwork::setTimeoutInterval(double seconds) {
    std::lock_guard lock(state_->mutex);
    state_->timeout = seconds > 0 ? seconds : kDefaultTimeoutSeconds;
}

double VULNetwork::timeoutInterval() const {
    std::lock_guard lock(state_->mutex);
    return state_->timeout;
}

bool VULNetwork::isNetworkConnected() const {
    return reachability_ && reachability_->isReachable();
}

bool VULNetwork::hasUploadInProgress() const {
    std::lock_guard lock(state_->mutex);
    return !state_->running.empty();
}

std::optional<std::string> VULNetwork::postURL(const std::string& URL, const VULHTTPHeaders& headers,
                                               const VULData& payload, platform::QueueRef queue,
                                               bool usingBackgroundSession,
                                               VULNetworkCompletionHandler completionHandler,
                                               VULResponseBody responseBody) {
    (void)usingBackgroundSession;
    VULDataResult compressed = compressor_(payload);
    if (!compressed.data) {
        const std::string reason = compressed.error ? compressed.error->description() : "no data";
        state_->log(VULNetworkLogLevel::Error, VULNetworkMessageCodeCompressionFailed,
                    "Failed to compress the request body", reason);
        deliver(queue, completionHandler, std::nullopt, std::nullopt,
                VULError{kVULNetworkErrorDomain, VULNetworkErrorCodePayloadCompression,
                         "Failed to compress the request body: " + reason});
        return std::nullopt;
    }
    VULHTTPHeaders allHeaders;
    for (const auto& [name, value] : headers) {
        if (!isFixedPostHeader(name)) allHeaders.emplace(name, value);
    }
    allHeaders["Content-Type"] = "application/x-www-form-urlencoded";
    allHeaders["Content-Encoding"] = "gzip";
    // Content-Length is written by the transport from the compressed body.
    return send("POST", URL, allHeaders, std::move(*compressed.data), responseBody, queue,
                std::move(completionHandler));
}

std::optional<std::string> VULNetwork::postURL(const std::string& URL, const VULData& payload,
                                               platform::QueueRef queue, bool usingBackgroundSession,
                                               VULNetworkCompletionHandler completionHandler) {
    return postURL(URL, VULHTTPHeaders{}, payload, std::move(queue), usingBackgroundSession,
                   std::move(completionHandler));
}

std::optional<std::string> VULNetwork::getURL(const std::string& URL, const VULHTTPHeaders& headers,
                                              platform::QueueRef queue, bool usingBackgroundSession,
                                              VULNetworkCompletionHandler completionHandler) {
    (void)usingBackgroundSession;
    return send("GET", URL, headers, VULData{}, VULResponseBody::Used, queue, std::move(completionHandler));
}

std::optional<std::string> VULNetwork::send(const std::string& method, const std::string& URL,
                                            const VULHTTPHeaders& headers, VULData body,
                                            VULResponseBody responseBody, const platform::QueueRef& queue,
                                            VULNetworkCompletionHandler completionHandler) {
    if (!hasHTTPScheme(URL)) {
        state_->log(VULNetworkLogLevel::Error, VULNetworkMessageCodeInvalidURL, "Invalid URL", URL);
        deliver(queue, completionHandler, std::nullopt, std::nullopt,
                VULError{kVULNetworkErrorDomain, VULNetworkErrorCodeInvalidURL, "Invalid URL: " + URL});
        return std::nullopt;
    }

    VULHTTPRequest request;
    request.method = method;
    request.URL = URL;
    request.headers.assign(headers.begin(), headers.end());
    request.body = std::move(body);
    request.responseBody = responseBody;

    std::string sessionID;
    {
        std::lock_guard lock(state_->mutex);
        request.timeoutSeconds = state_->timeout;
        char identifier[64];
        std::snprintf(identifier, sizeof identifier, "VULNetworkSession-%p-%" PRIu64,
                      static_cast<const void*>(state_.get()), ++state_->requestsMade);
        sessionID = identifier;
        state_->running.insert(sessionID);
    }
    state_->log(VULNetworkLogLevel::Debug, VULNetworkMessageCodeRequestStarted, "Sending " + method + " request",
                URL);

    std::weak_ptr<State> weakState = state_;
    const bool started = transport_->start(
        std::move(request), [weakState, sessionID, queue, completionHandler](VULHTTPOutcome outcome) {
            if (auto state = weakState.lock()) {
                {
                    std::lock_guard lock(state->mutex);
                    state->running.erase(sessionID);
                }
                if (outcome.response) {
                    state->log(VULNetworkLogLevel::Debug, VULNetworkMessageCodeRequestCompleted,
                               "Request completed. Status code", std::to_string(outcome.response->statusCode));
                } else if (outcome.error) {
                    state->log(VULNetworkLogLevel::Warning, VULNetworkMessageCodeRequestFailed, "Request failed",
                               outcome.error->description());
                }
            }
            deliver(queue, completionHandler, std::move(outcome.response), std::move(outcome.body),
                    std::move(outcome.error));
        });
    if (started) return sessionID;

    {
        std::lock_guard lock(state_->mutex);
        state_->running.erase(sessionID);
    }
    state_->log(VULNetworkLogLevel::Error, VULNetworkMessageCodeSessionNotCreated, "Cannot create network session",
                URL);
    deliver(queue, completionHandler, std::nullopt, std::nullopt,
            VULError{kVULNetworkErrorDomain, VULNetworkErrorCodeSessionTaskCreation,
                     "Cannot create network session"});
    return std::nullopt;
}
