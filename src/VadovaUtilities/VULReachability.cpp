#include "VadovaUtilities/VULReachability.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

std::vector<VULNetworkInterface> currentInterfaces() {
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

class InterfaceReachability final : public VULReachability {
public:
    InterfaceReachability(std::string host, double pollIntervalSeconds)
        : host_(std::move(host)), pollInterval_(std::chrono::duration<double>(pollIntervalSeconds)) {}

    ~InterfaceReachability() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wakeUp_.notify_all();
        if (!watcher_.joinable()) return;
        if (watcher_.get_id() == std::this_thread::get_id()) {
            watcher_.detach();  // released from inside its own change handler
        } else {
            watcher_.join();
        }
    }

    bool isReachable() const override { return VULIsHostReachable(currentInterfaces(), host_); }

    void setChangeHandler(std::function<void()> onChange) override {
        std::lock_guard lock(mutex_);
        onChange_ = std::move(onChange);
        if (onChange_ && !watcher_.joinable()) {
            lastReachable_ = isReachable();
            watcher_ = std::thread([this] { watch(); });
        }
    }

private:
    void watch() {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            wakeUp_.wait_for(lock, pollInterval_, [this] { return stopping_; });
            if (stopping_) break;
            lock.unlock();
            const bool reachable = isReachable();
            lock.lock();
            if (reachable == lastReachable_) continue;
            lastReachable_ = reachable;
            std::function<void()> onChange = onChange_;
            if (!onChange) continue;
            lock.unlock();
            onChange();
            lock.lock();
        }
    }

    const std::string host_;
    const std::chrono::duration<double> pollInterval_;
    std::mutex mutex_;
    std::condition_variable wakeUp_;
    std::function<void()> onChange_;
    bool lastReachable_ = false;
    bool stopping_ = false;
    std::thread watcher_;
};

}  // namespace

std::shared_ptr<VULReachability> VULMakeHostReachability(const std::string& host, double pollIntervalSeconds) {
    return std::make_shared<InterfaceReachability>(host, pollIntervalSeconds);
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
