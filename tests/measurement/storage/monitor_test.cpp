#include "measurement/storage/APMMonitor.h"

#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "StorageTestSupport.h"
#include "measurement/storage/APMError.h"
#include "platform/core/UserDefaults.h"

using storage_test::TemporaryFolder;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

struct Harness {
    explicit Harness(std::vector<std::string> arguments = {}, std::shared_ptr<platform::UserDefaults> defaults = nullptr)
        : clock(1000.0) {
        APMMonitor::Options options;
        options.libraryVersion = 121800;
        options.launchArguments = std::move(arguments);
        options.userDefaults = defaults ? defaults : std::make_shared<platform::UserDefaults>("monitor", folder.path());
        options.sink = [this](const std::string& line) { lines.push_back(line); };
        options.clock = &clock;
        monitor = std::make_unique<APMMonitor>(std::move(options));
    }
    TemporaryFolder folder;
    platform::VirtualClock clock;
    std::vector<std::string> lines;
    std::unique_ptr<APMMonitor> monitor;
};

}  // namespace

TEST(MonitorLines, CarryTagLevelAndSixDigitCode) {
    Harness h;
    h.monitor->log(1, 30001, "Method %@ should execute on background thread", "start");
    h.monitor->log(4, 23018, "Unable to delete stale data. Error", "disk full");
    h.monitor->log(6, 23007, "Analytics v.%@ started", "121800000");
    EXPECT_THAT(h.lines, ElementsAre("[VeredodaAnalytics] ERROR I-ACS030001 Method start should execute on background thread",
                                     "[VeredodaAnalytics] WARNING I-ACS023018 Unable to delete stale data. Error, disk full",
                                     "[VeredodaAnalytics] NOTICE I-ACS023007 Analytics v.121800000 started"));
}

TEST(MonitorLines, FillPrintfConversionsAndKeepPercentSigns) {
    Harness h;
    h.monitor->log(1, 18017, "Event cannot contain more than %d parameters", 25);
    h.monitor->log(6, 23222, "Build %lld, 100%% done", 121800LL);
    h.monitor->log(1, 1, "No context for %@");
    EXPECT_THAT(h.lines, ElementsAre(HasSubstr("Event cannot contain more than 25 parameters"),
                                     HasSubstr("Build 121800, 100% done"), HasSubstr("No context for %@")));
}

TEST(MonitorLines, ContextArraysAndErrorsReadAsText) {
    Harness h;
    h.monitor->log(2, 5, "Failed", std::vector<std::string>{"a", "b"});
    h.monitor->log(2, 6, "Failed with", APMError::withCode(7, "Broken"));
    EXPECT_THAT(h.lines[0], HasSubstr("Failed, a, b"));
    EXPECT_THAT(h.lines[1], HasSubstr("Error Domain=com.vadova.vaz.measurement.ErrorDomain Code=7 \"Broken\""));
}

TEST(MonitorLines, LogTagReplacesTheDefault) {
    Harness h;
    h.monitor->setLogTag("MyApp");
    h.monitor->log(0, 1, "x");
    EXPECT_EQ(h.lines.at(0), "MyApp ERROR I-ACS000001 x");
}

TEST(MonitorLevels, DebugAndVerboseLinesNeedTheirModes) {
    Harness quiet;
    quiet.monitor->log(7, 1, "debug");
    quiet.monitor->log(8, 2, "verbose");
    EXPECT_THAT(quiet.lines, IsEmpty());

    Harness debug({"-RADOdodavaziDebugEnabled"});
    debug.monitor->log(7, 1, "debug");
    debug.monitor->log(8, 2, "verbose");
    EXPECT_THAT(debug.lines, ElementsAre(HasSubstr("DEBUG I-ACS000001 debug")));

    Harness verbose({"-APMAnalyticsVerboseLoggingEnabled"});
    verbose.monitor->log(7, 1, "debug");
    verbose.monitor->log(8, 2, "verbose");
    EXPECT_EQ(verbose.lines.size(), 2u);
    EXPECT_THAT(verbose.lines[1], HasSubstr("VERBOSE I-ACS000002 verbose"));
}

