#include "VadovaUtilities/VULHTTPTransport.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr int kPollMilliseconds = 1000;
// A response body larger than this ends the transfer: no answer the
// analytics services give comes near it (the configuration fetch itself
// refuses more than 2 MiB), and a server must not be able to fill the
// process's memory or keep a request busy with an endless body.
constexpr std::size_t kMaxResponseBodyBytes = 4u << 20;
constexpr int kMaxRedirects = 10;

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// One request, through all its redirects. Owned by the transport's thread
// once started.
struct Transfer {
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    std::string method;
    std::string URL;  // of the current leg
    int redirects = 0;
    std::chrono::steady_clock::time_point deadline;  // of the whole request, redirects included
    VULData requestBody;
    bool keepsBody = true;
    long headedStatus = 0;     // of the answer whose header lines are arriving
    bool headersEnded = false;  // of a final (not 1xx) answer: its status stands
    std::size_t bodyBytes = 0;  // of the current answer, kept or not
    VULData responseBody;
    std::vector<std::pair<std::string, std::string>> responseHeaders;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    VULHTTPTransport::Completion completion;

    ~Transfer() {
        if (headerList != nullptr) curl_slist_free_all(headerList);
        if (easy != nullptr) curl_easy_cleanup(easy);
    }
};

std::string trimmed(std::string text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isSpace(text.back())) text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && isSpace(text[start])) ++start;
    return text.substr(start);
}

// "HTTP/1.1 200 OK" -> 200; 0 when the line has no status.
long statusOfLine(const std::string& line) {
    const auto space = line.find(' ');
    if (space == std::string::npos) return 0;
    return std::strtol(line.c_str() + space + 1, nullptr, 10);
}

std::size_t onHeaderLine(char* buffer, std::size_t size, std::size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    const std::size_t length = size * count;
    const std::string line(buffer, length);
    if (line.rfind("HTTP/", 0) == 0) {
        // A new status line: an interim or redirected response came before.
        transfer->responseHeaders.clear();
        transfer->headedStatus = statusOfLine(line);
        transfer->headersEnded = false;
    } else if (trimmed(line).empty()) {
        // An interim answer's headers end too; the final answer follows it.
        transfer->headersEnded = transfer->headedStatus >= 200;
    } else if (const auto colon = line.find(':'); colon != std::string::npos) {
        transfer->responseHeaders.emplace_back(trimmed(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
    }
    return length;
}

std::size_t onBodyBytes(char* buffer, std::size_t size, std::size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    const std::size_t length = size * count;
    if (transfer->bodyBytes + length > kMaxResponseBodyBytes) return 0;  // curl ends the transfer
    transfer->bodyBytes += length;
    if (transfer->keepsBody) transfer->responseBody.insert(transfer->responseBody.end(), buffer, buffer + length);
    return length;
}

VULError urlError(long code, const std::string& message) {
    return VULError{kVULURLErrorDomain, code, message};
}

VULError errorForCurlResult(CURLcode result, const char* detail) {
    const std::string message = (detail != nullptr && detail[0] != '\0') ? detail : curl_easy_strerror(result);
    switch (result) {
    case CURLE_OPERATION_TIMEDOUT: return urlError(VULURLErrorTimedOut, message);
    case CURLE_COULDNT_CONNECT: return urlError(VULURLErrorCannotConnectToHost, message);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return urlError(VULURLErrorCannotFindHost, message);
    case CURLE_URL_MALFORMAT: return urlError(VULURLErrorBadURL, message);
    case CURLE_UNSUPPORTED_PROTOCOL: return urlError(VULURLErrorUnsupportedURL, message);
    case CURLE_TOO_MANY_REDIRECTS: return urlError(VULURLErrorHTTPTooManyRedirects, message);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE: return urlError(VULURLErrorSecureConnectionFailed, message);
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE: return urlError(VULURLErrorNetworkConnectionLost, message);
    default: return urlError(VULURLErrorUnknown, message);
    }
}

// Whether the transfer ended with an answer the caller gets: complete, or,
// when its body is not used, with its status and headers all in. Whatever
// then happens to an unused body (it breaks off, does not inflate, passes
// the cap) changes nothing the caller reads: the status has been said.
bool isAnswered(const Transfer& transfer, CURLcode result) {
    return result == CURLE_OK || (!transfer.keepsBody && transfer.headersEnded);
}

struct Redirect {
    long status = 0;
    std::string target;  // absolute, unless the Location field does not parse
};

// The URL the transfer ended at, as curl knows it.
std::optional<std::string> effectiveURLOf(const Transfer& transfer) {
    char* URL = nullptr;
    const bool known = curl_easy_getinfo(transfer.easy, CURLINFO_EFFECTIVE_URL, &URL) == CURLE_OK && URL != nullptr;
    return known ? std::optional<std::string>(URL) : std::nullopt;
}

// `location` read against `base` as curl reads a Location field. One that
// does not parse is kept as given, for the redirect rule to refuse.
std::string resolved(const std::string& base, const std::string& location) {
    const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), curl_url_cleanup);
    char* text = nullptr;
    if (url == nullptr || curl_url_set(url.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_URL, location.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK ||
        curl_url_get(url.get(), CURLUPART_URL, &text, 0) != CURLUE_OK) {
        return location;
    }
    std::string target(text);
    curl_free(text);
    return target;
}

// The target is read from the answer's own headers, not from curl: curl
// names it only after a whole transfer, and a redirect whose unused body
// broke off has still been said.
std::optional<Redirect> redirectOf(const Transfer& transfer) {
    Redirect redirect;
    curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &redirect.status);
    const long status = redirect.status;
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) return std::nullopt;
    const auto isLocation = [](const auto& field) { return strcasecmp(field.first.c_str(), "Location") == 0; };
    const auto location = std::find_if(transfer.responseHeaders.begin(), transfer.responseHeaders.end(), isLocation);
    if (location == transfer.responseHeaders.end() || location->second.empty()) return std::nullopt;
    redirect.target = resolved(effectiveURLOf(transfer).value_or(transfer.URL), location->second);
    return redirect;
}

