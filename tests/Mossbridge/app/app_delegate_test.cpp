// Start-up: the analytics layer is configured once, "app_start" is logged
// once without parameters, a failing configuration is reported and skipped,
// and the coordinator is started in every case.

#include "Mossbridge/app/AppDelegate.h"

#include <fstream>

#include "CoordinatorFixture.h"
#include "Mossbridge/app/AnalyticsInterface.h"
#include "Mossbridge/model/UsageEvents.h"
#include "TestPaths.h"
#include "VadovaUtilities/VULMainBundle.h"
#include "VeredodaCore/DEDOru.h"
#include "platform/core/PropertyList.h"

namespace Mossbridge::testing {
namespace {

class StartUp : public CoordinatorFixture {
protected:
    void SetUp() override {
        CoordinatorFixture::SetUp();
        setAnalyticsInterface(analytics.interface());
        DEDOru::resetForTesting();
    }
    void TearDown() override {
        VULMainBundle::setResourcesDirectory(std::nullopt);
        CoordinatorFixture::TearDown();
    }

    // Resources with the options file, or an empty folder.
    void useResources(bool withOptions) {
        const auto resources = folder / "resources";
        std::filesystem::create_directories(resources);
        if (withOptions) {
            std::filesystem::copy_file(testpaths::sourceDir() / "resources/VadovaService-Info.plist",
                                       resources / "VadovaService-Info.plist");
        }
        VULMainBundle::setResourcesDirectory(resources);
    }

    std::string launch() {
        delegate = std::make_shared<AppDelegate>([this] {
            make();
            return coordinator;
        });
        return capturedErrors([&] { delegate->applicationDidFinishLaunching(application); });
    }

    AnalyticsRecorder analytics;
    std::shared_ptr<AppDelegate> delegate;
};

TEST_F(StartUp, ReadableOptionsConfigureAnalyticsAndLogAppStartOnceWithoutParameters) {
    useResources(true);
    launch();
    EXPECT_TRUE(DEDOru::isDefaultAppConfigured());
    EXPECT_EQ(analytics.collectionEnabled(), true);
    const auto events = analytics.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, "app_start");
    EXPECT_FALSE(events[0].parameters);  // none at all, not an empty dictionary
    EXPECT_EQ(application.activationPolicy(), platform::ActivationPolicy::regular);
    EXPECT_TRUE(coordinator->settingsWindow());
    EXPECT_FALSE(delegate->applicationShouldTerminateAfterLastWindowClosed(application));
}

TEST_F(StartUp, AFailingConfigurationIsReportedInOneLineAndTheApplicationGoesOn) {
    useResources(false);
    const std::string output = launch();
    EXPECT_EQ(occurrences(output, "Mossbridge: analytics configuration failed: "), 1) << output;
    EXPECT_NE(output.find("VadovaService-Info.plist"), std::string::npos) << output;
    EXPECT_TRUE(analytics.events().empty());
    EXPECT_FALSE(analytics.collectionEnabled());
    EXPECT_TRUE(coordinator->settingsWindow());
    EXPECT_TRUE(coordinator->timer());
}

TEST_F(StartUp, AnOptionsFileWithoutAUsableAppIDSaysInOneLineThatAnalyticsIsOff) {
    for (const platform::PropertyValue& appID : {platform::PropertyValue(""), platform::PropertyValue(5)}) {
        DEDOru::resetForTesting();
        const auto resources = folder / "resources";
        std::filesystem::create_directories(resources);
        const auto bytes = platform::serializePropertyList(
            platform::PropertyDictionary{{"VADOVA_APP_ID", appID}}, platform::PropertyListFormat::Xml);
        ASSERT_TRUE(bytes);
        std::ofstream(resources / "VadovaService-Info.plist", std::ios::binary)
            << std::string(bytes->begin(), bytes->end());
        VULMainBundle::setResourcesDirectory(resources);
        const std::string output = launch();
        EXPECT_EQ(occurrences(output, "Mossbridge: analytics is off: VadovaService-Info.plist has no VADOVA_APP_ID "
                                      "that is a non-empty string\n"),
                  1)
            << output;
    }
}

TEST_F(StartUp, AnAlreadyConfiguredDefaultAppIsLeftAlone) {
    useResources(true);
    DEDOru::configure();
    launch();
    EXPECT_TRUE(analytics.events().empty());
    EXPECT_FALSE(analytics.collectionEnabled());
    EXPECT_TRUE(coordinator->settingsWindow());
}

TEST_F(StartUp, UsageEventsReachTheAnalyticsInterface) {
    routeUsageEventsToAnalytics();
    logUsageEvent("pet_click", APMParameters{});
    ASSERT_EQ(analytics.events().size(), 1u);
    EXPECT_EQ(analytics.events()[0].parameters, APMParameters{});
}

}  // namespace
}  // namespace Mossbridge::testing
