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

// A handler may release the reachability it hears from: the watcher it
// runs on then ends on its closed notices, and only then are they destroyed.
TEST(Reachability, AHandlerMayReleaseItsOwnReachability) {
    struct Latch {
        std::mutex mutex;
        std::condition_variable changed;
        bool noticesGone = false;
        bool closedBeforeGone = false;
    };
    // One change, then none until closed; says when it is destroyed.
    class OneChange final : public VULInterfaceChangeNotices {
    public:
        explicit OneChange(std::shared_ptr<Latch> latch) : latch_(std::move(latch)) {}
        ~OneChange() override {
            std::lock_guard lock(latch_->mutex);
            latch_->noticesGone = true;
            latch_->closedBeforeGone = closed_;
            latch_->changed.notify_all();
        }
        bool waitForChange() override {
            std::unique_lock lock(mutex_);
            if (!given_) return given_ = true;
            closedSignal_.wait(lock, [this] { return closed_; });
            return false;
        }
        void close() override {
            std::lock_guard lock(mutex_);
            closed_ = true;
            closedSignal_.notify_all();
        }

    private:
        const std::shared_ptr<Latch> latch_;
        std::mutex mutex_;
        std::condition_variable closedSignal_;
        bool given_ = false;
        bool closed_ = false;
    };
    auto latch = std::make_shared<Latch>();
    auto reads = std::make_shared<std::atomic<int>>(0);
    auto held = std::make_shared<std::shared_ptr<VULReachability>>();
    *held = VULMakeHostReachability(
        "measurement.vadova.com",
        [reads] {
            // Reachable at the first read, not after the change.
            return std::vector<VULNetworkInterface>{interface(reads->fetch_add(1) == 0, true, false, true)};
        },
        std::make_unique<OneChange>(latch));
    (*held)->setChangeHandler([held] { held->reset(); });
    std::unique_lock lock(latch->mutex);
    ASSERT_TRUE(latch->changed.wait_for(lock, std::chrono::seconds(10), [&] { return latch->noticesGone; }));
    EXPECT_TRUE(latch->closedBeforeGone);
}

TEST(Reachability, TheMachinesLoopbackInterfaceMakesLocalhostReachable) {
    auto reachability = VULMakeHostReachability("127.0.0.1");
    EXPECT_TRUE(reachability->isReachable());
    reachability->setChangeHandler([] {});  // starts and, on destruction, stops the watcher
    reachability->setChangeHandler({});
}

}  // namespace
