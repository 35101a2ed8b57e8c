#pragma once
// Sends HTTP requests through libcurl on one background thread of its own.
// Every started request finishes exactly once: with a response and its body
// (none when the request does not use it), or with an error of
// kVULURLErrorDomain (VULURLErrorCancelled for requests still running when
// the transport is destroyed). Used by VULNetwork.
//
// - Size: a body the request uses ends the request with an error once it
//   passes 4 MiB; reading an unused body stops there and the response stands.
// - Unused bodies: once the status line and headers of a final answer are
//   in, the response stands, even when its unused body then breaks off or
//   cannot be inflated; such an answer that redirects is followed or refused
//   as a whole one is. A used body that breaks fails the request.
// - Redirects: at most 10 are followed, each only to a URL that
//   VULIsAcceptableRedirect allows, and a POST only where its body goes along
//   (307, 308). Any other redirect ends the request with
//   VULURLErrorRedirectRefused before anything reaches its target.
// - A POST goes out once: each has a connection of its own, never reused,
//   so libcurl never sends it again on finding a kept connection dead.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "VadovaUtilities/VULError.h"
#include "VadovaUtilities/VULHTTPResponse.h"
#include "VadovaUtilities/VULServiceURL.h"

struct VULHTTPRequest {
    std::string method;  // "GET" or "POST"
    std::string URL;     // http or https
    std::vector<std::pair<std::string, std::string>> headers;
    VULData body;
    double timeoutSeconds = 60;
    VULResponseBody responseBody = VULResponseBody::Used;
};

struct VULHTTPOutcome {
    std::optional<VULHTTPResponse> response;
    std::optional<VULData> body;
    std::optional<VULError> error;
};

class VULHTTPTransport {
public:
    using Completion = std::function<void(VULHTTPOutcome)>;
    // Whether a request at `fromURL`, the URL of the answer that redirects,
    // may go on to `toURL`.
    using RedirectRule = std::function<bool(const std::string& fromURL, const std::string& toURL)>;

    // The rule is VULIsAcceptableRedirect, unless a test needs to see what
    // the transport asks it.
    explicit VULHTTPTransport(RedirectRule redirectRule = VULIsAcceptableRedirect);
    ~VULHTTPTransport();
    VULHTTPTransport(const VULHTTPTransport&) = delete;
    VULHTTPTransport& operator=(const VULHTTPTransport&) = delete;

    // Starts the request; `completion` later runs on the transport's thread.
    // Answers false (and never calls `completion`) when the request could not
    // be set up or the thread could not be started.
    [[nodiscard]] bool start(VULHTTPRequest request, Completion completion);

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};
