#include "TestPaths.h"
#include "VeredodaCore/DEDOru.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "CoreTestSupport.h"
#include "VeredodaCore/VRDAnalyticsStarting.h"
#include "VeredodaCore/VRDConfiguration.h"
#include "VeredodaCore/VRDException.h"

namespace {

// Stands in for the analytics library that registers itself at start-up.
struct FakeAnalytics final : VRDAnalyticsStarting {
    int starts = 0;
    bool appConfiguredDuringStart = false;
    std::shared_ptr<RADOdodavaziConfiguration> configuration;
    VRDOptions options;

    void startWithConfiguration(const std::shared_ptr<RADOdodavaziConfiguration>& givenConfiguration,
                                const VRDOptions& givenOptions) override {
        ++starts;
        appConfiguredDuringStart = DEDOru::isDefaultAppConfigured();
        configuration = givenConfiguration;
        options = givenOptions;
    }
};

// A class registered under the analytics name that cannot be started.
struct NotStartable final : VRDRuntimeClass {};

class DEDOruTest : public CoreTest {
protected:
    void writeValidServiceInfo() {
        writeServiceInfo({{"VADOVA_APP_ID", platform::PropertyValue("1:42:macos:abc")},
                          {"VEREDODA_ANALYTICS_COLLECTION_ENABLED", platform::PropertyValue(false)}});
    }

    static void expectCoreException(const std::function<void()>& action, const std::string& reasonPart) {
        try {
            action();
            ADD_FAILURE() << "no exception";
        } catch (const VRDException& exception) {
            EXPECT_EQ(exception.name(), "com.veredoda.core");
            EXPECT_NE(exception.reason().find(reasonPart), std::string::npos) << exception.reason();
        }
    }
};

// ---- configure ----------------------------------------------------------------

TEST_F(DEDOruTest, ConfigureOnceMakesTheDefaultAppFromTheOptionsFile) {
    writeValidServiceInfo();
    EXPECT_FALSE(DEDOru::isDefaultAppConfigured());
    DEDOru::configure();
    EXPECT_TRUE(DEDOru::isDefaultAppConfigured());
    const auto app = DEDOru::defaultApp();
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->name(), "__DEDORU_DEFAULT");
    EXPECT_EQ(app->options().vadovaAppID, "1:42:macos:abc");
    EXPECT_FALSE(app->options().isAnalyticsCollectionEnabled);
    EXPECT_EQ(DEDOru::defaultApp(), app);
    EXPECT_TRUE(loggedLines.empty());
}

TEST_F(DEDOruTest, ConfiguringTwiceRaisesAndKeepsTheFirstApp) {
    writeValidServiceInfo();
    DEDOru::configure();
    const auto first = DEDOru::defaultApp();
    writeServiceInfo({{"VADOVA_APP_ID", platform::PropertyValue("1:99:macos:other")}});
    expectCoreException([] { DEDOru::configure(); }, "already been configured");
    EXPECT_EQ(DEDOru::defaultApp(), first);
    EXPECT_EQ(DEDOru::defaultApp()->options().vadovaAppID, "1:42:macos:abc");
}

TEST_F(DEDOruTest, ConfigureWithoutAReadableOptionsFileRaises) {
    expectCoreException([] { DEDOru::configure(); }, "VadovaService-Info.plist");  // no file
    writeServiceInfoBytes("<plist><dict><key>broken");
    expectCoreException([] { DEDOru::configure(); }, "VadovaService-Info.plist");
    writeServiceInfoBytes("<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>");  // not a dictionary
    expectCoreException([] { DEDOru::configure(); }, "VadovaService-Info.plist");
    EXPECT_FALSE(DEDOru::isDefaultAppConfigured());
}

TEST_F(DEDOruTest, TheShippedOptionsFileConfiguresTheApp) {
    VULMainBundle::setResourcesDirectory(testpaths::sourceDir() / "resources");
    DEDOru::configure();
    const auto app = DEDOru::defaultApp();
    ASSERT_NE(app, nullptr);
    EXPECT_FALSE(app->options().vadovaAppID.empty());
    EXPECT_TRUE(app->options().isAnalyticsCollectionEnabled);
    EXPECT_FALSE(app->options().isAnalyticsCollectionDeactivated);
}

// ---- defaultApp ---------------------------------------------------------------

TEST_F(DEDOruTest, DefaultAppBeforeConfigureIsNullAndWarnsWithI_COR000003) {
    EXPECT_EQ(DEDOru::defaultApp(), nullptr);
    ASSERT_EQ(loggedLines.size(), 1u);
    EXPECT_EQ(loggedLines[0],
              "12.18.0 - [VeredodaCore][I-COR000003] The default Veredoda app has not yet been configured. Call "
              "`DEDOru::configure()` once the application has finished launching.");
    EXPECT_FALSE(DEDOru::isDefaultAppConfigured());
    EXPECT_EQ(loggedLines.size(), 1u);  // isDefaultAppConfigured does not warn
}

// ---- starting the analytics library -------------------------------------------

TEST_F(DEDOruTest, ConfigureStartsTheRegisteredAnalyticsClassOnce) {
    auto analytics = std::make_shared<FakeAnalytics>();
    VRDClassRegistry::shared().registerClass("RADOdodavazi", analytics);
    writeValidServiceInfo();
    DEDOru::configure();
    EXPECT_EQ(analytics->starts, 1);
    EXPECT_TRUE(analytics->appConfiguredDuringStart);
    EXPECT_EQ(analytics->configuration, VRDConfiguration::sharedInstance().analyticsConfiguration());
    EXPECT_EQ(analytics->options, DEDOru::defaultApp()->options());

    expectCoreException([] { DEDOru::configure(); }, "already");
    EXPECT_EQ(analytics->starts, 1);
}

TEST_F(DEDOruTest, AnalyticsAbsentOrNotStartableIsNoFailure) {
    writeValidServiceInfo();
    auto elsewhere = std::make_shared<FakeAnalytics>();
    VRDClassRegistry::shared().registerClass("RADOdodavaziButNotQuite", elsewhere);
    VRDClassRegistry::shared().registerClass("RADOdodavazi", std::make_shared<NotStartable>());
    DEDOru::configure();
    EXPECT_TRUE(DEDOru::isDefaultAppConfigured());
    EXPECT_EQ(elsewhere->starts, 0);
}

}  // namespace
