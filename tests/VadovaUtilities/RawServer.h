#pragma once
// A server that misbehaves at the byte level, listening on 127.0.0.1 (or on
// every address of this machine) at a port the system picks. It reads each
// request whole, keeps it, and takes the next of its replies (the last one
// repeats): after the reply's delay (a slow server), writes the bytes as
// given (a cut-off or malformed answer, or nothing), then closes the
// connection, resets it, or keeps it for the next request. Made with
// `accepting` false it listens without ever accepting, so a request waits
// until the client's time-out. Each connection has a thread.
// Also: an address of this machine that is not loopback, to redirect to.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class RawServer {
public:
    enum class Then { Close, Reset, KeepOpen };
    struct Reply {
        std::string bytes;
        Then then = Then::Close;
        std::chrono::milliseconds delay{0};
    };

    explicit RawServer(std::string reply, bool accepting = true)
        : RawServer(std::vector<Reply>{{std::move(reply), Then::Close}}, INADDR_LOOPBACK, accepting) {}

    explicit RawServer(std::vector<Reply> replies, in_addr_t address = INADDR_LOOPBACK, bool accepting = true)
        : replies_(std::move(replies)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in socketAddress{};
        socketAddress.sin_family = AF_INET;
        socketAddress.sin_addr.s_addr = htonl(address);
        socklen_t length = sizeof socketAddress;
        EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&socketAddress), length), 0);
        EXPECT_EQ(::listen(listener_, 8), 0);
        EXPECT_EQ(::getsockname(listener_, reinterpret_cast<sockaddr*>(&socketAddress), &length), 0);
        port_ = ntohs(socketAddress.sin_port);
        if (accepting) acceptor_ = std::thread([this] { acceptConnections(); });
    }

    ~RawServer() {
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        if (acceptor_.joinable()) acceptor_.join();
        {
            std::lock_guard lock(mutex_);
            for (int connection : open_) ::shutdown(connection, SHUT_RDWR);
        }
        for (auto& thread : connectionThreads_) thread.join();
    }

    int port() const { return port_; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

    // Each request as it arrived, headers and body.
    std::vector<std::string> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::size_t connections() const {
        std::lock_guard lock(mutex_);
        return connections_;
    }

private:
    void acceptConnections() {
        for (;;) {
            const int connection = ::accept(listener_, nullptr, nullptr);
            if (connection < 0) return;
            std::lock_guard lock(mutex_);
            ++connections_;
            open_.insert(connection);
            connectionThreads_.emplace_back([this, connection] { serve(connection); });
        }
    }

    void serve(int connection) {
        std::string pending;
        Then then = Then::KeepOpen;
        while (then == Then::KeepOpen) {
            std::string request;
            if (!readRequest(connection, pending, request)) break;
            Reply reply;
            {
                std::lock_guard lock(mutex_);
                reply = replies_.at(std::min(requests_.size(), replies_.size() - 1));
                requests_.push_back(std::move(request));
            }
            std::this_thread::sleep_for(reply.delay);
            (void)::send(connection, reply.bytes.data(), reply.bytes.size(), MSG_NOSIGNAL);
            then = reply.then;
        }
        if (then == Then::Reset) {
            const linger abortive{1, 0};
            ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        }
        std::lock_guard lock(mutex_);
        open_.erase(connection);
        ::close(connection);
    }

    // One request (its headers and Content-Length body) from `pending` and
    // the connection; false when the connection ends first.
    static bool readRequest(int connection, std::string& pending, std::string& request) {
        std::size_t wanted = std::string::npos;
        char buffer[4096];
        while (wanted == std::string::npos || pending.size() < wanted) {
            if (wanted == std::string::npos) {
                if (const auto end = pending.find("\r\n\r\n"); end != std::string::npos) {
                    const auto field = pending.find("Content-Length: ");
                    const bool inHeaders = field != std::string::npos && field < end;
                    wanted = end + 4 + (inHeaders ? std::stoul(pending.substr(field + 16)) : 0);
                    continue;
                }
            }
            const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
            if (got <= 0) return false;
            pending.append(buffer, static_cast<std::size_t>(got));
        }
        request = pending.substr(0, wanted);
        pending.erase(0, wanted);
        return true;
    }

    std::vector<Reply> replies_;
    int listener_ = -1;
    int port_ = 0;
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::size_t connections_ = 0;
    std::set<int> open_;
    std::vector<std::thread> connectionThreads_;
    std::vector<std::string> requests_;
};

// An IPv4 address of this machine outside loopback, or an unroutable one.
inline std::string nonLoopbackAddress() {
    std::string found = "192.0.2.1";
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return found;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr, text, sizeof text);
        if (!std::string(text).starts_with("127.")) {
            found = text;
            break;
        }
    }
    ::freeifaddrs(list);
    return found;
}