// Why the redirect is not followed, or nothing when it is. A POST changed
// into a GET (what 301, 302 and 303 ask of it) would leave its body behind
// and still be answered as if it had arrived.
std::optional<VULError> refusalOf(const Transfer& transfer, const Redirect& redirect,
                                  const VULHTTPTransport::RedirectRule& rule) {
    if (transfer.redirects >= kMaxRedirects) {
        return urlError(VULURLErrorHTTPTooManyRedirects, "more than " + std::to_string(kMaxRedirects) + " redirects");
    }
    // The target is not quoted: it may carry credentials.
    if (!rule(transfer.URL, redirect.target)) {
        return urlError(VULURLErrorRedirectRefused, "a redirect to a URL the service-URL rule refuses");
    }
    if (transfer.method == "POST" && redirect.status != 307 && redirect.status != 308) {
        return urlError(VULURLErrorRedirectRefused, "a redirect that would send the POST on without its body");
    }
    return std::nullopt;
}

VULHTTPResponse responseOf(Transfer& transfer) {
    VULHTTPResponse response;
    curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &response.statusCode);
    if (auto URL = effectiveURLOf(transfer)) response.URL = std::move(*URL);
    curl_off_t contentLength = -1;
    if (curl_easy_getinfo(transfer.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &contentLength) == CURLE_OK) {
        response.expectedContentLength = contentLength;
    }
    for (auto& [name, value] : transfer.responseHeaders) {
        auto [entry, inserted] = response.allHeaderFields.try_emplace(name, value);
        if (!inserted) entry->second += ", " + value;
    }
    return response;
}

