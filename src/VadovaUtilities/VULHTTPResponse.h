#pragma once
// The answer of an HTTP server as the networking layer hands it out, and the
// domain of transport failures (the platform's URL-loading error domain and
// its codes, so that callers log what they would log elsewhere).

#include <cstdint>
#include <map>
#include <optional>
#include <string>

struct VULCaseInsensitiveLess {
    bool operator()(const std::string& left, const std::string& right) const;
};

// Header names compare without regard to case; a field sent several times
// holds its values joined by ", ".
using VULHTTPHeaderFields = std::map<std::string, std::string, VULCaseInsensitiveLess>;

struct VULHTTPResponse {
    long statusCode = 0;
    std::string URL;  // after redirects
    VULHTTPHeaderFields allHeaderFields;
    std::int64_t expectedContentLength = -1;  // from Content-Length; -1 when unknown

    std::optional<std::string> valueForHTTPHeaderField(const std::string& name) const;
};

// Whether the caller reads the answer's body. An unused body is not kept:
// reading stops at the size cap, and the status alone decides, even when
// the body breaks off.
enum class VULResponseBody { Used, Unused };

inline constexpr const char* kVULURLErrorDomain = "NSURLErrorDomain";

enum VULURLError : long {
    VULURLErrorUnknown = -1,
    VULURLErrorCancelled = -999,
    VULURLErrorBadURL = -1000,
    VULURLErrorTimedOut = -1001,
    VULURLErrorUnsupportedURL = -1002,
    VULURLErrorCannotFindHost = -1003,
    VULURLErrorCannotConnectToHost = -1004,
    VULURLErrorNetworkConnectionLost = -1005,
    VULURLErrorHTTPTooManyRedirects = -1007,
    // A redirect the transport does not follow (the platform's code for a
    // load its transport security refuses).
    VULURLErrorRedirectRefused = -1022,
    VULURLErrorSecureConnectionFailed = -1200,
};
