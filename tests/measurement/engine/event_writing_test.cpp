// The event road from the engine's entry to the stored raw event: stored
// rows and their metadata, intake refusals, default parameters, safelist,
// subscription de-duplication, blocklist, daily limits, name cardinality,
// debug flags and the storage cap.

#include <cmath>
#include <limits>

#include "EngineTestSupport.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/storage/APMDigest.h"

namespace engine_test {
namespace {

class EventWriting : public EngineFixture {
protected:
    void SetUp() override { startWithoutStartRecords(); }
    // Names of every row, also rows whose data is no encoded event.
    std::vector<std::string> storedNamesOfAllRows() {
        std::vector<std::string> names;
        for (const auto& row : engine->database()->allRawEvents().value.value_or(std::vector<APMRawEventRecord>{})) {
            names.push_back(row.name);
        }
        return names;
    }
};

const APMValue* param(const APMRawEventData& event, const std::string& name) {
    return event.rawEvent.parameters().find(name);
}

std::vector<std::string> metadataUserPropertyNames(APMDatabase& database, std::int64_t fingerprint) {
    auto bytes = database.queryRawEventsMetadataWithFingerprint(fingerprint);
    EXPECT_TRUE(bytes.value);
    auto bundle = APMPBMeasurementBundle::initWithBuffer(bytes.value.value_or(APMBytes{}));
    EXPECT_TRUE(bundle);
    std::vector<std::string> names;
    if (!bundle) return names;
    for (const auto& attribute : APMPBGetMessages<APMPBUserAttribute>(*bundle, MeasurementBundleSlot::UserAttributes)) {
        names.push_back(APMPBGetString(*attribute, UserAttributeSlot::Name).value_or(""));
    }
    return names;
}

TEST_F(EventWriting, AStoredRowDecodesToTheEventWithItsOriginAndMetadata) {
    log("level_up", {{"level", APMValue(std::int64_t{3})}, {"hero", platform::PropertyValue("ann")}}, 1.7e9 + 0.25);
    const auto events = stored();
    ASSERT_EQ(events.size(), 1u);
    const APMRawEventData& row = events[0];
    EXPECT_EQ(row.rawEvent.name(), "level_up");
    EXPECT_EQ(row.rawEvent.origin(), "app");
    ASSERT_TRUE(param(row, "_o"));
    EXPECT_EQ(*param(row, "_o")->stringValue(), "app");
    EXPECT_EQ(param(row, "level")->int64Value(), 3);
    EXPECT_EQ(*param(row, "hero")->stringValue(), "ann");
    EXPECT_DOUBLE_EQ(row.rawEvent.timestamp(), 1.7e9 + 0.25);

    auto metadata = engine->database()->queryRawEventsMetadataWithFingerprint(row.metadataFingerprint);
    ASSERT_TRUE(metadata.value);
    EXPECT_EQ(APM64LSBMD5(metadata.value->data(), metadata.value->size()), row.metadataFingerprint);
    auto bundle = APMPBMeasurementBundle::initWithBuffer(*metadata.value);
    ASSERT_TRUE(bundle);
    EXPECT_EQ(APMPBGetString(*bundle, MeasurementBundleSlot::Platform), "macos");
    EXPECT_EQ(APMPBGetInt32(*bundle, MeasurementBundleSlot::ProtocolVersion), 1);
    // A new event type gets its aggregates row with zero counts at write time.
    auto aggregates = engine->database()->eventAggregatesWithName("level_up");
    ASSERT_TRUE(aggregates.value);
    EXPECT_EQ(aggregates.value->lifetimeCount(), 0);
}

TEST_F(EventWriting, EventsShareMetadataUntilAUserPropertyChanges) {
    log("a");
    log("b");
    ASSERT_TRUE(engine->setUserPropertyInDatabaseOnWorkerQueue(APMUserAttribute("app", "tier", APMValue("gold"), now())));
    log("c");
    const auto events = stored();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].metadataFingerprint, events[1].metadataFingerprint);
    EXPECT_NE(events[1].metadataFingerprint, events[2].metadataFingerprint);
    EXPECT_TRUE(metadataUserPropertyNames(*engine->database(), events[0].metadataFingerprint).empty());
    EXPECT_EQ(metadataUserPropertyNames(*engine->database(), events[2].metadataFingerprint),
              std::vector<std::string>{"tier"});
}

