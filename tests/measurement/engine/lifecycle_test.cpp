// The engine's own lifecycle events: the first open (its parameters, the
// rounding of "_fot", never twice, the wipe parameter), updates, the stored
// launch campaign, session starts, "_npa" and the session-number backfill.

#include "EngineTestSupport.h"
#include "measurement/engine/APMStoredDeepLink.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/storage/APMEnvironmentInfo.h"
#include "measurement/storage/APMEventAggregates.h"

namespace engine_test {
namespace {

class Lifecycle : public EngineFixture {
protected:
    Lifecycle() : EngineFixture(Logging::verbose) { writeAppVersion("1.1"); }
    void SetUp() override { start(); }
    // Makes the first open due again and reports it with `loadTime`.
    void firstOpenAgain(double loadTime) {
        APMError ignored;
        ASSERT_TRUE(engine->database()->deleteUserAttributeWithName("_fot", &ignored));
        engine->setInitTimestamp(loadTime);
        onWorker([](APMMeasurement& e) { e.reportFirstOpenOnWorkerQueue(); });
    }
};

constexpr double kHourStart = 1699999200.0;  // an exact hour, 800 s before the clock's start

TEST_F(Lifecycle, FirstOpenParametersAndRounding) {
    const struct {
        double loadTime;
        std::int64_t previousCount;
        std::int64_t fi, pfo, uwa;
    } cases[] = {
        {kHourStart, 0, 0, 0, 1},          // on the hour: the next hour
        {kHourStart + 0.001, 0, 0, 0, 1},  // just after: the same next hour
        {kHourStart + 1799, 3, 1, 3, 0},   // a previous first open counts as a first install
    };
    for (const auto& c : cases) {
        persisted->setPreviousFirstOpenCount(c.previousCount);
        firstOpenAgain(c.loadTime);
        const auto fot = property("_fot");
        ASSERT_TRUE(fot);
        EXPECT_EQ(fot->value().int64Value(), static_cast<std::int64_t>(kHourStart + 3600) * 1000);
        EXPECT_EQ(property("_fi")->value().int64Value(), c.fi);
        const auto event = lastStored("_f");
        ASSERT_TRUE(event);
        EXPECT_DOUBLE_EQ(event->timestamp(), c.loadTime);
        EXPECT_EQ(param(event, "_pfo")->int64Value(), c.pfo);
        EXPECT_EQ(param(event, "_uwa")->int64Value(), c.uwa);
        EXPECT_EQ(param(event, "_elt")->int64Value(), static_cast<std::int64_t>(now() * 1000));
        EXPECT_FALSE(param(event, "_pvaz"));
        EXPECT_EQ(persisted->firstOpenTimestampMilliseconds(), static_cast<std::int64_t>(c.loadTime * 1000));
        EXPECT_FALSE(persisted->loadTimestampValue());
    }
}

TEST_F(Lifecycle, TheFirstOpenHappensOnceAcrossLaunches) {
    ASSERT_EQ(storedCount("_f"), 1u);
    EXPECT_EQ(storedCount("_e"), 1u);
    engine.reset();
    dispatcher.drain();
    start();
    EXPECT_EQ(storedCount("_f"), 1u);
    EXPECT_EQ(persisted->previousFirstOpenCount(), 1);
    EXPECT_FALSE(persisted->loadTimestampValue());
}

TEST_F(Lifecycle, RedundantEngagementRemovalLeavesOutTheFirstEngagement) {
    applySettings({{"measurement.collection.redundant_engagement_removal_enabled", "1"}});
    firstOpenAgain(now());
    EXPECT_EQ(storedCount("_f"), 2u);
    EXPECT_EQ(storedCount("_e"), 1u);
}

TEST_F(Lifecycle, AfterAWipeTheFirstOpenCarriesThePreviousAppID) {
    persisted->setAppIDFromVAZ("1:9:old");
    onWorker([](APMMeasurement& e) { ASSERT_TRUE(e.wipeoutAnalyticsDataAndResetComponents()); });
    EXPECT_TRUE(stored().empty());
    onWorker([](APMMeasurement& e) { e.reportFirstOpenOnWorkerQueue(); });
    EXPECT_EQ(*param(lastStored("_f"), "_pvaz")->stringValue(), "1:9:old");
}

TEST_F(Lifecycle, UpdatesAreReportedWithThePreviousVersion) {
    const std::string os = APMEnvironmentInfo::sharedInstance().deviceOSVersion();
    const struct {
        bool app;
        std::optional<std::string> stored;
        std::optional<std::string> reported;
    } cases[] = {
        {true, std::nullopt, std::nullopt}, {true, "1.0", "1.0"}, {true, "1.1", std::nullopt},
        {false, std::nullopt, std::nullopt}, {false, "0-old", "0-old"}, {false, os, std::nullopt},
    };
    for (const auto& c : cases) {
        errorEvents.clear();
        if (c.app) {
            persisted->setAppVersion(c.stored);
            onWorker([](APMMeasurement& e) { e.reportAppUpdateOnWorkerQueue(); });
            EXPECT_EQ(persisted->appVersion(), "1.1");
        } else {
            persisted->setOSVersion(c.stored);
            onWorker([](APMMeasurement& e) { e.reportOSUpdateOnWorkerQueue(); });
            EXPECT_EQ(persisted->osVersion(), os);
        }
        ASSERT_EQ(errorEvents.size(), c.reported ? 1u : 0u);
        if (!c.reported) continue;
        EXPECT_EQ(errorEvents[0].name, c.app ? "_au" : "_ou");
        EXPECT_EQ(*errorEvents[0].parameters.find(c.app ? "_pv" : "_po")->stringValue(), *c.reported);
    }
}

TEST_F(Lifecycle, TheStoredLaunchLinkBecomesACampaign) {
    const double ttl = 604800;
    const struct {
        double age;
        const char* name;
        const char* source;
    } cases[] = {{8 * 86400, "_cmpx", "(not set)"}, {100, "_cmp", "news"}};
    for (const auto& c : cases) {
        const double storedAt = now() - c.age;
        APMStoreDeepLink(*APMUserDefaults::sharedUserDefaults(), "https://a.test/p?utm_source=news&utm_medium=mail",
                         std::nullopt, storedAt);
        onWorker([](APMMeasurement& e) { e.reportStoredCampaignEventOnWorkerQueue(std::nullopt); });
        const auto event = lastStored(c.name);
        ASSERT_TRUE(event) << c.name;
        EXPECT_EQ(*param(event, "source")->stringValue(), c.source);
        const std::int64_t cc = c.age > ttl ? 1 : APMPreviousHourStartMillis(static_cast<std::int64_t>(storedAt * 1000));
        EXPECT_EQ(param(event, "_cc")->int64Value(), cc);
        EXPECT_FALSE(APMHasStoredDeepLink(*APMUserDefaults::sharedUserDefaults()));
    }
}

TEST_F(Lifecycle, ABackgroundSessionStartsOnceWithItsProperties) {
    const double start = now();
    for (int i = 0; i < 2; ++i) {
        onWorker([start](APMMeasurement& e) { e.reportSessionStartOnWorkerQueue(start, true); });
    }
    EXPECT_EQ(storedCount("_s"), 1u);
    EXPECT_EQ(param(lastStored("_s"), "_aib")->int64Value(), 1);
    EXPECT_EQ(property("_sid")->value().int64Value(), static_cast<std::int64_t>(start));
    EXPECT_EQ(property("_sno")->value().int64Value(), persisted->sessionNumber());
}

TEST_F(Lifecycle, PersonalizedAdsPropertyFollowsTheDecision) {
    const struct {
        std::optional<std::int64_t> stored;
        std::optional<bool> allow;  // the stored switch: the decision
        std::optional<std::int64_t> after;
        bool rewritten;
    } cases[] = {
        {std::nullopt, std::nullopt, std::nullopt, false},
        {1, false, 1, false},
        {1, std::nullopt, std::nullopt, false},
        {std::nullopt, false, 1, true},
        {1, true, 0, true},
    };
    for (const auto& c : cases) {
        APMConsentSettingsUtil::resetForTesting();
        APMError error;
        if (c.stored) {
            ASSERT_TRUE(engine->database()->updateUserAttribute(APMUserAttribute("auto", "_npa", APMValue(*c.stored), 5), &error));
        } else {
            (void)engine->database()->deleteUserAttributeWithName("_npa", &error);
        }
        persisted->setAllowPersonalizedAds(c.allow);
        onWorker([](APMMeasurement& e) { e.setPersonalizedAdsUserPropertyOnWorkerQueue(); });
        const auto npa = property("_npa");
        ASSERT_EQ(npa.has_value(), c.after.has_value());
        if (!npa) continue;
        EXPECT_EQ(npa->value().int64Value(), *c.after);
        EXPECT_EQ(npa->lastSetTimestamp() != 5, c.rewritten);
    }
}

// The configuration's consent defaults reach the consent settings; a new
// ad-personalization value marks "_npa" for the next bundle, an unchanged
// one does not, and a configuration without defaults keeps the stored ones.
TEST_F(Lifecycle, ConsentDefaultsOfTheConfigurationReachTheConsentSettings) {
    APMConsentSettingsUtil::resetForTesting();
    // ConsentConfig with one default entry {type 4 (ad_personalization), status 2 (denied)}.
    const std::vector<std::uint8_t> deniedPersonalization = {0x0A, 0x04, 0x08, 0x04, 0x10, 0x02};
    auto withDefaults = makeConfig(kAppID);
    auto consent = APMPBConsentConfig::initWithBuffer(deniedPersonalization);
    ASSERT_TRUE(consent);
    APMPBSetMessage(*withDefaults, MeasurementConfigSlot::ConsentConfig, consent.get());
    ASSERT_TRUE(engine->remoteConfigInstance()->updateMeasurementConfig(withDefaults));

    engine->setShouldUpdateNPAUserProperty(false);
    onWorker([](APMMeasurement& e) { e.updateConsentSettingsUtilWithRemoteConfig(); });
    EXPECT_EQ(APMConsentSettingsUtil::adPersonalization(), 0);
    EXPECT_TRUE(engine->shouldUpdateNPAUserProperty());

    engine->setShouldUpdateNPAUserProperty(false);
    ASSERT_TRUE(engine->remoteConfigInstance()->updateMeasurementConfig(makeConfig(kAppID)));
    onWorker([](APMMeasurement& e) { e.updateConsentSettingsUtilWithRemoteConfig(); });
    EXPECT_EQ(APMConsentSettingsUtil::adPersonalization(), 0);
    EXPECT_FALSE(engine->shouldUpdateNPAUserProperty());
}

TEST_F(Lifecycle, ALostSessionNumberIsTakenFromTheSessionStartCount) {
    persisted->setSessionNumber(0);
    APMError error;
    ASSERT_TRUE(engine->database()->updateEventAggregates(APMEventAggregates("_s", 12, 0, 0, 0), &error));
    onWorker([](APMMeasurement& e) { e.backfillSessionNumber(); });
    EXPECT_EQ(persisted->sessionNumber(), 12);
}

}  // namespace
}  // namespace engine_test
