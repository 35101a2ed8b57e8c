// Bundle metadata: previous-bundle times and indexes, the app ID,
// engagement properties, consent identifiers and fields, and redaction.

#include "EngineTestSupport.h"
#include "measurement/engine/APMBundleConsent.h"
#include "measurement/messages/UserAttributeConversion.h"

namespace engine_test {
namespace {

std::shared_ptr<APMPBMeasurementBundle> emptyBundle() { return APMPBMeasurementBundle::initWithBuffer({}); }

std::shared_ptr<APMPBUserAttribute> attribute(const std::string& name, std::int64_t value) {
    return APMPBUserAttributeFromUserAttribute(APMUserAttribute("auto", name, APMValue(value), 1.7e9));
}

std::vector<std::string> attributeNames(const APMPBMeasurementBundle& bundle) {
    std::vector<std::string> names;
    for (const auto& a : APMPBGetMessages<APMPBUserAttribute>(bundle, bundleSlot(3))) {
        names.push_back(APMPBGetString(*a, UserAttributeSlot::Name).value_or(""));
    }
    return names;
}

class BundleMetadata : public EngineFixture {
protected:
    void SetUp() override {
        writeBundleIdentifier();
        startWithoutStartRecords();
    }
    void storeAppMetadata(double start, double end) {
        APMAppMetadata metadata = *engine->database()->queryAppMetadata().value;
        metadata.lastBundleStartTimestamp = start;
        metadata.lastBundleEndTimestamp = end;
        ASSERT_TRUE(engine->database()->updateAppMetadata(metadata, nullptr));
    }
};

TEST_F(BundleMetadata, PreviousBundleTimesComeFromTheStoredAppMetadata) {
    struct Case {
        double storedStart, storedEnd;
        std::optional<std::int64_t> previousEnd, previousStart;
    };
    const Case cases[] = {
        {0, 0, std::nullopt, std::nullopt},
        {100.5, 200.25, 200250, 100500},
        {0, 200, 200000, 200000},  // an end without a start serves for both
    };
    for (const Case& c : cases) {
        storeAppMetadata(c.storedStart, c.storedEnd);
        auto bundle = emptyBundle();
        ASSERT_TRUE(engine->updateAppMetadataForBundle(*bundle, 300, 400));
        const auto field = [&](int tag) {
            return APMPBHasField(*bundle, bundleSlot(tag)) ? std::optional(APMPBGetInt64(*bundle, bundleSlot(tag)))
                                                           : std::nullopt;
        };
        EXPECT_EQ(field(7), c.previousEnd);
        EXPECT_EQ(field(26), c.previousStart);
    }
}

TEST_F(BundleMetadata, FiveEventsRaiseTheBundleIndexByFiveAndTheDeliveryIndexByOne) {
    const APMAppMetadata before = *engine->database()->queryAppMetadata().value;
    auto bundle = emptyBundle();
    std::vector<std::shared_ptr<APMPBEvent>> events(5);
    for (auto& event : events) event = APMPBEvent::initWithBuffer({});
    APMPBSetArray(*bundle, bundleSlot(2), APMPBArrayOfMessages(events));
    ASSERT_TRUE(engine->updateAppMetadataForBundle(*bundle, 300, 400));
    EXPECT_EQ(APMPBGetInt32(*bundle, bundleSlot(23)), before.lastBundleIndex + 5);
    EXPECT_EQ(APMPBGetInt32(*bundle, bundleSlot(77)), before.lastDeliveryIndex + 1);
    const APMAppMetadata after = *engine->database()->queryAppMetadata().value;
    EXPECT_EQ(after.lastBundleStartTimestamp, 300);
    EXPECT_EQ(after.lastBundleEndTimestamp, 400);
}

TEST_F(BundleMetadata, AnEmptyAppIDIsFilledAndAStoredOneIsKept) {
    auto empty = emptyBundle();
    engine->addBundleMetadataIntoBundle(*empty, 1.5, 2.5);
    EXPECT_EQ(APMPBGetString(*empty, bundleSlot(14)), "org.mossbridge.test");
    EXPECT_EQ(APMPBGetInt64(*empty, bundleSlot(5)), 1500);
    EXPECT_EQ(APMPBGetInt64(*empty, bundleSlot(6)), 2500);
    auto stored = emptyBundle();
    APMPBSetString(*stored, bundleSlot(14), "kept.id");
    engine->addBundleMetadataIntoBundle(*stored, 1.5, 2.5);
    EXPECT_EQ(APMPBGetString(*stored, bundleSlot(14)), "kept.id");
}

TEST_F(BundleMetadata, EngagementAddsToAnIntegerTotalAndReplacesAnyOther) {
    struct Case {
        const char* label;
        std::optional<APMValue> stored;
        std::int64_t time;
        std::optional<std::int64_t> total;
    };
    const Case cases[] = {
        {"zero changes nothing", std::nullopt, 0, std::nullopt},
        {"first time", std::nullopt, 50, 50},
        {"integer total", APMValue(std::int64_t{100}), 50, 150},
        {"string replaced", APMValue("x"), 50, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        APMError error;
        ASSERT_TRUE(engine->database()->deleteUserAttributeWithName("_lte", &error));
        if (c.stored) {
            ASSERT_TRUE(engine->database()->updateUserAttribute(APMUserAttribute("auto", "_lte", *c.stored, 1), &error));
        }
        auto bundle = emptyBundle();
        ASSERT_TRUE(engine->updateUserEngagement(c.time, *bundle, false));
        auto stored = engine->database()->userAttributeWithName("_lte");
        if (!c.total) {
            EXPECT_TRUE(attributeNames(*bundle).empty());
            continue;
        }
        EXPECT_EQ(stored.value->value().int64Value(), *c.total);
        const auto inBundle = APMPBGetMessages<APMPBUserAttribute>(*bundle, bundleSlot(3));
        ASSERT_EQ(inBundle.size(), 1u);
        EXPECT_EQ(APMPBGetInt64(*inBundle[0], UserAttributeSlot::IntValue), *c.total);
    }
    auto bundle = emptyBundle();
    EXPECT_FALSE(engine->updateUserEngagement(-1, *bundle, true));
}

TEST_F(BundleMetadata, ConsentSignalsDecideWhichIdentifiersStay) {
    struct Case {
        const char* label;
        std::optional<std::string> storedSignals;
        std::string signals;
        bool overwrite;
        std::optional<std::string> expectedSignals;
        bool appInstanceID;  // field 21 present
        bool analyticsFieldsKept;  // fields 29 and 63 kept
    };
    const Case cases[] = {
        {"granted", std::nullopt, "G111", true, "G111", true, true},
        {"analytics denied", std::nullopt, "G110", true, "G110", false, false},
        {"analytics denied, lower case", std::nullopt, "G1-d", true, "G1-d", false, false},
        {"ad storage denied", std::nullopt, "G101", true, "G101", true, true},
        {"stored signals kept without overwrite", "G110", "G111", false, "G110", false, false},
        {"stored signals replaced with overwrite", "G110", "G111", true, "G111", true, true},
        {"empty signals clear the field", "G110", "", true, std::nullopt, true, true},
        {"short signals deny nothing", "G110", "G1", true, "G110", true, true},
    };
    const auto identity = engine->identity();
    ASSERT_TRUE(identity);
    const bool hasInstanceID = identity->appInstanceID().has_value();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        auto bundle = emptyBundle();
        if (c.storedSignals) APMPBSetString(*bundle, bundleSlot(52), *c.storedSignals);
        APMPBSetString(*bundle, bundleSlot(63), "token");
        APMPBSetArray(*bundle, bundleSlot(29), APMPBArray{});
        APMPBSetString(*bundle, bundleSlot(19), "device");
        applyConsentIdentifiersToBundle(*bundle, c.signals, false, identity.get(), c.overwrite);
        EXPECT_EQ(APMPBGetString(*bundle, bundleSlot(52)), c.expectedSignals);
        EXPECT_EQ(APMPBHasField(*bundle, bundleSlot(21)), c.appInstanceID && hasInstanceID);
        EXPECT_EQ(APMPBHasField(*bundle, bundleSlot(63)), c.analyticsFieldsKept);
        EXPECT_FALSE(APMPBHasField(*bundle, bundleSlot(27)));
    }
}

TEST_F(BundleMetadata, RedactionRemovesWhatTheDataControlsName) {
    struct Case {
        std::vector<std::string> names;
        std::string osVersion;
        bool deviceModel, token, userID, appInstanceID, ephemeralID;
    };
    const Case cases[] = {
        {{}, "14.2.1", true, true, true, true, false},
        {{"os_version"}, "14", true, true, true, true, false},
        {{"device_model"}, "14.2.1", false, true, true, true, false},
        {{"device_info"}, "14", false, true, true, true, false},
        {{"enhanced_user_id"}, "14.2.1", true, false, true, true, false},
        {{"user_id"}, "14.2.1", true, true, false, true, false},
        {{"app_instance_id"}, "14.2.1", true, true, true, false, true},
    };
    const auto identity = engine->identity();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.names.empty() ? "none" : c.names[0]);
        auto bundle = emptyBundle();
        APMPBSetString(*bundle, bundleSlot(9), "14.2.1");
        APMPBSetString(*bundle, bundleSlot(10), "Model1,1");
        APMPBSetString(*bundle, bundleSlot(21), "instance");
        APMPBSetString(*bundle, bundleSlot(63), "token");
        APMPBSetArray(*bundle, bundleSlot(3), APMPBArrayOfMessages(std::vector{attribute("_id", 1), attribute("_lte", 2)}));
        redactBundleFields(*bundle, c.names, identity.get());
        EXPECT_EQ(APMPBGetString(*bundle, bundleSlot(9)), c.osVersion);
        EXPECT_EQ(APMPBHasField(*bundle, bundleSlot(10)), c.deviceModel);
        EXPECT_EQ(APMPBHasField(*bundle, bundleSlot(63)), c.token);
        EXPECT_EQ(APMPBHasField(*bundle, bundleSlot(21)), c.appInstanceID);
        EXPECT_EQ(APMPBHasField(*bundle, bundleSlot(65)), c.ephemeralID);
        EXPECT_EQ(attributeNames(*bundle).front() == "_id", c.userID);
        const auto redacted = APMPBGetArray(*bundle, bundleSlot(64)).value_or(APMPBArray{});
        EXPECT_EQ(redacted.size(), c.names.size());
    }
}