TEST(MonitorModes, LaunchArgumentChoicesAreRememberedUntilSwitchedOff) {
    TemporaryFolder folder;
    auto defaults = std::make_shared<platform::UserDefaults>("shared", folder.path());
    EXPECT_TRUE(Harness({"-APMAnalyticsDebugEnabled"}, defaults).monitor->isDebugModeEnabled());
    EXPECT_TRUE(Harness({}, defaults).monitor->isDebugModeEnabled());
    EXPECT_FALSE(Harness({"-noRADOdodavaziDebugEnabled"}, defaults).monitor->isDebugModeEnabled());
    EXPECT_FALSE(Harness({}, defaults).monitor->isDebugModeEnabled());

    EXPECT_TRUE(Harness({"-RADOdodavaziVerboseLoggingEnabled"}, defaults).monitor->isVerboseLoggingEnabled());
    EXPECT_TRUE(Harness({}, defaults).monitor->isVerboseLoggingEnabled());
    EXPECT_FALSE(Harness({"-RADOdodavaziVerboseLoggingDisabled"}, defaults).monitor->isVerboseLoggingEnabled());
}

TEST(MonitorModes, ServerSideTaggingLinkSwitchesDebugModeOn) {
    Harness h;
    EXPECT_FALSE(h.monitor->isDebugModeEnabled());
    h.monitor->setSVTMDebugModeEnabled(true);
    EXPECT_TRUE(h.monitor->isDebugModeEnabled());
    h.monitor->log(7, 3, "now shown");
    EXPECT_EQ(h.lines.size(), 1u);
}

TEST(MonitorModes, EncodedContextsOnlyOutsideDebugMode) {
    Harness h;
    h.monitor->setEncodeContexts(true);
    h.monitor->log(1, 1, "Value %@", "abc");
    EXPECT_THAT(h.lines.at(0), HasSubstr("Value YWJj"));
    h.monitor->setSVTMDebugModeEnabled(true);
    h.monitor->log(1, 1, "Value %@", "abc");
    EXPECT_THAT(h.lines.at(1), HasSubstr("Value abc"));
}

TEST(MonitoringData, CountsErrorsAndWarningsAndDispatchesOncePerPeriod) {
    Harness h;
    EXPECT_EQ(h.monitor->monitoringDataForDispatch(60, 0), "");
    h.monitor->log(1, 23011, "a");
    h.monitor->log(4, 23018, "b");
    h.monitor->log(1, 23011, "c");
    h.monitor->log(6, 23007, "notices are not samples");
    // The last sample was taken 30 s ago: not due yet, and nothing is lost.
    EXPECT_EQ(h.monitor->monitoringDataForDispatch(60, h.clock.now() - 30), "");
    EXPECT_EQ(h.monitor->monitoringDataForDispatch(60, h.clock.now() - 60), "v121800;23011:2;23018:1");
    EXPECT_EQ(h.monitor->monitoringDataForDispatch(60, 0), "");
}

TEST(MonitoringData, ClearDropsTheSamples) {
    Harness h;
    h.monitor->log(0, 1, "x");
    h.monitor->clearMonitoringData();
    EXPECT_EQ(h.monitor->monitoringDataForDispatch(0, 0), "");
}

// A capture made after the test's folder keeps that folder and its files.
TEST(MonitorCapture, LeavesTheTestsFolderAlone) {
    TemporaryFolder folder;
    const auto file = folder.path() / "kept";
    std::ofstream(file) << "x";
    {
        storage_test::MonitorCapture capture;
        EXPECT_TRUE(std::filesystem::exists(file));
    }
    EXPECT_TRUE(std::filesystem::exists(file));
}
