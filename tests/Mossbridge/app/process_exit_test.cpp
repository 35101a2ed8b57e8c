// The executable as a user runs it: every way of ending the process goes
// out through the one shutdown, without a crash. These tests start real
// processes and wait for them, each for at most a few seconds.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>

#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "TestPaths.h"
#include "platform/core/Process.h"
#include "platform/core/XdgPaths.h"
#include "platform/drawing/Bitmap.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string mossbridge() { return (testpaths::binaryDir() / "bin" / "mossbridge").string(); }

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
    request.executablePath = mossbridge();
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
    const std::vector<std::string> arguments = {mossbridge(), "--scenario", emptyScenario().string(), "--seconds",
                                                "60", "--snapshots", screens.string(), "--snapshot-interval", "0.05"};
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

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
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);

    // The newest picture, the one taken on the way out, is whole.
    int newest = 0;
    for (const auto& entry : fs::directory_iterator(screens)) {
        newest = std::max(newest, std::stoi(entry.path().stem().string().substr(7)));
    }
    EXPECT_TRUE(platform::Bitmap::loadPng(picture(newest))) << picture(newest);
}

}  // namespace