TEST_F(BundleMetadata, ConsentFieldsAndTheNPAAttributeFollowOverwrite) {
    const auto config = engine->remoteConfigInstance();
    auto bundle = emptyBundle();
    APMPBSetArray(*bundle, bundleSlot(3), APMPBArrayOfMessages(std::vector{attribute("_npa", 0)}));
    applyConsentFieldsToBundle(*bundle, "1234", true, attribute("_npa", 1), config.get(), false);
    EXPECT_EQ(APMPBGetString(*bundle, bundleSlot(71)), "1234");
    EXPECT_EQ(APMPBGetString(*bundle, bundleSlot(73)), "-");
    EXPECT_EQ(APMPBGetInt64(*npaUserAttributeOfBundle(*bundle), UserAttributeSlot::IntValue), 0);

    applyConsentFieldsToBundle(*bundle, "5678", true, attribute("_npa", 1), config.get(), false);
    EXPECT_EQ(APMPBGetString(*bundle, bundleSlot(71)), "1234");  // set fields stay without overwrite
    applyConsentFieldsToBundle(*bundle, "5678", true, attribute("_npa", 1), config.get(), true);
    EXPECT_EQ(APMPBGetString(*bundle, bundleSlot(71)), "5678");
    EXPECT_EQ(APMPBGetInt64(*npaUserAttributeOfBundle(*bundle), UserAttributeSlot::IntValue), 1);
    EXPECT_EQ(attributeNames(*bundle), std::vector<std::string>{"_npa"});
}

