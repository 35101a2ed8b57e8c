// The handling pipeline around the writes: the disabled engine, sessions
// started by background events, rollout de-duplication, app exceptions,
// session-start side effects and the default-parameter backfill.

#include "EngineTestSupport.h"

namespace engine_test {
namespace {

class Pipeline : public EngineFixture {
protected:
    void SetUp() override { startWithoutStartRecords(); }
    APMEvent internal(const std::string& name, APMObjectParameters parameters = {}) {
        return *APMEvent::initWithOrigin("auto", false, name, now(), 0, parameters);
    }
    void handleInternal(const std::string& name, APMObjectParameters parameters = {}) {
        engine->handleInternalEventOnWorkerQueue(internal(name, std::move(parameters)));
        dispatcher.drain();
    }
};

TEST_F(Pipeline, ADisabledEngineStoresNothingButStillNotifiesListenersOfInternalEvents) {
    int notified = 0;
    engine->seams().notifyEventListeners = [&](const APMEvent&) { ++notified; };
    engine->setEnabled(false);
    dispatcher.drain();
    handleInternal("_s");
    log("public");
    EXPECT_TRUE(stored().empty());
    // The interface's flag was on for the public event: its listeners hear of it too.
    EXPECT_EQ(notified, 2);
}

TEST_F(Pipeline, SessionRolloutsAreKeptOnlyWhenTheyChange) {
    const struct {
        std::optional<std::string> storedBefore;
        std::optional<APMObject> value;
        bool kept;
        std::optional<std::string> storedAfter;
    } cases[] = {
        {std::nullopt, std::nullopt, false, std::nullopt},
        {std::nullopt, APMObject(platform::PropertyValue("")), false, std::nullopt},
        {std::nullopt, APMObject(platform::PropertyValue("x")), true, "x"},
        {std::nullopt, APMObject(platform::PropertyValue(3LL)), true, std::nullopt},
        {"x", APMObject(platform::PropertyValue("x")), false, "x"},
        {"x", APMObject(platform::PropertyValue("y")), true, "y"},
        {"x", std::nullopt, true, std::nullopt},
        {"x", APMObject(platform::PropertyValue(3LL)), true, std::nullopt},
    };
    for (const auto& c : cases) {
        persisted->setVeredodaFeatureRollouts(c.storedBefore);
        APMObjectParameters parameters;
        if (c.value) parameters.emplace_back("_ffr", *c.value);
        EXPECT_EQ(engine->shouldDropDuplicatedSessionStartWithRolloutEvent(internal("_ssr", parameters)), !c.kept);
        EXPECT_EQ(persisted->veredodaFeatureRollouts(), c.storedAfter);
    }
}

TEST_F(Pipeline, StoredRolloutsReachAppExceptionsAndPrecedeTheSessionStart) {
    persisted->setVeredodaFeatureRollouts("x");
    handleInternal("_ae");
    handleInternal("_s");
    const auto events = stored();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(*events[0].rawEvent.parameters().find("_ffr")->stringValue(), "x");
    EXPECT_EQ(events[1].rawEvent.name(), "_ssr");
    EXPECT_EQ(*events[1].rawEvent.parameters().find("_ffr")->stringValue(), "x");
    EXPECT_EQ(events[2].rawEvent.name(), "_s");
}

TEST_F(Pipeline, BackgroundEventsExtendOrStartSessions) {
    auto sessionStarts = [this] {
        std::vector<double> starts;
        for (const auto& event : stored()) {
            if (event.rawEvent.name() == "_s") starts.push_back(event.rawEvent.timestamp());
        }
        return starts;
    };
    // No activity yet: the session has expired, so the event starts one.
    APMSetAppActive(false);
    log("bg", {{"extend_session", platform::PropertyValue(1LL)}}, 1.7e9 + 5);
    EXPECT_EQ(sessionStarts(), std::vector<double>{1.7e9 + 5});
    dispatcher.advance(10);
    log("bg", {{"extend_session", platform::PropertyValue(1LL)}});
    const double extendedAt = now();
    EXPECT_EQ(persisted->lastSessionActivityClockTime(), extendedAt);
    dispatcher.advance(10);
    log("bg", {{"extend_session", platform::PropertyValue(2LL)}});
    EXPECT_EQ(persisted->lastSessionActivityClockTime(), extendedAt);
    EXPECT_EQ(monitor.linesWithCode(23179).size(), 1u);
    APMSetAppActive(true);
    dispatcher.advance(10);
    log("fg", {{"extend_session", platform::PropertyValue(1LL)}});
    EXPECT_EQ(persisted->lastSessionActivityClockTime(), extendedAt);
    EXPECT_EQ(sessionStarts().size(), 1u);
    APMSetAppActive(false);
}

TEST_F(Pipeline, DefaultsSetBeforeTheFirstAppEventOfThisRunAreBackfilled) {
    engine->setInitTimestamp(now() - 1);
    handleInternal("_f");
    engine->setDefaultEventParameters(APMMeasurement::DefaultParameterEntries{{"campaign", APMObject(platform::PropertyValue("spring"))}});
    dispatcher.drain();
    EXPECT_EQ(*stored().at(0).rawEvent.parameters().find("campaign")->stringValue(), "spring");
    log("app_event");
    engine->setDefaultEventParameters(APMMeasurement::DefaultParameterEntries{{"later", APMObject(platform::PropertyValue(1LL))}});
    dispatcher.drain();
    EXPECT_FALSE(stored().at(0).rawEvent.parameters().contains("later"));
}

}  // namespace
}  // namespace engine_test
