// The session-identifier query, the reset of all analytics data (also from
// inside a completion on the worker queue), the first-open time stamp and
// the configuration diagnostics.

#include "EngineTestSupport.h"

namespace engine_test {
namespace {

class Reset : public EngineFixture {
protected:
    Reset() : EngineFixture(Logging::verbose) { writeAppVersion("1.1"); }
    void SetUp() override { start(); }
    std::pair<std::int64_t, std::string> sessionID() {
        std::pair<std::int64_t, std::string> answer{-1, "no answer"};
        engine->sessionIDWithCompletion([&answer](std::int64_t id, std::optional<APMError> error) {
            answer = {id, error ? error->description : ""};
        });
        dispatcher.drain();
        return answer;
    }
    void startSession() {
        const double time = now();
        onWorker([time](APMMeasurement& e) { e.reportSessionStartOnWorkerQueue(time, true); });
    }
};

TEST_F(Reset, SessionIdentifierQuery) {
    using Answer = std::pair<std::int64_t, std::string>;
    EXPECT_EQ(sessionID(), Answer(0, "Session expired"));
    startSession();
    const auto started = static_cast<std::int64_t>(now());
    EXPECT_EQ(sessionID(), Answer(started, ""));
    dispatcher.advance(1801);
    ASSERT_TRUE(property("_sid"));
    EXPECT_EQ(sessionID(), Answer(0, "Session expired"));
    startSession();
    APMError error;
    ASSERT_TRUE(engine->database()->deleteUserAttributeWithName("_sid", &error));
    EXPECT_EQ(sessionID(), Answer(0, "Session ID not found"));
    engine->setEnabled(false);
    dispatcher.drain();
    EXPECT_EQ(sessionID(), Answer(0, "Analytics disabled"));

    Answer gone;
    engine->sessionIDWithCompletion([&gone](std::int64_t id, std::optional<APMError> e) { gone = {id, e->description}; });
    engine.reset();
    dispatcher.drain();
    EXPECT_EQ(gone, Answer(0, "Analytics deallocated"));
}

TEST_F(Reset, AnEmptyIdentifierIsTakenOnlyWhileAnalyticsStorageIsDenied) {
    EXPECT_FALSE(engine->resetAnalyticsDataWithAppInstanceID(""));
    EXPECT_EQ(logged(23167), 1u);
    APMConsentSettingsUtil::setConsentSettings(APMConsentSettings{{"analytics_storage", platform::PropertyValue("denied")}});
    EXPECT_TRUE(engine->resetAnalyticsDataWithAppInstanceID(""));
    EXPECT_EQ(logged(23218), 1u);
    EXPECT_FALSE(persisted->appInstanceID());
}

TEST_F(Reset, AResetWipesTheDataAndLogsANewFirstOpen) {
    log("before");
    engine->setInitTimestamp(now() - 500);
    ASSERT_TRUE(engine->resetAnalyticsDataWithAppInstanceID("ABC"));
    EXPECT_EQ(logged(23168), 1u);
    EXPECT_EQ(storedCount("before"), 0u);
    EXPECT_EQ(storedCount("_f"), 1u);
    EXPECT_EQ(persisted->appInstanceID(), "ABC");
    // The fixture's facade loaded at the clock's start.
    EXPECT_DOUBLE_EQ(engine->initTimestamp(), 1.7e9);
    EXPECT_DOUBLE_EQ(lastStored("_f")->timestamp(), 1.7e9);
}

TEST_F(Reset, AResetAskedFromAWorkerQueueCompletionRunsInline) {
    std::optional<bool> reset;
    engine->sessionIDWithCompletion([this, &reset](std::int64_t, std::optional<APMError>) {
        reset = engine->resetAnalyticsDataWithAppInstanceID("DEF");
    });
    dispatcher.drain();
    EXPECT_EQ(reset, true);
    EXPECT_EQ(persisted->appInstanceID(), "DEF");
}

TEST_F(Reset, FirstOpenTimestampPrefersFotThenTheEarliestProperty) {
    const struct {
        std::vector<std::pair<const char*, double>> properties;
        double expected;
    } cases[] = {{{}, 0}, {{{"a", 5}, {"_b", 3}}, 3}, {{{"_fot", 9}, {"a", 2}}, 9}};
    for (const auto& c : cases) {
        APMError error;
        ASSERT_TRUE(engine->database()->reset(&error));
        for (const auto& [name, time] : c.properties) {
            ASSERT_TRUE(engine->database()->updateUserAttribute(APMUserAttribute("app", name, APMValue(1), time), &error));
        }
        double answer = -1;
        onWorker([&answer](APMMeasurement& e) { answer = e.firstOpenTimestamp(); });
        EXPECT_EQ(answer, c.expected);
    }
    EXPECT_EQ(logged(23124), 1u);
}

TEST_F(Reset, ConfigurationDiagnosticsFollowTheRemoteSwitch) {
    for (const bool enabled : {true, false}) {
        applySettings({{"measurement.app_config_diagnostics.enabled", enabled ? "1" : "0"}});
        (void)signalCount("auto_screen", "disabled");  // takes what the start counted
        onWorker([](APMMeasurement& e) { e.checkAppConfigDiagnosticsOnWorkerQueue(); });
        EXPECT_EQ(signalCount("auto_screen", "disabled"), enabled ? 1 : 0);
    }
}

}  // namespace
}  // namespace engine_test
