#include "Mossbridge/model/PerformanceLog.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/core/UserDefaults.h"

namespace Mossbridge {
namespace {

// Points the standard user defaults at a private folder and the log at a
// virtual clock; restores the environment afterwards.
class PerformanceLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"XDG_CONFIG_HOME", "MOSSBRIDGE_PERF_LOGS"}) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        // Below TMPDIR, which every test process has to itself.
        configHome_ = std::filesystem::temp_directory_path() / "mossbridge-perf-log-test";
        std::filesystem::remove_all(configHome_);
        setenv("XDG_CONFIG_HOME", configHome_.c_str(), 1);
        unsetenv("MOSSBRIDGE_PERF_LOGS");
        platform::UserDefaults::resetSharedInstancesForTesting();
        resetPerformanceLogForTesting(&clock_);
    }

    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value) setenv(name.c_str(), value->c_str(), 1); else unsetenv(name.c_str());
        }
        platform::UserDefaults::resetSharedInstancesForTesting();
        resetPerformanceLogForTesting();
        std::filesystem::remove_all(configHome_);
    }

    static void setDefault(platform::PropertyValue value) {
        EXPECT_TRUE(platform::UserDefaults::standard()->set("MossbridgePerformanceLogs", std::move(value)));
    }

    template <typename Body>
    static std::string output(Body body) {
        ::testing::internal::CaptureStdout();
        body();
        std::fflush(stdout);
        return ::testing::internal::GetCapturedStdout();
    }

    platform::VirtualClock clock_{5000.0};

private:
    std::filesystem::path configHome_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(PerformanceLogTest, OffBuildsNothing) {
    EXPECT_FALSE(isPerformanceLoggingEnabled());
    bool built = false;
    const auto text = output([&] {
        logPerformanceMark("app.start");
        logPerformanceEvent("refresh.total", [&] { built = true; return std::string("x"); });
    });
    EXPECT_EQ(text, "");
    EXPECT_FALSE(built);
}

TEST_F(PerformanceLogTest, EnvironmentOnlyExactlyOne) {
    setDefault(false);
    setenv("MOSSBRIDGE_PERF_LOGS", "1", 1);
    EXPECT_TRUE(isPerformanceLoggingEnabled());
    for (const char* value : {"true", "01", " 1", "yes", ""}) {
        setenv("MOSSBRIDGE_PERF_LOGS", value, 1);
        EXPECT_FALSE(isPerformanceLoggingEnabled()) << value;
    }
    setDefault(true);
    setenv("MOSSBRIDGE_PERF_LOGS", "0", 1);
    EXPECT_TRUE(isPerformanceLoggingEnabled()) << "other values fall through to the user default";
}

TEST_F(PerformanceLogTest, UserDefaultMustBeABoolean) {
    setDefault(true);
    EXPECT_TRUE(isPerformanceLoggingEnabled());
    setDefault(false);
    EXPECT_FALSE(isPerformanceLoggingEnabled());
    for (const platform::PropertyValue& value : {platform::PropertyValue("1"), platform::PropertyValue("YES"),
                                                 platform::PropertyValue(1), platform::PropertyValue(1.0)}) {
        setDefault(value);
        EXPECT_FALSE(isPerformanceLoggingEnabled());
    }
}

TEST_F(PerformanceLogTest, FirstWrittenLineShowsZeroSeconds) {
    logPerformanceMark("before.switching.on");  // off: must not start the clock
    clock_.advance(42.0);
    setenv("MOSSBRIDGE_PERF_LOGS", "1", 1);
    const auto text = output([&] {
        logPerformanceMark("app.start");
        clock_.advance(1.25);
        logPerformanceMark("later");
    });
    EXPECT_EQ(text, "MossbridgePerf 0.000s app.start\nMossbridgePerf 1.250s later\n");
}

TEST_F(PerformanceLogTest, LineShapes) {
    setenv("MOSSBRIDGE_PERF_LOGS", "1", 1);
    const auto text = output([&] {
        logPerformanceDuration("refresh.runningApps", 2.04);
        logPerformanceDuration("status.badges", 5.26, "apps=3");
        logPerformanceEvent("refresh.total", [] { return std::string(); });
        logPerformanceStatusTaskSkip(4);
        logPerformanceLaunchServicesTimeout({"a", "b c", "d"});
        logPerformanceOsascript(31.0, 12);
        logPerformancePetDrawSlow(4.26, "Mail", PetKind::foxcat, false);
        logPerformanceMediaNotification("com.spotify.client", MediaPlaybackState::paused, std::nullopt);
    });
    EXPECT_EQ(text,
              "MossbridgePerf 0.000s refresh.runningApps 2.0ms\n"
              "MossbridgePerf 0.000s status.badges 5.3ms apps=3\n"
              "MossbridgePerf 0.000s refresh.total\n"
              "MossbridgePerf 0.000s status.refresh.task.skip reason=task-in-flight apps=4\n"
              "MossbridgePerf 0.000s status.badges.launchServices.timeout a b c d\n"
              "MossbridgePerf 0.000s subprocess.osascript 31.0ms outputChars=12\n"
              "MossbridgePerf 0.000s pet.draw.slow 4.3ms app=Mail pet=Foxcat sprite=false\n"
              "MossbridgePerf 0.000s media.notification bundle=com.spotify.client state=paused title=nil\n");
}

TEST_F(PerformanceLogTest, LinesFromManyThreadsStayWhole) {
    setenv("MOSSBRIDGE_PERF_LOGS", "1", 1);
    constexpr int kThreads = 4;
    constexpr int kLines = 50;
    const auto text = output([&] {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([t] {
                for (int i = 0; i < kLines; ++i) logPerformanceDuration("thread.work", 1.0, "thread=" + std::to_string(t));
            });
        }
        for (auto& thread : threads) thread.join();
    });
    std::istringstream lines(text);
    const std::regex shape(R"(MossbridgePerf 0\.000s thread\.work 1\.0ms thread=[0-3])");
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) EXPECT_TRUE(std::regex_match(line, shape)) << line;
    EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
}  // namespace Mossbridge