TEST_F(EventWriting, EventsShareMetadataWhileTheConsentStaysTheSame) {
    const auto consentSignals = [&](const APMRawEventData& event) {
        auto bytes = engine->database()->queryRawEventsMetadataWithFingerprint(event.metadataFingerprint);
        auto bundle = APMPBMeasurementBundle::initWithBuffer(bytes.value.value_or(APMBytes{}));
        EXPECT_TRUE(bundle);
        return bundle ? APMPBGetString(*bundle, MeasurementBundleSlot::ConsentSignals).value_or("") : "";
    };
    log("a");
    log("b");
    APMConsentSettingsUtil::setConsentSettings(
        APMConsentSettings{{kAPMConsentTypeAnalyticsStorage, platform::PropertyValue("denied")}});
    log("c");
    APMConsentSettingsUtil::resetForTesting();
    log("d");
    const auto events = stored();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].metadataFingerprint, events[1].metadataFingerprint);
    EXPECT_NE(events[1].metadataFingerprint, events[2].metadataFingerprint);
    EXPECT_EQ(events[3].metadataFingerprint, events[0].metadataFingerprint);
    EXPECT_EQ(consentSignals(events[2]), "G1-0");
    EXPECT_NE(consentSignals(events[0]), "G1-0");
}

TEST_F(EventWriting, OnDeviceValuesEnterTheMetadataOnlyWhileStored) {
    auto onDeviceInfo = [&](const APMRawEventData& event) {
        auto bytes = engine->database()->queryRawEventsMetadataWithFingerprint(event.metadataFingerprint);
        auto bundle = APMPBMeasurementBundle::initWithBuffer(bytes.value.value_or(APMBytes{}));
        EXPECT_TRUE(bundle);
        return bundle ? APMPBGetMessage<APMPBOnDeviceMeasurementInfo>(*bundle,
                                                                      MeasurementBundleSlot::OnDeviceMeasurementInfo)
                      : nullptr;
    };
    log("a");
    APMError error;
    ASSERT_TRUE(engine->database()->updateODMValue("7", "odm1_value", 1.7e9 + 0.25, &error));
    ASSERT_TRUE(engine->database()->updateODMValue("g2", "odm2_group_id", 1.7e9, &error));
    log("b");
    ASSERT_TRUE(engine->database()->deleteODMValueWithName("odm1_value", &error));
    ASSERT_TRUE(engine->database()->deleteODMValueWithName("odm2_group_id", &error));
    log("c");
    const auto events = stored();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(onDeviceInfo(events[0]), nullptr);
    EXPECT_EQ(onDeviceInfo(events[2]), nullptr);
    EXPECT_EQ(events[0].metadataFingerprint, events[2].metadataFingerprint);
    const auto info = onDeviceInfo(events[1]);
    ASSERT_TRUE(info);
    const auto first = APMPBGetMessage<APMPBOnDeviceMeasurementValue>(*info, 0);
    ASSERT_TRUE(first);
    EXPECT_EQ(APMPBGetInt64(*first, OnDeviceMeasurementValueSlot::SetTimestamp), 1700000000250);
    EXPECT_EQ(APMPBGetString(*first, OnDeviceMeasurementValueSlot::Value), "7");
    const auto group = APMPBGetMessage<APMPBOnDeviceMeasurementValue>(*info, 6);
    ASSERT_TRUE(group);
    EXPECT_EQ(APMPBGetString(*group, OnDeviceMeasurementValueSlot::Value), "g2");
    EXPECT_FALSE(APMPBHasField(*info, 1));
}

TEST_F(EventWriting, TimestampsTheQueueCouldNotCarryAreRefusedAtIntake) {
    for (double timestamp : {0.0005, -1.0, std::nan(""), std::numeric_limits<double>::infinity(), 253402300800.0}) {
        monitor.clear();
        log("late", {}, timestamp);
        EXPECT_EQ(monitor.linesWithCode(23219).size(), 1u) << timestamp;
    }
    EXPECT_TRUE(stored().empty());
    log("ok", {}, 0.001);
    EXPECT_EQ(storedNames(), std::vector<std::string>{"ok"});
}

