#pragma once
// Sends HTTP requests through libcurl on one background thread of its own.
// Every started request finishes exactly once: with a response and its body,
// or with an error of kVULURLErrorDomain (VULURLErrorCancelled for requests
// still running when the transport is destroyed). A response body over
// 4 MiB ends the request with an error instead. Used by VULNetwork.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "VadovaUtilities/VULError.h"
#include "VadovaUtilities/VULHTTPResponse.h"

struct VULHTTPRequest {
    std::string method;  // "GET" or "POST"
    std::string URL;     // http or https
    std::vector<std::pair<std::string, std::string>> headers;
    VULData body;
    double timeoutSeconds = 60;
};

struct VULHTTPOutcome {
    std::optional<VULHTTPResponse> response;
    std::optional<VULData> body;
    std::optional<VULError> error;
};

class VULHTTPTransport {
public:
    using Completion = std::function<void(VULHTTPOutcome)>;

    VULHTTPTransport();
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