[[nodiscard]] bool configure(Transfer& transfer, const VULHTTPRequest& request) {
    CURL* easy = transfer.easy;
    bool ok = curl_easy_setopt(easy, CURLOPT_URL, request.URL.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    // Redirects are followed by the transport itself, which checks each
    // target before curl could connect to it.
    ok = ok && curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK;
    // Compressed answers arrive decoded, as the platform's URL loading does.
    ok = ok && curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "") == CURLE_OK;
    const long timeoutMilliseconds = std::max(1L, std::lround(request.timeoutSeconds * 1000));
    transfer.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    ok = ok && curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeoutMilliseconds) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer.errorBuffer) == CURLE_OK;
    // A proxy's answer to CONNECT is not the server's: its status must not
    // stand for one the server never gave.
    ok = ok && curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeaderLine) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBodyBytes) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer) == CURLE_OK;
    if (request.method == "POST") {
        // curl sends a request again when the kept connection it went out on
        // proves dead; a server may have handled the first copy. On a
        // connection of its own, never kept, a POST goes out once.
        ok = ok && curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_POST, 1L) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                                    static_cast<curl_off_t>(transfer.requestBody.size())) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_POSTFIELDS, transfer.requestBody.data()) == CURLE_OK;
    } else {
        ok = ok && curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L) == CURLE_OK;
    }

    for (const auto& [name, value] : request.headers) {
        // "Name;" is how curl sends a header with an empty value.
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        curl_slist* extended = curl_slist_append(transfer.headerList, line.c_str());
        if (extended == nullptr) return false;
        transfer.headerList = extended;
    }
    // Send the body at once instead of asking the server first.
    curl_slist* extended = curl_slist_append(transfer.headerList, "Expect:");
    if (extended == nullptr) return false;
    transfer.headerList = extended;
    ok = ok && curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headerList) == CURLE_OK;
    return ok;
}

}  // namespace

struct VULHTTPTransport::Impl {
    explicit Impl(RedirectRule rule) : redirectRule(rule ? std::move(rule) : RedirectRule(VULIsAcceptableRedirect)) {}

    const RedirectRule redirectRule;
    std::mutex mutex;
    std::vector<std::unique_ptr<Transfer>> incoming;
    bool stopping = false;
    CURLM* multi = nullptr;
    std::thread thread;
    std::map<CURL*, std::unique_ptr<Transfer>> active;  // touched by the thread only

    ~Impl() {
        if (multi != nullptr) curl_multi_cleanup(multi);
    }

    static void run(const std::shared_ptr<Impl>& self) {
        for (;;) {
            std::vector<std::unique_ptr<Transfer>> arrivals;
            {
                std::lock_guard lock(self->mutex);
                if (self->stopping) break;
                arrivals.swap(self->incoming);
            }
            for (auto& transfer : arrivals) self->begin(std::move(transfer));
            int running = 0;
            curl_multi_perform(self->multi, &running);
            self->collectFinished();
            curl_multi_poll(self->multi, nullptr, 0, kPollMilliseconds, nullptr);
        }
        self->cancelEverything();
    }

    void begin(std::unique_ptr<Transfer> transfer) {
        if (curl_multi_add_handle(multi, transfer->easy) != CURLM_OK) {
            finish(std::move(transfer), VULHTTPOutcome{std::nullopt, std::nullopt,
                                                       urlError(VULURLErrorUnknown, "the transfer could not be started")});
            return;
        }
        CURL* easy = transfer->easy;
        active.emplace(easy, std::move(transfer));
    }

