#pragma once
// The networking layer of the analytics libraries: POSTs with a gzipped body
// and GETs over HTTP(S), each answered exactly once on the caller's queue.
//
// A POST carries the caller's headers plus "Content-Length", "Content-Type:
// application/x-www-form-urlencoded" and "Content-Encoding: gzip" (these
// three replace any caller value). When a request cannot be made, the
// completion still runs once on the queue, with no response and an error of
// kVULNetworkErrorDomain, and the call answers nullopt; otherwise it answers
// the request's session identifier. Transport failures (time-out, refused
// connection, ...) come with kVULURLErrorDomain errors and no response. A
// network object destroyed with requests in flight completes them with
// VULURLErrorCancelled. Redirects, the cap on answers' bodies and the
// one-copy POST are the transport's (VULHTTPTransport.h). Every method may be
// called from any thread.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "VadovaUtilities/VULError.h"
#include "VadovaUtilities/VULHTTPResponse.h"
#include "VadovaUtilities/VULLogger.h"
#include "VadovaUtilities/VULReachability.h"
#include "platform/core/Dispatch.h"

inline constexpr const char* kVULNetworkErrorDomain = "com.vul.network.ErrorDomain";

enum VULNetworkErrorCode : long {
    VULNetworkErrorCodeInvalidURL = 1,
    VULNetworkErrorCodePayloadCompression = 3,
    VULNetworkErrorCodeSessionTaskCreation = 4,
};

// The host watched by a network object made without one.
inline constexpr const char* kVULNetworkReachabilityHost = "measurement.vadova.com";

// The network logs with the logger's levels (3 error to 7 debug); debug
// lines reach the logger delegate only in debug mode, all others always.
using VULNetworkLogLevel = VULLoggerLevel;

enum VULNetworkMessageCode : long {
    VULNetworkMessageCodeRequestStarted = 900001,
    VULNetworkMessageCodeRequestCompleted = 900002,
    VULNetworkMessageCodeRequestFailed = 900003,
    VULNetworkMessageCodeCompressionFailed = 900004,
    VULNetworkMessageCodeSessionNotCreated = 900005,
    VULNetworkMessageCodeInvalidURL = 900006,
};

class VULHTTPTransport;

class VULNetworkLoggerDelegate {
public:
    virtual ~VULNetworkLoggerDelegate() = default;
    virtual void VULNetwork_logWithLevel(VULNetworkLogLevel level, long messageCode, const std::string& message) = 0;
    virtual void VULNetwork_logWithLevel(VULNetworkLogLevel level, long messageCode, const std::string& message,
                                         const std::optional<std::string>& context) = 0;
    virtual void VULNetwork_logWithLevel(VULNetworkLogLevel level, long messageCode, const std::string& message,
                                         const std::vector<std::string>& contexts) = 0;
};

class VULNetworkReachabilityDelegate {
public:
    virtual ~VULNetworkReachabilityDelegate() = default;
    // Called on the reachability watcher's thread.
    virtual void reachabilityDidChange() = 0;
};

using VULHTTPHeaders = std::map<std::string, std::string>;
using VULNetworkCompletionHandler =
    std::function<void(const std::optional<VULHTTPResponse>& response, const std::optional<VULData>& data,
                       const std::optional<VULError>& error)>;
// Compresses a POST body; the default is vul_dataByGzippingData.
using VULBodyCompressor = std::function<VULDataResult(const VULData& body)>;

class VULNetwork {
public:
    VULNetwork();
    explicit VULNetwork(const std::string& reachabilityHost);
    // With a given reachability watcher and, optionally, body compressor.
    explicit VULNetwork(std::shared_ptr<VULReachability> reachability, VULBodyCompressor compressor = {});
    ~VULNetwork();
    VULNetwork(const VULNetwork&) = delete;
    VULNetwork& operator=(const VULNetwork&) = delete;

    // The system's events of a background session: the networking layer
    // would finish only a session it created, and it creates none (every
    // request goes out in the foreground). So for any identifier it does
    // nothing, and `completionHandler` is left to the session's owner, the
    // application's delegate.
    static void handleEventsForBackgroundURLSessionID(const std::string& sessionID,
                                                      const std::function<void()>& completionHandler);
    // Test hook: `observer` hears each identifier handed to
    // handleEventsForBackgroundURLSessionID; an empty one stops it.
    static void setBackgroundSessionObserverForTesting(std::function<void(const std::string& sessionID)> observer);

    // Delegates are held weakly; an empty pointer stops the calls.
    void setLoggerDelegate(std::weak_ptr<VULNetworkLoggerDelegate> delegate);
    void setReachabilityDelegate(std::weak_ptr<VULNetworkReachabilityDelegate> delegate);
    void setIsDebugModeEnabled(bool enabled);
    bool isDebugModeEnabled() const;
    // Time-out of later requests, in seconds; 0 (or any value not above 0)
    // means 60 s.
    void setTimeoutInterval(double seconds);
    double timeoutInterval() const;

    bool isNetworkConnected() const;
    // True while any request of this object is in flight.
    bool hasUploadInProgress() const;

    // `usingBackgroundSession` is accepted and ignored (foreground only). A
    // caller that leaves the answer's body unused says so: the completion then
    // gets no body, and a body over the cap, cut short or that does not
    // inflate does not fail the request once its status and headers arrived.
    std::optional<std::string> postURL(const std::string& URL, const VULHTTPHeaders& headers, const VULData& payload,
                                       platform::QueueRef queue, bool usingBackgroundSession,
                                       VULNetworkCompletionHandler completionHandler,
                                       VULResponseBody responseBody = VULResponseBody::Used);
    std::optional<std::string> postURL(const std::string& URL, const VULData& payload, platform::QueueRef queue,
                                       bool usingBackgroundSession, VULNetworkCompletionHandler completionHandler);
    std::optional<std::string> getURL(const std::string& URL, const VULHTTPHeaders& headers, platform::QueueRef queue,
                                      bool usingBackgroundSession, VULNetworkCompletionHandler completionHandler);

    struct State;

private:
    std::optional<std::string> send(const std::string& method, const std::string& URL,
                                    const VULHTTPHeaders& headers, VULData body, VULResponseBody responseBody,
                                    const platform::QueueRef& queue, VULNetworkCompletionHandler completionHandler);

    std::shared_ptr<State> state_;
    std::shared_ptr<VULReachability> reachability_;
    VULBodyCompressor compressor_;
    std::unique_ptr<VULHTTPTransport> transport_;
};
