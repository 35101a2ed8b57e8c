// The executable as a user runs it: every way of ending the process goes
// out through the one shutdown, without a crash. These tests start real
// processes and wait for them, each for at most a few seconds.

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <fcntl.h>

#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "TestPaths.h"
#include "platform/core/Process.h"
#include "platform/core/XdgPaths.h"
#include "platform/drawing/Bitmap.h"

namespace {

namespace fs = std::filesystem;

fs::path emptyScenario() {
    const fs::path scenario = platform::temporaryDirectory() / "empty.json";
    fs::create_directories(scenario.parent_path());
    std::ofstream(scenario) << "{}";
    return scenario;
}

// Quitting while the analytics layers are still starting up once crashed
// in most runs, in exit handlers racing their queues.
TEST(ProcessExit, FiftyQuickQuitsInARowEndWithStatusZero) {
    platform::ProcessRequest request;
    request.executablePath = Mossbridge::testing::mossbridgePath();
    request.arguments = {"--scenario", emptyScenario().string(), "--seconds", "0.25", "--virtual-time",
                         "--snapshot-interval", "0"};
    request.timeoutSeconds = 30;
    for (int run = 0; run < 50; ++run) {
        const platform::ProcessResult result = platform::runProcess(request);
        ASSERT_EQ(result.outcome, platform::ProcessOutcome::Exited)
            << "run " << run << " ended by signal " << result.terminatingSignal << "\n"
            << result.standardOutput << result.standardError;
        ASSERT_EQ(result.exitStatus, 0) << "run " << run << "\n" << result.standardOutput << result.standardError;
    }
}

TEST(ProcessExit, SigtermEndsTheRunWithStatusZeroAndTheLastPicture) {
    const fs::path screens = platform::temporaryDirectory() / "sigterm-screens";
    fs::remove_all(screens);
    const fs::path folder = screens.parent_path();
    Mossbridge::testing::ChildProcess child({"--scenario", emptyScenario().string(), "--seconds", "60", "--snapshots",
                                             screens.string(), "--snapshot-interval", "0.05"},
                                            Mossbridge::testing::environmentUnder(folder / "sigterm-home"),
                                            folder / "sigterm-errors.txt");
    ASSERT_TRUE(child.started());

    // The first periodic picture says the run is under way.
    const auto picture = [&](int number) {
        char name[32];
        std::snprintf(name, sizeof name, "screen-%04d.png", number);
        return screens / name;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!fs::exists(picture(1)) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(fs::exists(picture(1)));
    ASSERT_EQ(kill(child.pid(), SIGTERM), 0);
    ASSERT_EQ(Mossbridge::testing::describeStatus(child.waitFor(20)), "exit 0") << child.errors();

    // The newest picture, the one taken on the way out, is whole.
    int newest = 0;
    for (const auto& entry : fs::directory_iterator(screens)) {
        newest = std::max(newest, std::stoi(entry.path().stem().string().substr(7)));
    }
    EXPECT_TRUE(platform::Bitmap::loadPng(picture(newest))) << picture(newest);
}

// SIGINT and SIGTERM at any moment of a run take the orderly end. The moments
// count from the last of the libraries' initializers, StartNotice.c's, before
// the executable's static objects and main: the executable's pre-initializer
// has blocked the signals before the first library's initializer, and the
// time those initializers take is not timed here. The dynamic loader's
// milliseconds before the pre-initializer are beyond any program's reach.
TEST(ProcessExit, SignalsInTheFirstMillisecondsEndTheRunWithStatusZero) {
    const fs::path folder = platform::temporaryDirectory() / "early-signals";
    const std::vector<std::string> arguments = {"--scenario", emptyScenario().string(), "--seconds", "30",
                                                "--snapshot-interval", "0"};
    constexpr int kChildNotice = 10;
    const std::vector<std::string> environment = Mossbridge::testing::environmentUnder(
        folder / "home", {"LD_PRELOAD=" MOSSBRIDGE_START_NOTICE,
                          "MOSSBRIDGE_START_NOTICE_FD=" + std::to_string(kChildNotice),
                          // The notice is loaded before the sanitizer's library; that is all it does.
                          "ASAN_OPTIONS=verify_asan_link_order=0"});
    int run = 0;
    for (const int milliseconds : {0, 3, 8, 15, 25}) {
        for (int repeat = 0; repeat < 4; ++repeat, ++run) {
            const int signal = run % 2 ? SIGINT : SIGTERM;
            int notice[2];
            ASSERT_EQ(pipe2(notice, O_CLOEXEC), 0);
            Mossbridge::testing::ChildProcess child(arguments, environment, folder / "errors.txt", notice[1],
                                                    kChildNotice);
            close(notice[1]);
            ASSERT_TRUE(child.started());
            pollfd started{notice[0], POLLIN, 0};
            char byte = 0;
            const bool noticed = poll(&started, 1, 20000) == 1 && read(notice[0], &byte, 1) == 1;
            close(notice[0]);
            ASSERT_TRUE(noticed) << Mossbridge::testing::describeStatus(child.waitFor(0)) << "\n" << child.errors();
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
            ASSERT_EQ(kill(child.pid(), signal), 0);
            const auto status = child.waitFor(20);
            EXPECT_EQ(Mossbridge::testing::describeStatus(status), "exit 0")
                << strsignal(signal) << " at " << milliseconds << " ms\n" << child.errors();
        }
    }
}

}  // namespace
