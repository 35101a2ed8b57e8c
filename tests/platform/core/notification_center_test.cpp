#include "platform/core/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/DeterministicDispatch.h"

namespace {

using platform::Notification;
using platform::NotificationCenter;
using platform::NotificationObserverToken;
using platform::PropertyDictionary;
using platform::PropertyValue;

class NotificationCenterTest : public ::testing::Test {
protected:
    NotificationCenter center;
    std::vector<std::string> log;

    NotificationCenter::Handler logAs(const std::string& tag) {
        return [this, tag](const Notification& notification) { log.push_back(tag + ":" + notification.name); };
    }
};

// ---- matching ---------------------------------------------------------------

TEST_F(NotificationCenterTest, SynchronousObserversRunInRegistrationOrderDuringThePost) {
    center.addObserver("A", nullptr, nullptr, logAs("first"));
    center.addObserver("A", nullptr, nullptr, logAs("second"));
    center.addObserver("B", nullptr, nullptr, logAs("other"));
    center.post("A");
    EXPECT_EQ(log, (std::vector<std::string>{"first:A", "second:A"}));
}

TEST_F(NotificationCenterTest, NameAndSenderFiltersAreEachOptional) {
    int configuration = 0, otherConfiguration = 0;
    center.addObserver(std::nullopt, nullptr, nullptr, logAs("any"));
    center.addObserver("SetEnabled", &configuration, nullptr, logAs("mine"));
    center.addObserver(std::nullopt, &otherConfiguration, nullptr, logAs("theirs"));
    center.post("SetEnabled", &configuration);
    center.post("SetEnabled", nullptr);
    center.post("Else", &otherConfiguration);
    EXPECT_EQ(log, (std::vector<std::string>{"any:SetEnabled", "mine:SetEnabled", "any:SetEnabled", "any:Else",
                                             "theirs:Else"}));
}

TEST_F(NotificationCenterTest, UserInfoAndSenderReachTheObserver) {
    int sender = 0;
    Notification received;
    center.addObserver("N", nullptr, nullptr, [&](const Notification& notification) { received = notification; });
    center.post("N", &sender, PropertyDictionary{{"N", PropertyValue(true)}});
    EXPECT_EQ(received.object, &sender);
    ASSERT_TRUE(received.userInfo);
    ASSERT_NE(received.userInfo->find("N"), received.userInfo->end());
    EXPECT_EQ(received.userInfo->at("N").asBoolean(), true);

    // Without a dictionary the notification carries none, which is not an empty one.
    center.post("N", &sender);
    EXPECT_FALSE(received.userInfo);
    center.post("N", &sender, PropertyDictionary{});
    EXPECT_EQ(received.userInfo, PropertyDictionary{});
}

// ---- removal ----------------------------------------------------------------

TEST_F(NotificationCenterTest, RemovedObserversAreNotCalledAndRemovalIsIdempotent) {
    const NotificationObserverToken token = center.addObserver("A", nullptr, nullptr, logAs("gone"));
    EXPECT_TRUE(token.isValid());
    center.removeObserver(token);
    center.removeObserver(token);
    center.removeObserver(NotificationObserverToken());
    center.post("A");
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(center.observerCount(), 0u);
}

TEST_F(NotificationCenterTest, AnObserverRemovedByAnEarlierHandlerDuringThePostIsSkipped) {
    NotificationObserverToken second;
    center.addObserver("A", nullptr, nullptr, [&](const Notification&) {
        log.push_back("first");
        center.removeObserver(second);
    });
    second = center.addObserver("A", nullptr, nullptr, logAs("second"));
    center.post("A");
    EXPECT_EQ(log, std::vector<std::string>{"first"});
}

TEST_F(NotificationCenterTest, AHandlerMayRemoveItselfAndPostAgain) {
    NotificationObserverToken self;
    self = center.addObserver("A", nullptr, nullptr, [&](const Notification&) {
        log.push_back("once");
        center.removeObserver(self);
        center.post("A");  // re-entrant post: no lock is held
    });
    center.post("A");
    EXPECT_EQ(log, std::vector<std::string>{"once"});
}

// ---- queued delivery --------------------------------------------------------

TEST_F(NotificationCenterTest, QueuedObserversRunOnTheirQueueLater) {
    platform::DeterministicDispatcher dispatcher;
    auto queue = dispatcher.makeSerialQueue("observer.queue");
    bool ranOnQueue = false;
    center.addObserver("A", nullptr, queue, [&](const Notification&) {
        ranOnQueue = queue->isCurrent();
        log.push_back("queued");
    });
    center.post("A");
    EXPECT_TRUE(log.empty());
    dispatcher.drain();
    EXPECT_EQ(log, std::vector<std::string>{"queued"});
    EXPECT_TRUE(ranOnQueue);
}

TEST_F(NotificationCenterTest, RemovalCancelsDeliveriesAlreadyQueued) {
    platform::DeterministicDispatcher dispatcher;
    const auto token = center.addObserver("A", nullptr, dispatcher.makeSerialQueue("q"), logAs("late"));
    center.post("A");
    center.removeObserver(token);
    dispatcher.drain();
    EXPECT_TRUE(log.empty());
}

// ---- threads and the default centre -----------------------------------------

TEST_F(NotificationCenterTest, ConcurrentPostsAndRegistrationsAreSafe) {
    std::atomic<int> deliveries{0};
    center.addObserver("T", nullptr, nullptr, [&](const Notification&) { ++deliveries; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                const auto token = center.addObserver("T", nullptr, nullptr, [](const Notification&) {});
                center.post("T");
                center.removeObserver(token);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(deliveries.load(), 800);
    EXPECT_EQ(center.observerCount(), 1u);
}

TEST(DefaultNotificationCenter, IsOneCentreThatTestsCanEmpty) {
    NotificationCenter& center = NotificationCenter::defaultCenter();
    EXPECT_EQ(&center, &NotificationCenter::defaultCenter());
    int calls = 0;
    center.addObserver("D", nullptr, nullptr, [&](const Notification&) { ++calls; });
    NotificationCenter::resetDefaultCenterForTesting();
    center.post("D");
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(center.observerCount(), 0u);
}

}  // namespace
