#include "VadovaUtilities/VULReachability.h"

#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace {

// A poll interval's worth of waiting: the fallback without a routing socket.
class TimedNotices final : public VULInterfaceChangeNotices {
public:
    explicit TimedNotices(double seconds) : interval_(std::chrono::duration<double>(seconds)) {}

    bool waitForChange() override {
        std::unique_lock lock(mutex_);
        wakeUp_.wait_for(lock, interval_, [this] { return closed_; });
        return !closed_;
    }
    void close() override {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
        }
        wakeUp_.notify_all();
    }

private:
    const std::chrono::duration<double> interval_;
    std::mutex mutex_;
    std::condition_variable wakeUp_;
    bool closed_ = false;
};

// The kernel's routing notices of links and addresses; an eventfd ends the wait.
class RoutingSocketNotices final : public VULInterfaceChangeNotices {
public:
    static std::unique_ptr<RoutingSocketNotices> open() {
        const int socketFD = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (socketFD < 0) return nullptr;
        sockaddr_nl address{};
        address.nl_family = AF_NETLINK;
        address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
        const int closeFD = ::eventfd(0, EFD_CLOEXEC);
        if (closeFD < 0 || ::bind(socketFD, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            if (closeFD >= 0) ::close(closeFD);
            ::close(socketFD);
            return nullptr;
        }
        return std::unique_ptr<RoutingSocketNotices>(new RoutingSocketNotices(socketFD, closeFD));
    }
    ~RoutingSocketNotices() override {
        ::close(socket_);
        ::close(closer_);
    }

    bool waitForChange() override {
        pollfd watched[2] = {{socket_, POLLIN, 0}, {closer_, POLLIN, 0}};
        while (true) {
            if (::poll(watched, 2, -1) < 0) continue;  // interrupted
            if (watched[1].revents != 0) return false;
            if (watched[0].revents == 0) continue;
            // One read of the interfaces answers every notice queued so far;
            // an overflowed socket (ENOBUFS) is a change too.
            char buffer[8192];
            while (::recv(socket_, buffer, sizeof(buffer), MSG_DONTWAIT) > 0) {
            }
            return true;
        }
    }
    void close() override {
        const std::uint64_t one = 1;
        (void)!::write(closer_, &one, sizeof(one));
    }

private:
    RoutingSocketNotices(int socketFD, int closeFD) : socket_(socketFD), closer_(closeFD) {}
    const int socket_;
    const int closer_;
};

// What the watcher thread uses, shared with it: a change handler may drop
// the last reference to the reachability, whose destructor then runs on the
// watcher thread, and the watcher still has to find its notices closed.
struct WatchedHost {
    WatchedHost(std::string host, std::function<std::vector<VULNetworkInterface>()> readInterfaces,
                std::unique_ptr<VULInterfaceChangeNotices> notices)
        : host(std::move(host)), readInterfaces(std::move(readInterfaces)), notices(std::move(notices)) {}

    bool readReachable() const { return VULIsHostReachable(readInterfaces(), host); }

    void watch() {
        while (notices->waitForChange()) {
            const bool now = readReachable();
            if (reachable.exchange(now) == now) continue;
            std::function<void()> handler;
            {
                std::lock_guard lock(mutex);
                handler = onChange;
            }
            if (handler) handler();
        }
    }

    const std::string host;
    const std::function<std::vector<VULNetworkInterface>()> readInterfaces;
    const std::unique_ptr<VULInterfaceChangeNotices> notices;
    std::atomic<bool> reachable{false};  // written by the first read and the watcher
    std::mutex mutex;                    // guards onChange
    std::function<void()> onChange;
};

class InterfaceReachability final : public VULReachability {
public:
    InterfaceReachability(std::string host, std::function<std::vector<VULNetworkInterface>()> readInterfaces,
                          std::unique_ptr<VULInterfaceChangeNotices> notices)
        : watched_(std::make_shared<WatchedHost>(std::move(host), std::move(readInterfaces), std::move(notices))) {}

    ~InterfaceReachability() override {
        watched_->notices->close();
        std::thread watcher;
        {
            std::lock_guard lock(watcherMutex_);
            watcher = std::move(watcher_);
        }
        if (!watcher.joinable()) return;
        if (watcher.get_id() == std::this_thread::get_id()) {
            watcher.detach();  // released from inside its own change handler; it ends on the closed notices
        } else {
            watcher.join();
        }
    }

    bool isReachable() const override {
        startWatching();
        return watched_->reachable.load();
    }

    void setChangeHandler(std::function<void()> onChange) override {
        {
            std::lock_guard lock(watched_->mutex);
            watched_->onChange = std::move(onChange);
        }
        startWatching();
    }

private:
    // The first read comes after the notices were subscribed, so no change is lost.
    void startWatching() const {
        std::lock_guard lock(watcherMutex_);
        if (watcher_.joinable()) return;
        watched_->reachable.store(watched_->readReachable());
        watcher_ = std::thread([watched = watched_] { watched->watch(); });
    }

    const std::shared_ptr<WatchedHost> watched_;
    mutable std::mutex watcherMutex_;  // guards watcher_
    mutable std::thread watcher_;
};

}  // namespace

std::vector<VULNetworkInterface> VULCurrentNetworkInterfaces() {
    std::vector<VULNetworkInterface> interfaces;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return interfaces;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        VULNetworkInterface interface;
        interface.up = (entry->ifa_flags & IFF_UP) != 0;
        interface.running = (entry->ifa_flags & IFF_RUNNING) != 0;
        interface.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        interface.hasAddress = entry->ifa_addr != nullptr &&
                               (entry->ifa_addr->sa_family == AF_INET || entry->ifa_addr->sa_family == AF_INET6);
        interfaces.push_back(interface);
    }
    freeifaddrs(list);
    return interfaces;
}

std::unique_ptr<VULInterfaceChangeNotices> VULMakeInterfaceChangeNotices(double pollIntervalSeconds) {
    if (auto routing = RoutingSocketNotices::open()) return routing;
    return std::make_unique<TimedNotices>(pollIntervalSeconds);
}

std::shared_ptr<VULReachability> VULMakeHostReachability(const std::string& host, double pollIntervalSeconds) {
    return VULMakeHostReachability(host, VULCurrentNetworkInterfaces, VULMakeInterfaceChangeNotices(pollIntervalSeconds));
}

std::shared_ptr<VULReachability> VULMakeHostReachability(
    const std::string& host, std::function<std::vector<VULNetworkInterface>()> readInterfaces,
    std::unique_ptr<VULInterfaceChangeNotices> notices) {
    return std::make_shared<InterfaceReachability>(host, std::move(readInterfaces), std::move(notices));
}

bool VULIsLoopbackHost(const std::string& host) {
    if (host == "localhost" || host == "::1" || host == "[::1]") return true;
    if (host.size() > 10 && host.compare(host.size() - 10, 10, ".localhost") == 0) return true;
    return host.rfind("127.", 0) == 0;
}

bool VULIsHostReachable(const std::vector<VULNetworkInterface>& interfaces, const std::string& host) {
    const bool loopbackHost = VULIsLoopbackHost(host);
    for (const VULNetworkInterface& interface : interfaces) {
        if (!interface.up || !interface.running || !interface.hasAddress) continue;
        if (interface.loopback && !loopbackHost) continue;
        return true;
    }
    return false;
}
