#include "measurement/storage/APMScheduler.h"

#include <stdexcept>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "StorageTestSupport.h"
#include "platform/core/DeterministicDispatch.h"

using storage_test::MonitorCapture;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

struct SchedulerTest : testing::Test {
    MonitorCapture capture;
    platform::DeterministicDispatcher dispatcher;
    APMScheduler scheduler{dispatcher, kAPMWorkerQueueLabel};
};

}  // namespace

TEST_F(SchedulerTest, OwnsASerialQueueWithTheGivenLabel) {
    EXPECT_EQ(scheduler.workerQueue()->label(), "com.vadova.divu.worker");
}

TEST_F(SchedulerTest, ScheduledBlocksRunLaterOnTheWorkerQueueInOrder) {
    std::vector<int> order;
    scheduler.scheduleOnWorkerQueue("APMMeasurement:1", [&] {
        EXPECT_TRUE(scheduler.workerQueue()->isCurrent());
        order.push_back(1);
    });
    scheduler.scheduleOnWorkerQueue("APMMeasurement:2", [&] { order.push_back(2); });
    EXPECT_THAT(order, IsEmpty());
    dispatcher.drain();
    EXPECT_THAT(order, ElementsAre(1, 2));
}

TEST_F(SchedulerTest, AnExceptionInAScheduledBlockIsLoggedWithItsIDAndLaterBlocksStillRun) {
    bool laterRan = false;
    scheduler.scheduleOnWorkerQueue("APMMeasurement:60", [] { throw std::runtime_error("boom"); });
    scheduler.scheduleOnWorkerQueue("APMMeasurement:61", [&] { laterRan = true; });
    dispatcher.drain();
    EXPECT_TRUE(laterRan);
    EXPECT_THAT(capture.linesWithCode(30002), ElementsAre(HasSubstr("Block ID=APMMeasurement:60, boom")));
}

TEST_F(SchedulerTest, AMissingBlockIsLoggedAndNothingIsQueued) {
    scheduler.scheduleOnWorkerQueue("APMMeasurement:7", nullptr);
    EXPECT_EQ(dispatcher.pendingCount(), 0u);
    EXPECT_THAT(capture.linesWithCode(30005),
                ElementsAre("[VeredodaAnalytics] ERROR I-ACS030005 Nil block dispatched asynchronously on worker "
                            "queue. Block ID=APMMeasurement:7."));
}

TEST_F(SchedulerTest, SyncDispatchWaitsForTheBlock) {
    bool ran = false;
    scheduler.dispatchSyncOnWorkerQueue("APMMeasurement:3463", [&] {
        EXPECT_TRUE(scheduler.workerQueue()->isCurrent());
        ran = true;
    });
    EXPECT_TRUE(ran);
}

TEST_F(SchedulerTest, SyncDispatchFromTheWorkerQueueRunsInlineInsteadOfWaitingForItself) {
    std::vector<std::string> steps;
    scheduler.scheduleOnWorkerQueue("outer", [&] {
        steps.push_back("outer begins");
        scheduler.dispatchSyncOnWorkerQueue("inner", [&] { steps.push_back("inner"); });
        steps.push_back("outer ends");
    });
    dispatcher.drain();
    EXPECT_THAT(steps, ElementsAre("outer begins", "inner", "outer ends"));
}

TEST_F(SchedulerTest, AFailedSyncBlockIsLoggedAsAWarningAndDoesNotEscape) {
    EXPECT_NO_THROW(scheduler.dispatchSyncOnWorkerQueue("APMMeasurement:9", [] { throw 42; }));
    EXPECT_THAT(capture.linesWithCode(30004),
                ElementsAre(HasSubstr("WARNING I-ACS030004 Synchronous task failed. Block ID=APMMeasurement:9")));
}

TEST_F(SchedulerTest, MainThreadCheckLogsOnlyOnTheMainQueue) {
    bool onWorker = false;
    scheduler.scheduleOnWorkerQueue("w", [&] { onWorker = scheduler.checkOnBackgroundThread("startMeasurementOnWorkerQueue"); });
    dispatcher.drain();
    EXPECT_TRUE(onWorker);
    EXPECT_THAT(capture.linesWithCode(30001), IsEmpty());

    bool onMain = true;
    dispatcher.mainQueue()->async([&] { onMain = APMScheduler::checkOnBackgroundThread("setIsEnabledOnWorkerQueue", dispatcher); });
    dispatcher.mainQueue()->async([&] { APMScheduler::checkOnBackgroundThread("", dispatcher); });
    dispatcher.drain();
    EXPECT_FALSE(onMain);
    EXPECT_THAT(capture.linesWithCode(30001),
                ElementsAre("[VeredodaAnalytics] ERROR I-ACS030001 Method setIsEnabledOnWorkerQueue should execute on "
                            "background thread",
                            HasSubstr("Method <empty method name> should execute on background thread")));
}