TEST_F(EventWriting, DefaultParametersYieldToTheEventsOwnAndSkipErrorEvents) {
    engine->setDefaultEventParameters(APMMeasurement::DefaultParameterEntries{
        {"a", APMObject(platform::PropertyValue(1LL))}, {"b", APMObject(platform::PropertyValue("d"))}});
    dispatcher.drain();
    log("with", {{"a", platform::PropertyValue(2LL)}});
    log("_err", {{"_err", platform::PropertyValue(3LL)}}, 0, "auto", false);
    engine->setDefaultEventParameters(APMMeasurement::DefaultParameterEntries{{"b", std::nullopt}});
    dispatcher.drain();
    log("after");
    const auto events = stored();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(param(events[0], "a")->int64Value(), 2);
    EXPECT_EQ(*param(events[0], "b")->stringValue(), "d");
    EXPECT_FALSE(param(events[1], "a"));
    EXPECT_EQ(param(events[2], "a")->int64Value(), 1);
    EXPECT_FALSE(param(events[2], "b"));
}

TEST_F(EventWriting, DefaultParametersBeyondTheLimitDropTheAlphabeticallyLast) {
    applySettings({{"measurement.upload.max_public_event_params", "25"}});
    APMMeasurement::DefaultParameterEntries entries;
    for (int i = 0; i < 26; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "p%02d", i);
        entries.emplace_back(name, APMObject(platform::PropertyValue(static_cast<long long>(i))));
    }
    engine->handleSetDefaultEventParametersOnWorkerQueue(entries, false);
    const auto defaults = persisted->defaultEventParameters();
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->size(), 25u);
    EXPECT_FALSE(defaults->contains("p25"));
    EXPECT_EQ(errorCodes(), std::vector<std::int64_t>{26});
    EXPECT_EQ(monitor.linesWithCode(23215).size(), 1u);
}

TEST_F(EventWriting, TheSafelistMarksListedEventsAndDropsTheRest) {
    engine.reset();
    dispatcher.drain();
    engine = APMMeasurement::create(kAppID, true, false, {"a"}, configuration());
    dispatcher.drain();
    discardStartRecords();
    monitor.clear();
    log("a");
    log("b");
    const auto events = stored();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(param(events[0], "va_safelisted")->int64Value(), 1);
    EXPECT_EQ(monitor.linesWithCode(23174).size(), 1u);
    EXPECT_EQ(signalCount("event_dropped_count", "not_safelisted"), 1);
}

TEST_F(EventWriting, ASubscriptionSeenBeforeIsDropped) {
    const APMObjectParameters purchase{{"subscription", platform::PropertyValue(1LL)},
                                       {"_did", platform::PropertyValue(77LL)},
                                       {"product_id", platform::PropertyValue("gold")}};
    log("_iap", purchase, 0, "auto", false);
    log("_iap", purchase, 0, "auto", false);
    EXPECT_EQ(storedNames(), std::vector<std::string>{"_iap"});
    EXPECT_EQ(monitor.linesWithCode(23182).size(), 1u);
}

TEST_F(EventWriting, TheBlocklistDropsEventsAndReportsOnlyWithoutTheGlobalSwitches) {
    auto config = makeConfig(kAppID);
    auto blocked = APMPBEventConfig::initWithBuffer({});
    APMPBSetString(*blocked, 0, "bad");
    APMPBSetBool(*blocked, 1, true);
    APMPBSetArray(*config, 4, APMPBArrayOfMessages(std::vector{blocked}));
    applySettings({}, config);
    log("bad");
    EXPECT_TRUE(stored().empty());
    ASSERT_EQ(errorEvents.size(), 1u);
    EXPECT_EQ(errorEvents[0].parameters.find("_err")->int64Value(), 11);
    EXPECT_EQ(*errorEvents[0].parameters.find("_ev")->stringValue(), "bad");
    EXPECT_EQ(signalCount("event_dropped_count", "blocklisted"), 1);

    applySettings({{"measurement.upload.blacklist_public", "1"}});
    log("any");
    EXPECT_TRUE(stored().empty());
    EXPECT_EQ(errorEvents.size(), 1u);
}

TEST_F(EventWriting, TheDailyLimitLogsEveryThousandthDropAndRestartsTheNextDay) {
    const std::int32_t day = engine->currentDayNumber();
    ASSERT_TRUE(engine->database()->updateDailyCounts(APMDailyCounts(day, 0, 100000, 0, 0, 0, 0), nullptr));
    log("over");
    EXPECT_EQ(monitor.linesWithCode(23055).size(), 1u);
    EXPECT_EQ(signalCount("event_dropped_count", "quota_exceeded"), 1);
    // Dropped at the all-events limit, the event still counts.
    EXPECT_EQ(engine->database()->dailyCounts().value->allEventsCount(), 100001);
    ASSERT_TRUE(engine->database()->updateDailyCounts(APMDailyCounts(day, 0, 100999, 0, 0, 0, 0), nullptr));
    log("over");
    EXPECT_EQ(monitor.linesWithCode(23055).size(), 1u);
    log("over");
    EXPECT_EQ(monitor.linesWithCode(23055).size(), 2u);
    EXPECT_TRUE(stored().empty());

    dispatcher.advance(86400);
    log("tomorrow");
    EXPECT_EQ(storedNames(), std::vector<std::string>{"tomorrow"});
    EXPECT_EQ(engine->database()->dailyCounts().value->allEventsCount(), 1);
}

