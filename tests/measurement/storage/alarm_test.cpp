#include "measurement/storage/APMAlarm.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "StorageTestSupport.h"
#include "platform/core/DeterministicDispatch.h"

using storage_test::MonitorCapture;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Optional;

namespace {

struct AlarmTest : testing::Test {
    MonitorCapture capture{{"-APMAnalyticsDebugEnabled"}};
    platform::DeterministicDispatcher dispatcher{1000.0};
    platform::QueueRef queue = dispatcher.makeSerialQueue("com.vadova.divu.worker");
    APMAlarm alarm{dispatcher, queue, "Measurement timer"};
    std::vector<std::string> fired;
};

}  // namespace

TEST_F(AlarmTest, FiresOnceAfterTheDelayOnItsQueue) {
    alarm.runAfterDelay(10, [&] {
        EXPECT_TRUE(queue->isCurrent());
        fired.push_back("a");
    });
    EXPECT_THAT(alarm.scheduledTimestamp(), Optional(1010.0));
    dispatcher.advance(9.9);
    EXPECT_THAT(fired, IsEmpty());
    dispatcher.advance(0.2);
    EXPECT_THAT(fired, ElementsAre("a"));
    dispatcher.advance(100);
    EXPECT_THAT(fired, ElementsAre("a"));
    EXPECT_THAT(capture.linesWithCode(2002),
                ElementsAre("[VeredodaAnalytics] DEBUG I-ACS002002 Measurement timer scheduled to fire in approx. "
                            "(s), 10"));
}

TEST_F(AlarmTest, ClearsTheScheduledTimeBeforeRunningTheBlock) {
    std::optional<double> seenInside = 0.0;
    alarm.runAfterDelay(1, [&] { seenInside = alarm.scheduledTimestamp(); });
    dispatcher.advance(1);
    EXPECT_EQ(seenInside, std::nullopt);
    EXPECT_EQ(alarm.scheduledTimestamp(), std::nullopt);
}

TEST_F(AlarmTest, ReArmingReplacesThePendingFiring) {
    alarm.runAfterDelay(10, [&] { fired.push_back("first"); });
    dispatcher.advance(5);
    alarm.runAfterDelay(10, [&] { fired.push_back("second"); });
    EXPECT_THAT(alarm.scheduledTimestamp(), Optional(1015.0));
    dispatcher.advance(6);  // past the first firing's time
    EXPECT_THAT(fired, IsEmpty());
    dispatcher.advance(4);
    EXPECT_THAT(fired, ElementsAre("second"));
}

TEST_F(AlarmTest, ReArmingEarlierAlsoReplaces) {
    alarm.runAfterDelay(100, [&] { fired.push_back("late"); });
    alarm.runAfterDelay(1, [&] { fired.push_back("early"); });
    dispatcher.advance(200);
    EXPECT_THAT(fired, ElementsAre("early"));
}

TEST_F(AlarmTest, NegativeOrZeroDelayFiresAtOnce) {
    alarm.runAfterDelay(-5, [&] { fired.push_back("negative"); });
    EXPECT_THAT(alarm.scheduledTimestamp(), Optional(995.0));
    dispatcher.drain();
    EXPECT_THAT(fired, ElementsAre("negative"));
    alarm.runAfterDelay(0, [&] { fired.push_back("zero"); });
    dispatcher.drain();
    EXPECT_THAT(fired, ElementsAre("negative", "zero"));
}

TEST_F(AlarmTest, CancelStopsTheFiringAndClearsTheScheduledTime) {
    alarm.runAfterDelay(10, [&] { fired.push_back("x"); });
    alarm.cancel();
    EXPECT_EQ(alarm.scheduledTimestamp(), std::nullopt);
    dispatcher.advance(20);
    EXPECT_THAT(fired, IsEmpty());
    EXPECT_EQ(capture.linesWithCode(2003).size(), 1u);
    alarm.cancel();
    EXPECT_EQ(capture.linesWithCode(2004).size(), 1u);
}

TEST_F(AlarmTest, AMissingBlockIsLoggedAndLeavesThePendingFiringAlone) {
    alarm.runAfterDelay(10, [&] { fired.push_back("kept"); });
    alarm.runAfterDelay(1, nullptr);
    EXPECT_THAT(capture.linesWithCode(2000),
                ElementsAre("[VeredodaAnalytics] ERROR I-ACS002000 Measurement timer tried to schedule an empty block"));
    EXPECT_THAT(alarm.scheduledTimestamp(), Optional(1010.0));
    dispatcher.advance(10);
    EXPECT_THAT(fired, ElementsAre("kept"));
}

TEST_F(AlarmTest, ABlockMayReArmItsOwnAlarm) {
    int count = 0;
    std::function<void()> tick = [&] {
        if (++count < 3) alarm.runAfterDelay(5, tick);
    };
    alarm.runAfterDelay(5, tick);
    dispatcher.advance(30);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(alarm.scheduledTimestamp(), std::nullopt);
}

TEST(AlarmLifetime, ADestroyedAlarmNeverFires) {
    MonitorCapture capture;
    platform::DeterministicDispatcher dispatcher;
    auto queue = dispatcher.makeSerialQueue("q");
    bool fired = false;
    {
        APMAlarm alarm(dispatcher, queue, "Engagement timer");
        alarm.runAfterDelay(1, [&] { fired = true; });
    }
    dispatcher.advance(5);
    EXPECT_FALSE(fired);
}
