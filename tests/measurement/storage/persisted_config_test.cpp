#include "measurement/storage/APMPersistedConfig.h"

#include <sys/stat.h>

#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "StorageTestSupport.h"
#include "platform/core/UserDefaults.h"

using storage_test::TemporaryFolder;

namespace {

struct PersistedConfigTest : testing::Test {
    TemporaryFolder folder;
    std::shared_ptr<platform::UserDefaults> openStore() {
        return std::make_shared<platform::UserDefaults>("config", folder.path());
    }
    // Identifies the file on disk: an atomic rewrite renames a new file over it.
    ino_t fileIdentity(const platform::UserDefaults& store) {
        struct stat info {};
        if (stat(store.filePath().c_str(), &info) != 0) return 0;
        return info.st_ino;
    }
};

}  // namespace

TEST_F(PersistedConfigTest, AbsentSettingsReadAsNothingOrZero) {
    APMPersistedConfig config(openStore());
    EXPECT_EQ(config.appInstanceID(), std::nullopt);
    EXPECT_EQ(config.loadTimestampValue(), std::nullopt);
    EXPECT_EQ(config.allowPersonalizedAds(), std::nullopt);
    EXPECT_EQ(config.sessionNumber(), 0);
    EXPECT_EQ(config.lastBackoffTimestamp(), 0.0);
    EXPECT_EQ(config.midnightOffset(), 0.0);
    EXPECT_FALSE(config.unmatchedFirstOpenWithoutIDFA());
    EXPECT_TRUE(config.adCampaignInfoBuffer().empty());
    EXPECT_EQ(config.defaultEventParameters(), std::nullopt);
}

TEST_F(PersistedConfigTest, SettingsSurviveANewInstanceUnderTheirMeasurementKeys) {
    {
        APMPersistedConfig config(openStore());
        config.setAppInstanceID("0123456789ABCDEF0123456789ABCDEF");
        config.setSessionNumber(42);
        config.setLoadTimestampValue(1700000000.5);
        config.setAllowPersonalizedAds(false);
        config.setAdCampaignInfoBuffer({8, 1, 16});
        config.setPSMCurrentDay(19700);
        config.setDefaultEventParameters(APMParameters{{"level", APMValue(3)}, {"mode", APMValue("hard")}});
        config.synchronizeToDisk();
    }
    auto store = openStore();
    APMPersistedConfig config(store);
    EXPECT_EQ(config.appInstanceID(), "0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(config.sessionNumber(), 42);
    EXPECT_EQ(config.loadTimestampValue(), 1700000000.5);
    EXPECT_EQ(config.allowPersonalizedAds(), false);
    EXPECT_EQ(config.adCampaignInfoBuffer(), (platform::PropertyData{8, 1, 16}));
    EXPECT_EQ(config.PSMCurrentDay(), 19700);
    EXPECT_EQ(config.defaultEventParameters(),
              (APMParameters{{"mode", APMValue("hard")}, {"level", APMValue(3)}}));
    EXPECT_EQ(store->string("/vadova/measurement/app_instance_id"), "0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(store->integer("/vadova/measurement/psm_current_day"), 19700);
}

TEST_F(PersistedConfigTest, AWriteThatChangesNothingLeavesTheFileAlone) {
    auto store = openStore();
    APMPersistedConfig config(store);
    config.setSessionNumber(3);
    config.setConfigServerETag("\"abc\"");
    ino_t before = fileIdentity(*store);
    ASSERT_NE(before, 0u);
    config.setSessionNumber(3);
    config.setConfigServerETag("\"abc\"");
    config.setPSMCurrentDay(std::nullopt);  // already absent
    config.synchronizeToDisk();
    EXPECT_EQ(fileIdentity(*store), before);
    config.setSessionNumber(4);
    EXPECT_NE(fileIdentity(*store), before);
}

TEST_F(PersistedConfigTest, ZeroClearsTheFailureAndBackOffTimes) {
    auto store = openStore();
    APMPersistedConfig config(store);
    config.setLastFailedUploadTimestamp(100);
    config.setLastBackoffTimestamp(200);
    EXPECT_EQ(config.lastBackoffTimestamp(), 200.0);
    config.setLastFailedUploadTimestamp(0);
    config.setLastBackoffTimestamp(0);
    EXPECT_EQ(store->object("/vadova/measurement/last_failed_upload"), std::nullopt);
    EXPECT_EQ(store->object("/vadova/measurement/last_backoff"), std::nullopt);
}

TEST_F(PersistedConfigTest, NoneRemovesOptionalSettings) {
    auto store = openStore();
    APMPersistedConfig config(store);
    config.setVeredodaFeatureRollouts("rollout-1");
    config.setSearchAdCampaignValue(true);
    config.setVeredodaFeatureRollouts(std::nullopt);
    config.setSearchAdCampaignValue(std::nullopt);
    EXPECT_EQ(config.veredodaFeatureRollouts(), std::nullopt);
    EXPECT_EQ(config.searchAdCampaignValue(), std::nullopt);
}

TEST_F(PersistedConfigTest, ClearValuesRemovesItsOwnSettingsOnly) {
    auto store = openStore();
    ASSERT_TRUE(store->set("/vadova/measurement/deep_link", "https://example.invalid/x"));
    ASSERT_TRUE(store->set("unrelated", 1));
    APMPersistedConfig config(store);
    config.setAppIDFromVAZ("1:123:macos:abc");
    config.setFirstOpenTimestampMilliseconds(1700000000000);
    config.setDeferredDeepLinkRetryCount(2);
    config.setPSMHashedInputData(platform::PropertyData{1});
    config.clearValues();
    EXPECT_EQ(config.appIDFromVAZ(), std::nullopt);
    EXPECT_EQ(config.firstOpenTimestampMilliseconds(), 0);
    EXPECT_EQ(config.deferredDeepLinkRetryCount(), 0);
    EXPECT_EQ(config.PSMHashedInputData(), std::nullopt);
    EXPECT_TRUE(store->object("/vadova/measurement/deep_link").has_value());
    EXPECT_TRUE(store->object("unrelated").has_value());
}

TEST_F(PersistedConfigTest, ConcurrentWritersLoseNothing) {
    auto store = openStore();
    APMPersistedConfig config(store);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&config, i] {
            for (int n = 0; n < 20; ++n) {
                if (i == 0) config.setSessionNumber(n);
                if (i == 1) config.setSearchAdRetryCount(n);
                if (i == 2) config.setPSMInputType(n);
                if (i == 3) config.setDeferredDeepLinkRetryCount(n);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    APMPersistedConfig reread(openStore());
    EXPECT_EQ(reread.sessionNumber(), 19);
    EXPECT_EQ(reread.searchAdRetryCount(), 19);
    EXPECT_EQ(reread.PSMInputType(), 19);
    EXPECT_EQ(reread.deferredDeepLinkRetryCount(), 19);
}
