#include "measurement/interface/APMIdentity.h"

#include <regex>

#include <gtest/gtest.h>

#include "ConsentTestSupport.h"
#include "measurement/interface/APMDefaultIdentitySupport.h"
#include "measurement/interface/APMIdentityRemoteSettings.h"
#include "measurement/storage/APMDigest.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "platform/core/DeterministicDispatch.h"

using consent_test::ConsentTest;
using consent_test::settings;
using Util = APMConsentSettingsUtil;

namespace {

constexpr const char* kIdentifierA = "6D92078A-8246-4BA4-AE5B-76104861E7DC";
constexpr const char* kIdentifierB = "1E2DF2C5-4B8E-4A43-9A8A-2B7C0F1B9D11";

struct FixedRemoteSettings : APMIdentityRemoteSettings {
    double cacheTime = 1;
    bool gate = false;
    double adIDCacheTime() const override { return cacheTime; }
    bool gateIDFAOnATTMASEnabled() const override { return gate; }
};

struct IdentityTest : ConsentTest {
    platform::DeterministicDispatcher dispatcher;
    std::shared_ptr<platform::UserDefaults> configStore =
        std::make_shared<platform::UserDefaults>("identity-config", folder.path());
    std::shared_ptr<APMPersistedConfig> config = std::make_shared<APMPersistedConfig>(configStore);
    std::shared_ptr<platform::InMemoryAdvertisingIdentifier> component =
        std::make_shared<platform::InMemoryAdvertisingIdentifier>();
    std::shared_ptr<FixedRemoteSettings> remote = std::make_shared<FixedRemoteSettings>();

