#pragma once
// An HTTP server on 127.0.0.1 at a port the system picks, run by the test on
// a thread of its own. It records what arrives and answers with the status,
// headers and body the test set. A handler can be held until the test
// releases it, to keep a request in flight.

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ReceivedRequest {
    std::string method;
    std::string path;
    std::multimap<std::string, std::string, httplib::detail::ci> headers;
    std::string body;
    std::string target;  // the request target as sent: path and query

    std::string header(const std::string& name) const {
        const auto found = headers.find(name);
        return found == headers.end() ? std::string() : found->second;
    }
    std::size_t headerCount(const std::string& name) const { return headers.count(name); }
};

class LoopbackServer {
public:
    LoopbackServer() {
        const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
            handle(request, response);
        };
        server_.Get(".*", handler);
        server_.Post(".*", handler);
        // One request per connection: a kept-alive connection would hold
        // stop() for the server's whole keep-alive time-out.
        server_.set_keep_alive_max_count(1);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // stop() only ends a server whose accept loop is running.
        while (!server_.is_running()) std::this_thread::yield();
    }

    ~LoopbackServer() {
        release();
        server_.stop();
        thread_.join();
    }

    int port() const { return port_; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

    void answer(int status, std::string body, std::map<std::string, std::string> headers = {}) {
        std::lock_guard lock(mutex_);
        status_ = status;
        body_ = std::move(body);
        headers_ = std::move(headers);
        streamedBytes_ = 0;
    }

    // Answers with a body of `bytes` bytes, written a piece at a time and
    // never held whole, for as long as the client reads.
    void answerWithBodyOfSize(int status, std::size_t bytes) {
        answer(status, "");
        std::lock_guard lock(mutex_);
        streamedBytes_ = bytes;
    }
    // How much of such bodies went out: a client that stops reading and
    // closes the connection makes the writing fail.
    std::size_t streamedBytesWritten() const { return streamedBytesWritten_; }

    // Handlers wait until release() (or 10 s) before answering.
    void holdAnswers() {
        std::lock_guard lock(mutex_);
        holding_ = true;
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            holding_ = false;
        }
        released_.notify_all();
    }

    std::vector<ReceivedRequest> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    void handle(const httplib::Request& request, httplib::Response& response) {
        std::unique_lock lock(mutex_);
        ReceivedRequest copy{request.method, request.path, {}, request.body, request.target};
        for (const auto& [name, value] : request.headers) copy.headers.emplace(name, value);
        received_.push_back(std::move(copy));
        released_.wait_for(lock, std::chrono::seconds(10), [this] { return !holding_; });
        response.status = status_;
        for (const auto& [name, value] : headers_) response.set_header(name, value);
        if (streamedBytes_ == 0) {
            response.set_content(body_, "application/octet-stream");
            return;
        }
        response.set_content_provider(streamedBytes_, "application/octet-stream",
                                      [this](std::size_t, std::size_t length, httplib::DataSink& sink) {
                                          static const std::string piece(64 * 1024, 'x');
                                          const std::size_t size = std::min(length, piece.size());
                                          if (!sink.write(piece.data(), size)) return false;
                                          streamedBytesWritten_ += size;
                                          return true;
                                      });
    }

    httplib::Server server_;
    int port_ = -1;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool holding_ = false;
    int status_ = 200;
    std::string body_;
    std::size_t streamedBytes_ = 0;
    std::atomic<std::size_t> streamedBytesWritten_{0};
    std::map<std::string, std::string> headers_;
    std::vector<ReceivedRequest> received_;
};

// A loopback port on which nothing listens any more.
inline int closedLoopbackPort() {
    LoopbackServer server;
    return server.port();
}
