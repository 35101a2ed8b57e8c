#include "VadovaUtilities/VULReachability.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>

namespace {

VULNetworkInterface interface(bool up, bool running, bool loopback, bool hasAddress) {
    return VULNetworkInterface{up, running, loopback, hasAddress};
}

TEST(Reachability, NeedsAnInterfaceThatIsUpRunningAndAddressed) {
    const std::string host = "measurement.vadova.com";
    EXPECT_FALSE(VULIsHostReachable({}, host));
    EXPECT_FALSE(VULIsHostReachable({interface(true, false, false, true)}, host));
    EXPECT_FALSE(VULIsHostReachable({interface(false, true, false, true)}, host));
    EXPECT_FALSE(VULIsHostReachable({interface(true, true, false, false)}, host));
    EXPECT_TRUE(VULIsHostReachable({interface(true, false, false, true), interface(true, true, false, true)}, host));
}

TEST(Reachability, LoopbackCountsOnlyForLoopbackHosts) {
    const std::vector<VULNetworkInterface> onlyLoopback = {interface(true, true, true, true)};
    EXPECT_FALSE(VULIsHostReachable(onlyLoopback, "measurement.vadova.com"));
    for (const char* host : {"localhost", "127.0.0.1", "127.5.6.7", "::1", "[::1]", "api.localhost"}) {
        EXPECT_TRUE(VULIsLoopbackHost(host)) << host;
        EXPECT_TRUE(VULIsHostReachable(onlyLoopback, host)) << host;
    }
    for (const char* host : {"", "128.0.0.1", "localhost.example", "mylocalhost"}) {
        EXPECT_FALSE(VULIsLoopbackHost(host)) << host;
    }
}

// Change notices the test gives one at a time.
class GivenNotices final : public VULInterfaceChangeNotices {
public:
    bool waitForChange() override {
        std::unique_lock lock(mutex_);
        given_.wait(lock, [this] { return pending_ > 0 || closed_; });
        if (closed_) return false;
        --pending_;
        return true;
    }
    void close() override { update([this] { closed_ = true; }); }
    void give() { update([this] { ++pending_; }); }

private:
    template <class Change>
    void update(Change change) {
        {
            std::lock_guard lock(mutex_);
            change();
        }
        given_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable given_;
    int pending_ = 0;
    bool closed_ = false;
};

TEST(Reachability, TheAnswerIsKeptUntilANoticeAndThenFollowsTheInterfaces) {
    std::atomic<int> reads{0};
    std::atomic<bool> up{true};
    auto notices = std::make_unique<GivenNotices>();
    GivenNotices& given = *notices;
    auto reachability = VULMakeHostReachability(
        "measurement.vadova.com",
        [&] {
            ++reads;
            return std::vector<VULNetworkInterface>{interface(up, true, false, true)};
        },
        std::move(notices));
    EXPECT_TRUE(reachability->isReachable());
    up = false;
    EXPECT_TRUE(reachability->isReachable());
    EXPECT_EQ(reads, 1);

    std::promise<void> flipped;
    reachability->setChangeHandler([&] { flipped.set_value(); });
    given.give();
    ASSERT_EQ(flipped.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(reachability->isReachable());
    EXPECT_EQ(reads, 2);
}

TEST(Reachability, TheMachinesLoopbackInterfaceMakesLocalhostReachable) {
    auto reachability = VULMakeHostReachability("127.0.0.1");
    EXPECT_TRUE(reachability->isReachable());
    reachability->setChangeHandler([] {});  // starts and, on destruction, stops the watcher
    reachability->setChangeHandler({});
}

}  // namespace