    void collectFinished() {
        int waiting = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &waiting)) {
            if (message->msg != CURLMSG_DONE) continue;
            const auto found = active.find(message->easy_handle);
            if (found == active.end()) continue;
            const CURLcode result = message->data.result;
            std::unique_ptr<Transfer> transfer = std::move(found->second);
            active.erase(found);
            curl_multi_remove_handle(multi, transfer->easy);
            VULHTTPOutcome outcome;
            if (!isAnswered(*transfer, result)) {
                outcome.error = errorForCurlResult(result, transfer->errorBuffer);
            } else if (const auto redirect = redirectOf(*transfer)) {
                outcome.error = refusalOf(*transfer, *redirect, redirectRule);
                if (!outcome.error) {
                    follow(std::move(transfer), redirect->target);
                    continue;
                }
            } else {
                outcome.response = responseOf(*transfer);
                if (transfer->keepsBody) outcome.body = std::move(transfer->responseBody);
            }
            finish(std::move(transfer), std::move(outcome));
        }
    }

    // Sends the request again, to `target`, with what it has kept.
    void follow(std::unique_ptr<Transfer> transfer, const std::string& target) {
        ++transfer->redirects;
        transfer->URL = target;
        transfer->responseHeaders.clear();
        transfer->responseBody.clear();
        transfer->headedStatus = 0;
        transfer->headersEnded = false;
        transfer->bodyBytes = 0;
        transfer->errorBuffer[0] = '\0';
        // The request's time-out covers all its legs.
        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   transfer->deadline - std::chrono::steady_clock::now()).count();
        if (remaining <= 0) {
            finish(std::move(transfer),
                   VULHTTPOutcome{std::nullopt, std::nullopt, urlError(VULURLErrorTimedOut, "timed out")});
            return;
        }
        if (curl_easy_setopt(transfer->easy, CURLOPT_URL, transfer->URL.c_str()) != CURLE_OK ||
            curl_easy_setopt(transfer->easy, CURLOPT_TIMEOUT_MS, static_cast<long>(remaining)) != CURLE_OK) {
            finish(std::move(transfer), VULHTTPOutcome{std::nullopt, std::nullopt,
                                                       urlError(VULURLErrorBadURL, "the redirect cannot be followed")});
            return;
        }
        begin(std::move(transfer));
    }

    void cancelEverything() {
        std::vector<std::unique_ptr<Transfer>> remaining;
        for (auto& [easy, transfer] : active) {
            curl_multi_remove_handle(multi, easy);
            remaining.push_back(std::move(transfer));
        }
        active.clear();
        {
            std::lock_guard lock(mutex);
            for (auto& transfer : incoming) remaining.push_back(std::move(transfer));
            incoming.clear();
        }
        for (auto& transfer : remaining) {
            finish(std::move(transfer),
                   VULHTTPOutcome{std::nullopt, std::nullopt, urlError(VULURLErrorCancelled, "cancelled")});
        }
    }

    static void finish(std::unique_ptr<Transfer> transfer, VULHTTPOutcome outcome) {
        VULHTTPTransport::Completion completion = std::move(transfer->completion);
        transfer.reset();
        completion(std::move(outcome));
    }
};

VULHTTPTransport::VULHTTPTransport(RedirectRule redirectRule)
    : impl_(std::make_shared<Impl>(std::move(redirectRule))) {
    initialiseCurlOnce();
    impl_->multi = curl_multi_init();
}

VULHTTPTransport::~VULHTTPTransport() {
    std::thread thread;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
        thread = std::move(impl_->thread);
    }
    if (impl_->multi != nullptr) curl_multi_wakeup(impl_->multi);
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();  // destroyed from one of its own completions; the thread holds the state
    } else {
        thread.join();
    }
}

bool VULHTTPTransport::start(VULHTTPRequest request, Completion completion) {
    if (impl_->multi == nullptr) return false;
    auto transfer = std::make_unique<Transfer>();
    transfer->easy = curl_easy_init();
    if (transfer->easy == nullptr) return false;
    transfer->method = request.method;
    transfer->URL = request.URL;
    transfer->keepsBody = request.responseBody == VULResponseBody::Used;
    transfer->requestBody = std::move(request.body);
    if (!configure(*transfer, request)) return false;
    transfer->completion = std::move(completion);

    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->stopping) return false;
        if (!impl_->thread.joinable()) {
            try {
                impl_->thread = std::thread(&Impl::run, impl_);
            } catch (const std::system_error&) {
                return false;
            }
        }
        impl_->incoming.push_back(std::move(transfer));
    }
    curl_multi_wakeup(impl_->multi);
    return true;
}
