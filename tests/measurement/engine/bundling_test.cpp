// Bundling of raw events: grouping, limits, the wire form of events, and
// rows that can never be bundled.

#include "EngineTestSupport.h"
#include "measurement/interface/APMConsentSettingsUtil.h"

namespace engine_test {
namespace {

class Bundling : public EngineFixture {
protected:
    void SetUp() override {
        writeBundleIdentifier();
        startWithoutStartRecords();
    }
};

TEST_F(Bundling, StoredEventsBecomeOneBundleWithItsFields) {
    const double t = 1.7e9 + 10;
    log("alpha", {}, t);
    log("beta", {}, t + 1);
    log("gamma", {}, t + 2.5);
    EXPECT_TRUE(bundle());
    EXPECT_FALSE(bundle());  // nothing left: the table is empty
    EXPECT_TRUE(stored().empty());
    const auto bundles = queued();
    ASSERT_EQ(bundles.size(), 1u);
    const APMPBMeasurementBundle& b = *bundles[0];
    EXPECT_EQ(eventNames(b), (std::vector<std::string>{"alpha", "beta", "gamma"}));
    EXPECT_EQ(APMPBGetInt64(b, bundleSlot(5)), 1700000010000);
    EXPECT_EQ(APMPBGetInt64(b, bundleSlot(6)), 1700000012500);
    EXPECT_EQ(APMPBGetInt32(b, bundleSlot(23)), 3);
    EXPECT_EQ(APMPBGetInt32(b, bundleSlot(77)), 1);
    EXPECT_EQ(APMPBGetString(b, bundleSlot(8)), "macos");
    EXPECT_FALSE(APMPBGetString(b, bundleSlot(14)).value_or("").empty());
    EXPECT_FALSE(APMPBHasField(b, bundleSlot(39)));
    EXPECT_EQ(engine->suspendedUploadTimestamp(), 0.0);
}

TEST_F(Bundling, ItemsKeepTheirNestedStructure) {
    const PropertyArray items{PropertyValue(PropertyDictionary{{"a", PropertyValue(1LL)}}),
                              PropertyValue(PropertyDictionary{{"b", PropertyValue("x")}})};
    log("view_item", {{"items", PropertyValue(items)}});
    ASSERT_TRUE(bundle());
    const auto bundles = queued();
    ASSERT_EQ(bundles.size(), 1u);
    const auto events = APMPBGetMessages<APMPBEvent>(*bundles[0], MeasurementBundleSlot::Events);
    ASSERT_EQ(events.size(), 1u);
    const auto itemsParam = param(*events[0], "items");
    ASSERT_TRUE(itemsParam);
    const auto elements = APMPBGetMessages<APMPBEventParam>(*itemsParam, EventParamSlot::ParamValue);
    ASSERT_EQ(elements.size(), 2u);
    const auto first = APMPBGetMessages<APMPBEventParam>(*elements[0], EventParamSlot::ParamValue);
    const auto second = APMPBGetMessages<APMPBEventParam>(*elements[1], EventParamSlot::ParamValue);
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(APMPBGetString(*first[0], EventParamSlot::Name), "a");
    EXPECT_EQ(APMPBGetInt64(*first[0], EventParamSlot::IntValue), 1);
    EXPECT_EQ(APMPBGetString(*second[0], EventParamSlot::Name), "b");
    EXPECT_EQ(APMPBGetString(*second[0], EventParamSlot::StringValue), "x");
}

TEST_F(Bundling, AnUndecodableOldestRowIsDroppedCountedAndTheRestBundles) {
    ASSERT_TRUE(engine->database()->insertRawEvent("junk", 1.7e9, APMBytes{0xff, 0xff, 0xff}, 42, false, nullptr));
    log("after");
    EXPECT_TRUE(bundle());  // the poison row goes
    EXPECT_TRUE(queued().empty());
    EXPECT_EQ(storedNames(), std::vector<std::string>{"after"});
    EXPECT_TRUE(bundle());
    const auto bundles = queued();
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_EQ(eventNames(*bundles[0]), std::vector<std::string>{"after"});
    std::int64_t dropped = 0;
    for (const auto& signal : APMPBGetMessages<APMPBDiagnosticSignal>(*bundles[0], bundleSlot(89))) {
        if (APMPBGetString(*signal, 0) == "raw_event_dropped_count" &&
            APMPBGetString(*signal, 2) == "undecodable_event") {
            dropped += APMPBGetInt64(*signal, 3);
        }
    }
    EXPECT_EQ(dropped, 1);
}

TEST_F(Bundling, RowsWhoseMetadataIsGoneAreDropped) {
    log("orphan");
    const std::int64_t fingerprint = engine->database()->allRawEvents().value->front().metadataFingerprint;
    ASSERT_TRUE(engine->database()->deleteRawEventMetadataWithMetadataFingerprint(fingerprint, nullptr));
    EXPECT_TRUE(bundle());
    EXPECT_TRUE(stored().empty());
    EXPECT_TRUE(queued().empty());
    EXPECT_EQ(signalCount("raw_event_dropped_count", "missing_metadata"), 1);
}

TEST_F(Bundling, AllBlocklistedEventsAreDeletedAndCountAsWorkDone) {
    log("bad");
    log("worse");
    auto config = makeConfig(kAppID);
    std::vector<std::shared_ptr<APMPBEventConfig>> blocked;
    for (const char* name : {"bad", "worse"}) {
        auto entry = APMPBEventConfig::initWithBuffer({});
        APMPBSetString(*entry, EventConfigSlot::Name, name);
        APMPBSetBool(*entry, EventConfigSlot::Blocklisted, true);
        blocked.push_back(entry);
    }
    APMPBSetArray(*config, MeasurementConfigSlot::EventConfigs, APMPBArrayOfMessages(blocked));
    applySettings({}, config);
    EXPECT_TRUE(bundle());
    EXPECT_TRUE(stored().empty());
    EXPECT_TRUE(queued().empty());
    EXPECT_EQ(monitor.linesWithCode(23100).size(), 1u);
    EXPECT_FALSE(bundle());
}

TEST_F(Bundling, ClockHoursAndTheEventLimitSplitBundles) {
    applySettings({{"measurement.upload.max_events_per_bundle", "2"}});
    const double hour = 3600.0 * 472222;  // the start of an hour
    log("a", {}, hour + 1);
    log("b", {}, hour + 2);
    log("c", {}, hour + 3);
    log("d", {}, hour + 3600 + 1);
    while (bundle()) {
    }
    const auto bundles = queued();
    ASSERT_EQ(bundles.size(), 3u);
    EXPECT_EQ(eventNames(*bundles[0]), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(eventNames(*bundles[1]), std::vector<std::string>{"c"});
    EXPECT_EQ(eventNames(*bundles[2]), std::vector<std::string>{"d"});
}

TEST_F(Bundling, AFirstOpenCarriesItsEngagementTimeAsAnEventField) {
    log("_f", {{"_elt", PropertyValue(1234LL)}}, 0, "auto", false);
    ASSERT_TRUE(bundle());
    const auto bundles = queued();
    ASSERT_EQ(bundles.size(), 1u);
    const auto events = APMPBGetMessages<APMPBEvent>(*bundles[0], MeasurementBundleSlot::Events);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FALSE(param(*events[0], "_elt"));
    EXPECT_EQ(APMPBGetInt64(*events[0], 5), 1234);
}

TEST_F(Bundling, EngagementTimeFeedsTheLifetimeAndSessionProperties) {
    log("_e", {{"_et", PropertyValue(300LL)}}, 0, "auto", false);
    log("_e", {{"_et", PropertyValue(200LL)}, {"_fr", PropertyValue(1LL)}}, 0, "auto", false);
    ASSERT_TRUE(bundle());
    EXPECT_EQ(engine->database()->userAttributeWithName("_lte").value->value().int64Value(), 300);
    EXPECT_EQ(engine->database()->userAttributeWithName("_se").value->value().int64Value(), 300);
    std::map<std::string, std::int64_t> inBundle;
    for (const auto& attribute : APMPBGetMessages<APMPBUserAttribute>(*queued()[0], bundleSlot(3))) {
        inBundle[APMPBGetString(*attribute, UserAttributeSlot::Name).value_or("")] =
            APMPBGetInt64(*attribute, UserAttributeSlot::IntValue);
    }
    EXPECT_EQ(inBundle["_lte"], 300);
    EXPECT_EQ(inBundle["_se"], 300);
}

TEST_F(Bundling, UnderAnalyticsDenialTheBundleCarriesNoIdentifiersOrStitchingToken) {
    APMConsentSettingsUtil::setConsentSettings(
        APMConsentSettings{{kAPMConsentTypeAnalyticsStorage, PropertyValue("denied")}});
    applySettings({{"measurement.session_stitching_token_enabled", "1"}});
    log("quiet");
    ASSERT_TRUE(bundle());
    const auto bundles = queued();
    APMConsentSettingsUtil::resetForTesting();
    ASSERT_EQ(bundles.size(), 1u);
    for (int tag : {21, 27, 63}) EXPECT_FALSE(APMPBHasField(*bundles[0], bundleSlot(tag))) << tag;
    EXPECT_TRUE(APMPBGetArray(*bundles[0], bundleSlot(29)).value_or(APMPBArray{}).empty());
    EXPECT_EQ(APMPBGetString(*bundles[0], bundleSlot(52)), "G1-0");
}

TEST_F(Bundling, TheBatchSizeAndAGapInRowIDsSplitBundles) {
    const auto same = [](const std::string& name) {
        return APMObjectParameters{{"text", PropertyValue(std::string(300, 'x'))}, {"n", PropertyValue(name)}};
    };
    using Names = std::vector<std::vector<std::string>>;
    const struct {
        const char* label;
        bool twoPerBatch;     // max_batch_size fits two of the rows, not three
        bool dropSecondRow;   // the second row's ID is missing
        Names bundled;
    } cases[] = {
        {"the batch size", true, false, {{"a", "b"}, {"c"}}},
        {"a gap in row IDs", false, true, {{"a"}, {"c"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        discardStartRecords();
        for (const char* name : {"a", "b", "c"}) log(name, same(name));
        const auto rows = *engine->database()->allRawEvents().value;
        ASSERT_EQ(rows.size(), 3u);
        applySettings(c.twoPerBatch ? Settings{{"measurement.upload.max_batch_size",
                                                std::to_string(2 * rows[0].data.size() + 1)}}
                                    : Settings{});
        APMError error;
        if (c.dropSecondRow) {
            ASSERT_TRUE(engine->database()->deleteRawEventWithRowID(rows[1].rowID, &error)) << error.text();
        }
        while (bundle()) {
        }
        Names bundled;
        for (const auto& b : queued()) bundled.push_back(eventNames(*b));
        EXPECT_EQ(bundled, c.bundled);
    }
}

TEST_F(Bundling, TheRealTimeDailyLimitHoldsAtWriteTimeAndAtBundling) {
    applySettings({{"measurement.upload.max_realtime_events_per_day", "1"}});
    const auto realtime = [this](const std::string& name) {
        log(name, {{"_r", PropertyValue(std::int64_t{1})}}, 0, "auto", false);
    };
    const auto storedRealtime = [this] {
        std::vector<bool> flags;
        const auto rows = engine->database()->allRawEvents();
        for (const auto& row : rows.value.value_or(std::vector<APMRawEventRecord>{})) flags.push_back(row.isRealtime);
        return flags;
    };
    // Both are written real-time: nothing was counted yet today.
    realtime("first");
    realtime("second");
    EXPECT_EQ(storedRealtime(), (std::vector<bool>{true, true}));
    // Bundling counts the first and takes the flag off the second.
    ASSERT_TRUE(bundle());
    const auto bundles = queued();
    ASSERT_EQ(bundles.size(), 1u);
    const auto events = eventsOf(*bundles[0]);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(param(*events[0], "_r"));
    EXPECT_FALSE(param(*events[1], "_r"));
    EXPECT_EQ(monitor.linesWithCode(23104).size(), 1u);
    // With today's count used up, the next one is written without the flag.
    realtime("third");
    EXPECT_EQ(storedRealtime(), std::vector<bool>{false});
    EXPECT_EQ(monitor.linesWithCode(23060).size(), 1u);
}

// Without any app ID (no main-bundle identifier) the queue would refuse every
// bundle: nothing is bundled and nothing is dropped, the events wait (one line
// says why), and they leave once the main bundle names the app.
class BundlingWithoutAppID : public EngineFixture {
protected:
    void SetUp() override { start(); }
};

TEST_F(BundlingWithoutAppID, EventsWaitUntilTheMainBundleHasAnIdentifier) {
    discardStartRecords();
    log("one");
    log("two");
    EXPECT_FALSE(engine->bundleRawEvents());
    EXPECT_FALSE(engine->bundleRawEvents());
    EXPECT_EQ(stored().size(), 2u);
    EXPECT_TRUE(engine->database()->isQueuedBundleTableEmpty().value.value_or(false));
    EXPECT_EQ(signalCount("raw_event_dropped_count", "bundle_refused"), 0);
    EXPECT_EQ(monitor.linesWithCode(23991).size(), 1u);

    writeBundleIdentifier();
    EXPECT_TRUE(engine->bundleRawEvents());
    EXPECT_TRUE(stored().empty());
    EXPECT_FALSE(engine->database()->isQueuedBundleTableEmpty().value.value_or(true));
}

}  // namespace
}  // namespace engine_test
