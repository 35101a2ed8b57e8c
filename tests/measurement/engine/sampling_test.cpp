// Event sampling: which occurrences are kept, the parameters they carry and
// the sampling columns of the event aggregates.

#include "EngineTestSupport.h"
#include "measurement/messages/EventConversion.h"

namespace engine_test {
namespace {

constexpr double kNoon = 1700049600.0;  // 12:00 UTC
constexpr std::int32_t kToday = 19676;  // kNoon / 86400

class Sampling : public EngineFixture {
protected:
    void SetUp() override {
        writeBundleIdentifier();
        startWithoutStartRecords();
    }
    // Sampling on (unless `enabled` is false) with `rate` for "sampled".
    void configure(std::int32_t rate, bool enabled = true, const std::string& offsetMinutes = "0") {
        auto config = makeConfig(kAppID, {{"measurement.event_sampling_enabled", enabled ? "1" : "0"},
                                          {"measurement.account.time_zone_offset_minutes", offsetMinutes}});
        auto entry = APMPBEventConfig::initWithBuffer({});
        APMPBSetString(*entry, EventConfigSlot::Name, "sampled");
        APMPBSetInt32(*entry, EventConfigSlot::SamplingRate, rate);
        APMPBSetArray(*config, MeasurementConfigSlot::EventConfigs, APMPBArrayOfMessages(std::vector{entry}));
        applySettings({}, config);
    }

    void storeAggregates(const std::string& name, std::int32_t lastBundledDay) {
        APMEventAggregates aggregates(name, 1, 1, 1, kNoon);
        aggregates.lastBundledDay = lastBundledDay;
        ASSERT_TRUE(engine->database()->updateEventAggregates(aggregates, nullptr));
    }

    APMEventAggregates aggregates(const std::string& name) {
        return *engine->database()->eventAggregatesWithName(name).value;
    }

    static std::shared_ptr<APMPBEvent> event(const std::string& name, double seconds, APMParameters parameters = {},
                                             double previousSeconds = 0) {
        return APMPBEventWithContents(name, seconds, previousSeconds, parameters);
    }

    static std::optional<std::int64_t> intParam(const APMPBEvent& event, const std::string& name) {
        auto p = param(event, name);
        return p ? std::optional(APMPBGetInt64(*p, EventParamSlot::IntValue)) : std::nullopt;
    }

    std::vector<std::shared_ptr<APMPBEvent>> sample(std::vector<std::shared_ptr<APMPBEvent>> events) {
        APMError error;
        auto kept = engine->sampleEvents(events, &error);
        EXPECT_TRUE(kept) << error.text();
        return kept.value_or(std::vector<std::shared_ptr<APMPBEvent>>{});
    }
};

TEST_F(Sampling, WithoutSamplingNamedEventsAreKeptAndTheirLastBundledDayAdvances) {
    configure(10, false);
    storeAggregates("sampled", 0);
    const auto kept = sample({event("sampled", kNoon), event("", kNoon)});
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_FALSE(intParam(*kept[0], "_sr"));
    EXPECT_EQ(monitor.linesWithCode(23155).size(), 1u);
    EXPECT_EQ(aggregates("sampled").lastBundledDay, kToday);
    EXPECT_EQ(aggregates("sampled").lastBundledTimestamp, kNoon);
}

TEST_F(Sampling, RateTenDecidesByTheRollAndTheLastBundledDay) {
    struct Case {
        const char* label;
        bool rolledIn;
        std::int32_t lastBundledDay;
        double previousSeconds;
        bool kept;
        bool exempt;
        std::optional<std::int64_t> complexEventID;
    };
    const Case cases[] = {
        {"rolled in", true, kToday, 0, true, false, std::nullopt},
        {"rolled out on the same day", false, kToday, 0, false, false, 42},
        {"rolled out, first after midnight", false, kToday - 1, 0, true, true, std::nullopt},
        {"never bundled, no previous time", false, 0, 0, true, true, std::nullopt},
        {"never bundled, previous time today", false, 0, kNoon - 60, false, false, 42},
    };
    configure(10);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        storeAggregates("sampled", c.lastBundledDay);
        engine->setSamplingRollForTesting([&](std::uint32_t rate) {
            EXPECT_EQ(rate, 10u);
            return c.rolledIn;
        });
        const auto kept =
            sample({event("sampled", kNoon, {{"_eid", APMValue(std::int64_t{42})}}, c.previousSeconds)});
        ASSERT_EQ(kept.size(), c.kept ? 1u : 0u);
        if (c.kept) {
            EXPECT_EQ(intParam(*kept[0], "_sr"), 10);
            EXPECT_EQ(intParam(*kept[0], "_efs"), c.exempt ? std::optional<std::int64_t>(1) : std::nullopt);
        }
        const APMEventAggregates stored = aggregates("sampled");
        EXPECT_EQ(stored.lastSamplingRate, 10);
        EXPECT_EQ(stored.lastExemptFromSampling, c.exempt);
        EXPECT_EQ(stored.lastSampledComplexEventID, c.complexEventID);
        EXPECT_EQ(stored.lastBundledDay, c.kept ? kToday : c.lastBundledDay);
        ASSERT_TRUE(engine->database()->reset(nullptr));
    }
}

TEST_F(Sampling, AnOutOfRangeRateMakesTheEventUnsampled) {
    for (std::int32_t rate : {1, 70000}) {
        configure(rate);
        engine->setSamplingRollForTesting([](std::uint32_t) { return false; });
        const auto kept = sample({event("sampled", kNoon)});
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_FALSE(intParam(*kept[0], "_sr"));
    }
    EXPECT_EQ(monitor.linesWithCode(23154).size(), 2u);
}

TEST_F(Sampling, TheAccountOffsetMovesTheDayBoundary) {
    // 10:00 UTC belongs to the previous day at -15 hours.
    configure(10, true, "-900");
    storeAggregates("sampled", kToday - 1);
    engine->setSamplingRollForTesting([](std::uint32_t) { return false; });
    EXPECT_TRUE(sample({event("sampled", kNoon - 7200)}).empty());
}

TEST_F(Sampling, BundlingWithSamplingEmptiedDropsTheBundleAndGoesOn) {
    configure(10);
    engine->setSamplingRollForTesting([](std::uint32_t) { return false; });
    storeAggregates("sampled", 0);
    log("sampled");  // today's first occurrence is exempt
    log("sampled");
    ASSERT_TRUE(bundle());
    ASSERT_EQ(queued().size(), 1u);
    EXPECT_EQ(eventNames(*queued()[0]), std::vector<std::string>{"sampled"});
    log("sampled");
    EXPECT_TRUE(bundle());
    EXPECT_EQ(queued().size(), 1u);
    EXPECT_TRUE(stored().empty());
    EXPECT_EQ(monitor.linesWithCode(23159).size(), 1u);
}

}  // namespace
}  // namespace engine_test
