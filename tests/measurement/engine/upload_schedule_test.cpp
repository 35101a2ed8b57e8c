// Upload scheduling: the next upload time through intervals, retries and
// back-off, and how the timer is armed, kept or stood down.

#include "EngineTestSupport.h"
#include "measurement/storage/APMAlarm.h"

namespace engine_test {
namespace {

class FixedReachability final : public VULReachability {
public:
    bool isReachable() const override { return reachable; }
    void setChangeHandler(std::function<void()>) override {}
    bool reachable = true;
};

class UploadSchedule : public EngineFixture {
protected:
    void SetUp() override {
        reachability = std::make_shared<FixedReachability>();
        network = std::make_shared<VULNetwork>(reachability);
        start();
        ASSERT_TRUE(engine->database());
        discardStartRecords();
    }
    void addRawEvent(double timestamp, bool realtime = false) {
        APMError error;
        ASSERT_TRUE(engine->database()->insertRawEvent("e", timestamp, {1}, 7, realtime, &error)) << error.text();
    }
    void configure(const std::vector<std::pair<std::string, std::string>>& settings) {
        ASSERT_TRUE(engine->remoteConfigInstance()->updateMeasurementConfig(makeConfig(kAppID, settings)));
    }
    std::shared_ptr<FixedReachability> reachability;
};

// How far back the clock is set in the cases of a stored time in the future.
constexpr double kMonth = 30 * 86400;

TEST_F(UploadSchedule, NextUploadTimeThroughIntervalsRetriesAndExhaustion) {
    const double t = now();
    const struct {
        const char* label;
        double latestEvent;
        bool realtime;
        double lastSuccess;
        double lastFailure;
        const char* retryCount;
        double expected;
    } cases[] = {
        {"first upload: latest data plus the initial delay", t - 100, false, 0, 0, "6", t - 85},
        {"recent success: one interval after it", t - 50, false, t - 100, 0, "6", t + 3500},
        {"real-time data: the real-time interval", t - 50, true, t - 5, 0, "6", t + 5},
        {"future data is mirrored into the past", t + 100, false, 0, 0, "6", t - 85},
        {"failure after the data: first retry step", t - 1000, false, 0, t - 500, "6", t + 815},
        {"failure later still: second step, three retry times", t - 5000, false, 0, t - 3000, "6", t + 415},
        {"all steps at or before the failure: none", t - 5000, false, 0, t - 3000, "1", 0},
        {"new data after the failure ends retrying", t - 10, false, 0, t - 500, "1", t + 5},
        {"a failure in the future counts as now", t - 1000, false, 0, t + kMonth, "6", t + 815},
        {"a success in the future counts as now", t - 50, false, t + kMonth, 0, "6", t + 3600},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.label);
        APMError error;
        ASSERT_TRUE(engine->database()->reset(&error));
        addRawEvent(test.latestEvent, test.realtime);
        persisted->setLastSuccessfulUploadTimestamp(test.lastSuccess);
        persisted->setLastFailedUploadTimestamp(test.lastFailure);
        configure({{"measurement.upload.retry_count", test.retryCount}});
        EXPECT_DOUBLE_EQ(engine->nextUploadingTime(), test.expected);
    }
}

TEST_F(UploadSchedule, ArmsTheTimerWhichUploadsWhenItFires) {
    UploadAttemptCounter attempts;
    addRawEvent(now() - 100);
    engine->updateSchedule();
    ASSERT_TRUE(engine->alarm()->scheduledTimestamp());
    EXPECT_DOUBLE_EQ(*engine->alarm()->scheduledTimestamp(), now() - 85);  // past: fires at once
    dispatcher.advance(1);
    EXPECT_EQ(attempts.count(), 1u);
}

TEST_F(UploadSchedule, BackOffHoldsTheTimerAndAnEarlierTimerStays) {
    addRawEvent(now() - 10);
    persisted->setLastBackoffTimestamp(now() - 600);
    engine->updateSchedule();
    ASSERT_TRUE(engine->alarm()->scheduledTimestamp());
    EXPECT_DOUBLE_EQ(*engine->alarm()->scheduledTimestamp(), now() - 600 + 43200);
    persisted->setLastBackoffTimestamp(0);
    engine->alarm()->runAfterDelay(2, [] {});
    monitor.clear();
    engine->updateSchedule();
    EXPECT_DOUBLE_EQ(*engine->alarm()->scheduledTimestamp(), now() + 2);
}

TEST_F(UploadSchedule, ABackOffInTheFutureEndsOneBackOffPeriodFromNow) {
    UploadAttemptCounter attempts;
    addRawEvent(now() - 10);
    persisted->setLastBackoffTimestamp(now() + kMonth);
    const double backoffEnd = now() + 43200;
    engine->updateSchedule();
    ASSERT_TRUE(engine->alarm()->scheduledTimestamp());
    EXPECT_DOUBLE_EQ(*engine->alarm()->scheduledTimestamp(), backoffEnd);
    dispatcher.advance(43200);
    EXPECT_EQ(attempts.count(), 1u);
}

TEST_F(UploadSchedule, EmptyDatabaseNoNetworkAndSuspensionStandDown) {
    engine->alarm()->runAfterDelay(100, [] {});
    engine->updateSchedule();
    EXPECT_FALSE(engine->alarm()->scheduledTimestamp());

    addRawEvent(now() - 10);
    reachability->reachable = false;
    engine->alarm()->runAfterDelay(100, [] {});
    engine->updateSchedule();
    EXPECT_FALSE(engine->alarm()->scheduledTimestamp());

    reachability->reachable = true;
    engine->setSuspendedUploadTimestamp(dispatcher.virtualClock().uptime() - 1000);
    engine->updateSchedule();
    EXPECT_FALSE(engine->alarm()->scheduledTimestamp());
    dispatcher.advance(2600);
    engine->updateSchedule();
    EXPECT_TRUE(engine->alarm()->scheduledTimestamp());
    EXPECT_EQ(engine->suspendedUploadTimestamp(), 0);
}

}  // namespace
}  // namespace engine_test