TEST_F(EventWriting, PublicLimitRaisesErrorSixteenOnEveryDropAndGivesBackTheAllCount) {
    const std::int32_t day = engine->currentDayNumber();
    ASSERT_TRUE(engine->database()->updateDailyCounts(APMDailyCounts(day, 0, 50000, 50000, 0, 0, 0), nullptr));
    log("p");
    log("p");
    EXPECT_TRUE(stored().empty());
    EXPECT_EQ(monitor.linesWithCode(23057).size(), 1u);
    EXPECT_EQ(errorCodes(), (std::vector<std::int64_t>{16, 16}));
    const APMDailyCounts counts = *engine->database()->dailyCounts().value;
    EXPECT_EQ(counts.allEventsCount(), 50000);
    EXPECT_EQ(counts.publicEventsCount(), 50002);
}

TEST_F(EventWriting, NameCardinalityStopsOnlyNewUnreservedPublicNames) {
    applySettings({{"measurement.upload.max_event_name_cardinality", "500"}});
    for (int i = 0; i < 500; ++i) {
        ASSERT_TRUE(engine->database()->updateEventAggregates(
            APMEventAggregates("e" + std::to_string(i), 1, 0, 0, 0), nullptr));
    }
    log("fresh");
    log("e7");
    log("ad_impression");
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"e7", "ad_impression"}));
    EXPECT_EQ(monitor.linesWithCode(23065).size(), 1u);
    EXPECT_EQ(errorCodes(), std::vector<std::int64_t>{8});
    EXPECT_EQ(signalCount("event_dropped_count", "event_cardinality_exceeded"), 1);
}

TEST_F(EventWriting, TheStorageCapDeletesTheOldestEvents) {
    applySettings({{"measurement.store.max_stored_events_per_app", "3"}});
    for (const char* name : {"e1", "e2", "e3", "e4"}) log(name);
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"e2", "e3", "e4"}));
    ASSERT_EQ(monitor.linesWithCode(23070).size(), 1u);
    EXPECT_NE(monitor.linesWithCode(23070)[0].find(", 1"), std::string::npos);
}

TEST_F(EventWriting, TheCapCountsRowsThroughRolledBackWrites) {
    applySettings({{"measurement.store.max_stored_events_per_app", "3"}});
    APMDatabase& database = *engine->database();
    for (const char* name : {"old1", "old2"}) ASSERT_TRUE(database.insertRawEvent(name, now(), {1}, 7, false, nullptr));
    // A write that is rolled back leaves neither its rows nor its count behind.
    EXPECT_FALSE(database.performTransaction([&] {
        for (int i = 0; i < 5; ++i) EXPECT_TRUE(database.insertRawEvent("gone", now(), {1}, 7, false, nullptr));
        EXPECT_EQ(database.deleteRawEventsOverAbsoluteLimit().value, 5);
        return false;
    }));
    log("new1");
    EXPECT_EQ(storedNamesOfAllRows(), (std::vector<std::string>{"old1", "old2", "new1"}));
    log("new2");
    EXPECT_EQ(storedNamesOfAllRows(), (std::vector<std::string>{"old2", "new1", "new2"}));
}

class DebugModeWriting : public EngineFixture {
protected:
    void SetUp() override { startWithoutStartRecords(); }
    storage_test::MonitorCapture debugMonitor{{"-APMAnalyticsDebugEnabled"}};
};

TEST_F(DebugModeWriting, EveryStoredEventIsRealtimeAndDebug) {
    log("plain");
    const auto events = stored();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(param(events[0], "_r")->int64Value(), 1);
    EXPECT_EQ(param(events[0], "_dbg")->int64Value(), 1);
    EXPECT_TRUE(engine->database()->allRawEvents().value->at(0).isRealtime);
}

}  // namespace
}  // namespace engine_test