TEST_F(BundleMetadata, BundlesShareConsentMetadataOnlyWhenEveryFieldAgrees) {
    const auto make = [](const char* signals, std::optional<std::int64_t> npa) {
        auto bundle = emptyBundle();
        APMPBSetString(*bundle, bundleSlot(52), signals);
        if (npa) APMPBSetArray(*bundle, bundleSlot(3), APMPBArrayOfMessages(std::vector{attribute("_npa", *npa)}));
        return bundle;
    };
    EXPECT_TRUE(bundlesHaveSameConsentMetadata(make("G111", 1).get(), make("G111", 1).get()));
    EXPECT_TRUE(bundlesHaveSameConsentMetadata(make("G111", std::nullopt).get(), make("G111", std::nullopt).get()));
    EXPECT_FALSE(bundlesHaveSameConsentMetadata(make("G111", 1).get(), make("G110", 1).get()));
    EXPECT_FALSE(bundlesHaveSameConsentMetadata(make("G111", 1).get(), make("G111", 0).get()));
    EXPECT_FALSE(bundlesHaveSameConsentMetadata(make("G111", 1).get(), make("G111", std::nullopt).get()));
    EXPECT_FALSE(bundlesHaveSameConsentMetadata(make("G111", 1).get(), nullptr));
}

}  // namespace
}  // namespace engine_test