    std::shared_ptr<APMIdentity> makeIdentity(std::shared_ptr<platform::AdvertisingIdentifier> platformComponent) {
        auto bridge = std::make_shared<APMDefaultIdentitySupport>(dispatcher, std::move(platformComponent));
        return APMIdentity::create(dispatcher, config, bridge, remote);
    }
    std::shared_ptr<APMIdentity> makeIdentity() { return makeIdentity(component); }
    // Lets the refresh cache lapse.
    void later() { dispatcher.advance(2); }
};

bool isAppInstanceIDFormat(const std::optional<std::string>& id) {
    return id && std::regex_match(*id, std::regex("[0-9A-F]{32}"));
}

TEST_F(IdentityTest, CreationMakesAndPersistsAnAppInstanceIDOfThirtyTwoUpperHexCharacters) {
    auto identity = makeIdentity();
    EXPECT_TRUE(isAppInstanceIDFormat(config->appInstanceID()));
    EXPECT_EQ(identity->appInstanceID(), config->appInstanceID());
    EXPECT_NE(APMIdentity::randomAppInstanceID(), APMIdentity::randomAppInstanceID());
    EXPECT_EQ(APMIdentity::create(dispatcher, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(monitor.linesWithCode(20004).size(), 1u);
}

TEST_F(IdentityTest, AnalyticsStorageDeniedKeepsEveryAppInstanceIDAway) {
    Util::setConsentSettings(settings({{"analytics_storage", "denied"}}));
    auto identity = makeIdentity();
    EXPECT_FALSE(config->appInstanceID());
    EXPECT_EQ(identity->appInstanceID(), std::nullopt);
    EXPECT_EQ(identity->sessionStitchingTokenWithSessionNumber(1, false, false), std::nullopt);

    Util::setConsentSettings(settings({{"analytics_storage", "granted"}}));
    later();
    EXPECT_TRUE(isAppInstanceIDFormat(identity->appInstanceID()));
}

TEST_F(IdentityTest, AdvertisingIdentifierChangesReplaceTheAppInstanceIDOnlyAfterAFirstOne) {
    auto identity = makeIdentity();
    const auto original = config->appInstanceID();

    component->setResettableDeviceID(kAPMZeroAdvertisingIdentifier);
    EXPECT_EQ(identity->resettableDeviceID(), std::nullopt);
    EXPECT_TRUE(identity->limitedAdTracking());
    EXPECT_EQ(config->appInstanceID(), original);

    component->setResettableDeviceID(kIdentifierA);
    later();
    EXPECT_EQ(identity->resettableDeviceID(), kIdentifierA);
    EXPECT_EQ(identity->hashedResettableDeviceID(), APMMD5String(kIdentifierA));
    EXPECT_EQ(config->hashedResettableDeviceID(), APMMD5String(kIdentifierA));
    EXPECT_EQ(config->appInstanceID(), original);
    EXPECT_FALSE(identity->shouldSetLastAdvertisingIDResetUserProperty());

    component->setResettableDeviceID(kIdentifierB);
    later();
    EXPECT_EQ(identity->hashedResettableDeviceID(), APMMD5String(kIdentifierB));
    EXPECT_TRUE(isAppInstanceIDFormat(config->appInstanceID()));
    EXPECT_NE(config->appInstanceID(), original);
    EXPECT_TRUE(identity->shouldSetLastAdvertisingIDResetUserProperty());
}

TEST_F(IdentityTest, TheIdentifiersReadTogetherAreThoseOfOneRefresh) {
    component->setResettableDeviceID(kIdentifierA);
    auto identity = makeIdentity();
    component->setResettableDeviceID(kIdentifierB);
    later();
    const APMIdentity::Identifiers identifiers = identity->refreshedIdentifiers();
    EXPECT_EQ(identifiers.resettableDeviceID, kIdentifierB);
    EXPECT_EQ(identifiers.appInstanceID, config->appInstanceID());
    EXPECT_EQ(identifiers.limitedAdTracking, identity->limitedAdTracking());
    EXPECT_EQ(identifiers.hasLimitedAdTracking, identity->hasLimitedAdTracking());
    EXPECT_EQ(identifiers.appleConsentStatus, identity->appleConsentStatus());

    Util::setConsentSettings(settings({{"analytics_storage", "denied"}}));
    EXPECT_EQ(identity->refreshedIdentifiers().appInstanceID, std::nullopt);
}

TEST_F(IdentityTest, AdStorageDeniedDropsTheIdentifierAndKeepsTheHash) {
    component->setResettableDeviceID(kIdentifierA);
    auto identity = makeIdentity();
    EXPECT_EQ(identity->resettableDeviceID(), kIdentifierA);
    Util::setConsentSettings(settings({{"ad_storage", "denied"}}));
    later();
    EXPECT_EQ(identity->resettableDeviceID(), std::nullopt);
    EXPECT_EQ(identity->hashedResettableDeviceID(), std::nullopt);
    EXPECT_EQ(config->hashedResettableDeviceID(), APMMD5String(kIdentifierA));
}

TEST_F(IdentityTest, RefreshesWithinTheCacheTimeDoNothing) {
    auto identity = makeIdentity();
    EXPECT_EQ(identity->resettableDeviceID(), std::nullopt);
    component->setResettableDeviceID(kIdentifierA);
    dispatcher.advance(0.5);
    EXPECT_EQ(identity->resettableDeviceID(), std::nullopt);
    dispatcher.advance(0.5);
    EXPECT_EQ(identity->resettableDeviceID(), kIdentifierA);
}

TEST_F(IdentityTest, AuthorisationStatusCodesAndTheGate) {
    struct Case {
        std::optional<bool> limited;
        std::optional<std::uint64_t> status;
        std::int64_t code;
    };
    const Case cases[] = {{std::nullopt, 3, 6}, {false, std::nullopt, 5}, {false, 0, 4}, {false, 1, 1},
                          {false, 2, 2},        {false, 3, 3},            {true, 9, 5}};
    for (const Case& c : cases) {
        component->setLimitedAdTracking(c.limited);
        component->setAppDataConsentStatus(c.status);
        auto identity = makeIdentity();
        EXPECT_EQ(identity->appleConsentStatus(), c.code);
    }

    component->setResettableDeviceID(kIdentifierA);
    component->setLimitedAdTracking(false);
    component->setAppDataConsentStatus(2);
    remote->gate = true;
    EXPECT_EQ(makeIdentity()->resettableDeviceID(), std::nullopt);
    component->setAppDataConsentStatus(3);
    EXPECT_EQ(makeIdentity()->resettableDeviceID(), kIdentifierA);
}

TEST_F(IdentityTest, WithoutThePlatformComponentThereIsNoIdentifier) {
    auto identity = makeIdentity(platform::systemAdvertisingIdentifier());
    EXPECT_EQ(identity->resettableDeviceID(), std::nullopt);
    EXPECT_TRUE(identity->limitedAdTracking());
    EXPECT_FALSE(identity->hasLimitedAdTracking());
    EXPECT_EQ(identity->appleConsentStatus(), APMIdentity::StatusUnavailable);
    EXPECT_EQ(monitor.linesWithCode(44003).size(), 1u);
}

TEST_F(IdentityTest, SessionStitchingTokenLifetime) {
    struct Step {
        std::int64_t session;
        bool expired;
        bool sameToken;
    };
    const Step steps[] = {{5, false, false}, {5, false, true}, {5, true, false}, {6, false, true},
                          {8, false, false}, {9, false, false}, {9, true, false}};
    auto identity = makeIdentity();
    std::optional<std::string> previous;
    for (const Step& step : steps) {
        auto token = identity->sessionStitchingTokenWithSessionNumber(step.session, step.expired, false);
        ASSERT_TRUE(isAppInstanceIDFormat(token));
        if (previous) {
            EXPECT_EQ(token == previous, step.sameToken) << step.session;
        }
        previous = token;
    }
}

TEST_F(IdentityTest, TokenLapsesAfterADayOnlyWithoutAUserID) {
    auto identity = makeIdentity();
    auto withUser = identity->sessionStitchingTokenWithSessionNumber(1, false, true);
    dispatcher.advance(86401);
    EXPECT_EQ(identity->sessionStitchingTokenWithSessionNumber(1, false, true), withUser);

    auto anonymous = identity->sessionStitchingTokenWithSessionNumber(2, false, false);
    dispatcher.advance(86399);
    EXPECT_EQ(identity->sessionStitchingTokenWithSessionNumber(2, false, false), anonymous);
    dispatcher.advance(1);
    EXPECT_NE(identity->sessionStitchingTokenWithSessionNumber(2, false, false), anonymous);
}

TEST_F(IdentityTest, ResetsDropTheTokenAndTheEphemeralID) {
    auto identity = makeIdentity();
    auto token = identity->sessionStitchingTokenWithSessionNumber(1, false, false);
    const std::string ephemeral = identity->ephemeralAppInstanceID();
    EXPECT_EQ(identity->ephemeralAppInstanceID(), ephemeral);
    identity->resetSessionStitchingToken();
    identity->resetEphemeralAppInstanceID();
    dispatcher.drain();
    EXPECT_NE(identity->sessionStitchingTokenWithSessionNumber(1, false, false), token);
    EXPECT_NE(identity->ephemeralAppInstanceID(), ephemeral);

    const std::string replacement = APMIdentity::randomAppInstanceID();
    identity->setAppInstanceID(replacement);
    dispatcher.drain();
    EXPECT_EQ(identity->appInstanceID(), replacement);
}

TEST_F(IdentityTest, DiversionKeyIsFiveCharactersAndReplacesOtherLengths) {
    auto identity = makeIdentity();
    for (const char* stored : {"ABCD", "ABCDEF"}) {
        config->setDiversionKey(std::string(stored));
        const std::string key = identity->diversionKey();
        EXPECT_TRUE(std::regex_match(key, std::regex("[0-9A-F]{5}"))) << key;
        EXPECT_EQ(config->diversionKey(), key);
        EXPECT_EQ(identity->diversionKey(), key);
    }
    config->setDiversionKey(std::string("ab_cd"));
    EXPECT_EQ(identity->diversionKey(), "ab_cd");
}

TEST_F(IdentityTest, AppIDCanBeSetOncePerProcess) {
    auto identity = makeIdentity();
    identity->setAppIDFromVAZ("");
    identity->setAppIDFromVAZ("1:123:macos:abc");
    identity->setAppIDFromVAZ("1:999:macos:other");
    dispatcher.drain();
    EXPECT_EQ(identity->appIDFromVAZ(), "1:123:macos:abc");
    EXPECT_EQ(monitor.linesWithCode(20005).size(), 1u);
}

TEST_F(IdentityTest, VersionFields) {
    using Fields = std::vector<std::int64_t>;
    EXPECT_EQ(APMIdentity::numericFieldsFromAppVersionNumeric("1.2.3"), (Fields{1, 2, 3}));
    EXPECT_EQ(APMIdentity::numericFieldsFromAppVersionNumeric("1..2"), (Fields{1, 2}));
    EXPECT_EQ(APMIdentity::numericFieldsFromAppVersionNumeric("7"), (Fields{7}));
    EXPECT_TRUE(monitor.linesWithCode(20002).empty());
    EXPECT_EQ(APMIdentity::numericFieldsFromAppVersionNumeric("2.10b3.4"), (Fields{2, 103, 4}));
    EXPECT_EQ(monitor.linesWithCode(20002).size(), 1u);
    EXPECT_EQ(APMIdentity::varUradazaduroLibraryVersion(), 121800);

    writeInfoPlist({{"CFBundleIdentifier", "com.example.pets"},
                    {"CFBundleShortVersionString", "2.1"},
                    {"CFBundleVersion", "7"}});
    auto identity = makeIdentity();
    EXPECT_EQ(identity->appID(), "com.example.pets");
    EXPECT_EQ(identity->appVersion(), "2.1");
    EXPECT_EQ(identity->appVersionMajor(), 7);
    EXPECT_EQ(identity->appVersionMinor(), std::nullopt);
}

}  // namespace
