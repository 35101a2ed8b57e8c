#include "measurement/interface/APMConsentSettingsStore.h"

#include <thread>

#include <gtest/gtest.h>

#include "ConsentTestSupport.h"
#include "measurement/interface/APMConsentSettingsUtil.h"

using consent_test::ConsentTest;
using consent_test::RecordingFacade;
using consent_test::settings;
using Util = APMConsentSettingsUtil;

namespace {

struct ConsentSettingsStoreTest : ConsentTest {
    std::shared_ptr<APMUserDefaults> suite = defaults(kAPMAnalyticsSuiteName);
    std::shared_ptr<RecordingFacade> facade = std::make_shared<RecordingFacade>();
    APMConsentSettingsStore store{suite, facade};

    // A process start over the same files: fresh consent state, a new store.
    APMConsentSettingsStore restarted() {
        Util::resetForTesting();
        return APMConsentSettingsStore(defaults(kAPMAnalyticsSuiteName), facade);
    }
};

TEST_F(ConsentSettingsStoreTest, EachSourcePersistsUnderItsKey) {
    const std::pair<std::int64_t, const char*> keys[] = {
        {5, "consent_settings_tcf"}, {10, "consent_settings_3p"}, {20, "consent_settings_3p"},
        {21, "consent_settings"},    {30, "consent_settings"},    {40, "consent_settings"}};
    for (auto [source, key] : keys) EXPECT_EQ(APMConsentSettingsStore::keyForSource(source), key) << source;
}

TEST_F(ConsentSettingsStoreTest, UpdateSourceFollowsTheKeyAndTheWholeMergeIsPersisted) {
    store.setConsent({{"ad_storage", "denied"}});
    store.setConsent({{"analytics_storage", "granted"}}, "consent_settings_3p");

    EXPECT_EQ(Util::consentSource(), 10);
    const auto expected = settings({{"ad_storage", "denied"}, {"analytics_storage", "granted"}});
    EXPECT_EQ(Util::consentSettings(), expected);
    EXPECT_EQ(store.consentSettings3P(), expected);
    EXPECT_EQ(store.consentSettings1P(), settings({{"ad_storage", "denied"}}));
    EXPECT_EQ(suite->integerForKey("consent_source"), 10);
    EXPECT_EQ(monitor.linesWithCode(25055).size(), 1u);
}

TEST_F(ConsentSettingsStoreTest, InvalidTypesAndStatusesAreDroppedCountedAndLogged) {
    store.setConsent({{"ad_storage", "Granted"}, {"analytics_storage", "denied"}, {"ads", "granted"}, {"x", "y"},
                      {"ad_user_data", 1}});
    EXPECT_EQ(Util::consentSettings(), settings({{"analytics_storage", "denied"}}));
    EXPECT_EQ(facade->signals, (std::vector<std::string>{"invalid_consent_type", "invalid_consent_type",
                                                         "invalid_consent_status", "invalid_consent_status"}));
    EXPECT_EQ(monitor.linesWithCode(25042).size(), 2u);
}

TEST_F(ConsentSettingsStoreTest, NothingValidLeftIsDiscarded) {
    store.setConsent({{"ad_storage", "yes"}});
    EXPECT_EQ(monitor.linesWithCode(25041).size(), 1u);
    EXPECT_EQ(Util::consentSettings(), std::nullopt);
    EXPECT_FALSE(suite->objectForKey("consent_source"));
}

TEST_F(ConsentSettingsStoreTest, TCFAndPublicConsentRankEqualWhileTheFacadeCallRanksBelow) {
    store.setConsent({{"ad_storage", "denied"}}, "consent_settings_tcf");
    store.setConsent({{"ad_storage", "granted"}}, "consent_settings_3p");
    EXPECT_EQ(Util::consentSource(), 10);
    store.setConsent({{"ad_storage", "denied"}}, "consent_settings_tcf");
    EXPECT_EQ(Util::consentSource(), 5);

    store.setConsent({{"ad_storage", "granted"}, {"analytics_storage", "granted"}});
    EXPECT_EQ(monitor.linesWithCode(25043).size(), 1u);
    EXPECT_EQ(Util::consentSettings(), settings({{"ad_storage", "denied"}}));
    EXPECT_FALSE(store.consentSettings1P());
    EXPECT_EQ(suite->integerForKey("consent_source"), 5);
}

TEST_F(ConsentSettingsStoreTest, AdUserDataChangeLogsTheEventOnlyWithRemoteDefaults) {
    store.setConsent({{"ad_user_data", "denied"}});
    EXPECT_TRUE(facade->events.empty());

    facade->remoteConsentDefaults = true;
    store.setConsent({{"ad_storage", "denied"}});
    EXPECT_TRUE(facade->events.empty());
    store.setConsent({{"ad_user_data", "granted"}});
    ASSERT_EQ(facade->events.size(), 1u);
    EXPECT_EQ(facade->events[0].origin, "auto");
    EXPECT_EQ(facade->events[0].name, "_dcu");
    EXPECT_EQ(facade->events[0].parameters, (APMParameters{{"_r", APMValue(1)}}));
}

TEST_F(ConsentSettingsStoreTest, AdPersonalizationUpdateSetsThePersonalizedAdsProperty) {
    store.setConsent({{"ad_personalization", "denied"}});
    store.setConsent({{"ad_storage", "granted"}});
    store.setConsent({{"ad_personalization", "granted"}});
    using Property = std::pair<std::string, std::string>;
    EXPECT_EQ(facade->userProperties,
              (std::vector<Property>{{"allow_personalized_ads", "NO"}, {"allow_personalized_ads", "YES"}}));
}

TEST_F(ConsentSettingsStoreTest, SettingsAndSourceLoadAfterARestartWithTheSourceCapped) {
    store.setConsent({{"ad_storage", "denied"}});
    store.persistConsentSettings(settings({{"ad_storage", "granted"}}), APMConsentSourceStartOptions);

    auto again = restarted();
    EXPECT_EQ(again.persistedConsentSource(), 40);
    again.loadPersistedConsentSettings();
    EXPECT_EQ(Util::consentSource(), 40);
    EXPECT_EQ(Util::consentSettings(), settings({{"ad_storage", "granted"}}));
}

TEST_F(ConsentSettingsStoreTest, LoadPrefersTheTCFCopyAndCapsItsSource) {
    suite->setObject(platform::PropertyValue(settings({{"ad_storage", "denied"}})), "consent_settings_tcf");
    suite->setObject(platform::PropertyValue(settings({{"ad_storage", "granted"}})), "consent_settings_3p");
    suite->setInteger(30, "consent_source");
    restarted().loadPersistedConsentSettings();
    EXPECT_EQ(Util::consentSource(), 5);
    EXPECT_EQ(Util::consentSettings(), settings({{"ad_storage", "denied"}}));
}

TEST_F(ConsentSettingsStoreTest, LoadWithoutCopiesKeepsTheSourceAndWithoutSourceDoesNothing) {
    suite->setObject(platform::PropertyValue(settings({{"ad_storage", "denied"}})), "consent_settings");
    restarted().loadPersistedConsentSettings();
    EXPECT_EQ(Util::consentSource(), 100);
    EXPECT_EQ(Util::consentSettings(), std::nullopt);

    suite->removeObjectForKey("consent_settings");
    suite->setInteger(30, "consent_source");
    restarted().loadPersistedConsentSettings();
    EXPECT_EQ(Util::consentSource(), 30);
    EXPECT_EQ(Util::consentSettings(), std::nullopt);
}

TEST_F(ConsentSettingsStoreTest, FirstUpdateAfterRestartLoadsThePersistedStateBeforeRanking) {
    store.setConsent({{"ad_storage", "denied"}}, "consent_settings_tcf");
    auto again = restarted();
    again.setConsent({{"ad_storage", "granted"}});
    EXPECT_EQ(monitor.linesWithCode(25043).size(), 1u);
    EXPECT_TRUE(Util::isAdStorageDenied());
}

TEST_F(ConsentSettingsStoreTest, ClearConsentRemovesEveryKeyAndTheState) {
    store.setConsent({{"ad_storage", "denied"}}, "consent_settings_tcf");
    store.setConsent({{"ad_storage", "denied"}}, "consent_settings_3p");
    suite->setObject(platform::PropertyValue(settings({{"ad_storage", "granted"}})), "consent_settings_on_start");
    suite->setBool(true, "deferred_consent_reset");
    store.setConsent({{"ad_storage", "granted"}});  // ignored, lower priority
    store.clearConsent();

    for (const char* key : {"consent_source", "consent_settings_3p", "consent_settings", "consent_settings_on_start",
                            "deferred_consent_reset", "consent_settings_tcf"}) {
        EXPECT_FALSE(suite->objectForKey(key)) << key;
    }
    EXPECT_EQ(Util::consentSource(), 100);
    EXPECT_EQ(Util::consentSettings(), std::nullopt);
    EXPECT_EQ(restarted().persistedConsentSource(), 100);
}

TEST_F(ConsentSettingsStoreTest, StartUpCopiesAreReadAndRemovedOnTheirOwn) {
    suite->setObject(platform::PropertyValue(settings({{"ad_storage", "granted"}})), "consent_settings_on_start");
    suite->setBool(true, "deferred_consent_reset");
    EXPECT_EQ(store.consentSettings1PStart(), settings({{"ad_storage", "granted"}}));
    EXPECT_TRUE(store.deferredResetOnDeniedConsent());
    store.removeStartUpConsentSettings();
    store.removeDeferredResetOnDeniedConsent();
    EXPECT_FALSE(store.consentSettings1PStart());
    EXPECT_FALSE(store.deferredResetOnDeniedConsent());
}

// Updates of two sources racing from two threads: whichever order they run
// in, the higher-priority settings end up current and persisted, with their
// source, because no update can land between another's check and write.
TEST_F(ConsentSettingsStoreTest, ConcurrentUpdatesNeverLetALowerPriorityOneOverwriteAHigherOne) {
    auto quietStore = std::make_shared<APMConsentSettingsStore>(suite, nullptr);
    for (int round = 0; round < 12; ++round) {
        Util::resetForTesting();
        Util::setConsentSource(APMConsentSourceStartOptions);
        std::thread low([&] { quietStore->setConsent({{"ad_storage", "granted"}}); });
        std::thread high([&] { quietStore->setConsent({{"ad_storage", "denied"}}, "consent_settings_tcf"); });
        low.join();
        high.join();
        ASSERT_EQ(Util::consentSource(), 5) << round;
        ASSERT_TRUE(Util::isAdStorageDenied()) << round;
        ASSERT_EQ(suite->integerForKey("consent_source"), 5) << round;
        ASSERT_EQ(store.consentSettingsTCF(), settings({{"ad_storage", "denied"}})) << round;
        suite->clearAllData();
    }
}

}  // namespace
