// The AppleScript runner against fake interpreters: the exact argument
// vector, trimmed and blank output, failures on standard error, time-outs
// and the lines each outcome writes.

#include "Mossbridge/system/AppleScriptRunner.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "Mossbridge/model/PerformanceLog.h"
#include "platform/core/XdgPaths.h"

namespace Mossbridge {
namespace {

namespace fs = std::filesystem;

class AppleScriptRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(platform::temporaryDirectory());
        std::string pattern = (platform::temporaryDirectory() / "osascript-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        setenv("MOSSBRIDGE_PERF_LOGS", "1", 1);
        resetPerformanceLogForTesting(&clock);
    }
    void TearDown() override {
        unsetenv("MOSSBRIDGE_PERF_LOGS");
        resetPerformanceLogForTesting();
        fs::remove_all(folder_);
    }

    // A fake interpreter: a shell script with `body`.
    std::string interpreter(const std::string& body) {
        const fs::path path = folder_ / ("fake-" + std::to_string(++count_));
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(path, fs::perms::owner_all);
        return path.string();
    }

    // Runs and answers the result and everything written to standard output.
    std::pair<std::optional<std::string>, std::string> run(const AppleScriptRunner& runner, const std::string& script) {
        ::testing::internal::CaptureStdout();
        auto result = runner.run(script);
        std::fflush(stdout);
        return {result, ::testing::internal::GetCapturedStdout()};
    }

    fs::path folder_;
    platform::VirtualClock clock;

private:
    int count_ = 0;
};

TEST_F(AppleScriptRunnerTest, TheScriptIsOneUnchangedArgumentAfterDashE) {
    const fs::path arguments = folder_ / "arguments";
    const AppleScriptRunner runner(interpreter("printf '%s\\0' \"$@\" > '" + arguments.string() + "'"));
    const std::string script = "tell application \"A \\\"B\\\"\"\n    return $HOME `x` 'y'\nend tell";
    const auto [result, output] = run(runner, script);
    EXPECT_EQ(result, "");
    std::ifstream file(arguments, std::ios::binary);
    const std::string recorded((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(recorded, std::string("-e\0", 3) + script + std::string("\0", 1));
}

TEST_F(AppleScriptRunnerTest, OutputIsTrimmedAndBlankOutputIsAnEmptyAnswer) {
    EXPECT_EQ(run(AppleScriptRunner(interpreter("printf '  Inbox\\nDraft \\n\\n'")), "x").first, "Inbox\nDraft");
    const auto [blank, output] = run(AppleScriptRunner(interpreter("printf '\\n   \\n'")), "x");
    ASSERT_TRUE(blank.has_value());
    EXPECT_EQ(*blank, "");
    EXPECT_EQ(output, "");
}

TEST_F(AppleScriptRunnerTest, ANonZeroStatusAnswersNoneAndPrintsTheTrimmedError) {
    const auto [result, output] =
        run(AppleScriptRunner(interpreter("echo partial; echo ' 12:18: syntax error: A \"end\" is missing. (-2741)' >&2; exit 1")),
            "tell");
    EXPECT_FALSE(result);
    EXPECT_NE(output.find("subprocess.osascript.failed "), std::string::npos);
    EXPECT_NE(output.find("ms status=1 error=12:18: syntax error: A \"end\" is missing. (-2741)\n"), std::string::npos);
    EXPECT_NE(output.find("Mossbridge: AppleScript failed: 12:18: syntax error: A \"end\" is missing. (-2741)\n"),
              std::string::npos);
}

TEST_F(AppleScriptRunnerTest, UndecodableErrorTextIsUnknown) {
    const auto [result, output] = run(AppleScriptRunner(interpreter("printf '\\377\\376' >&2; exit 2")), "x");
    EXPECT_FALSE(result);
    EXPECT_NE(output.find("status=2 error=unknown\n"), std::string::npos);
    EXPECT_NE(output.find("Mossbridge: AppleScript failed: unknown error\n"), std::string::npos);
}

TEST_F(AppleScriptRunnerTest, UndecodableOutputAnswersNoneWithoutALine) {
    const auto [result, output] = run(AppleScriptRunner(interpreter("printf 'ok\\377'")), "x");
    EXPECT_FALSE(result);
    EXPECT_EQ(output.find("Mossbridge: "), std::string::npos);
}

TEST_F(AppleScriptRunnerTest, AMissingInterpreterFailsToStart) {
    const auto [result, output] = run(AppleScriptRunner((folder_ / "no-such-tool").string()), "x");
    EXPECT_FALSE(result);
    EXPECT_NE(output.find("subprocess.osascript.failedToStart "), std::string::npos);
    EXPECT_NE(output.find("Mossbridge: AppleScript failed to start: "), std::string::npos);
}

TEST_F(AppleScriptRunnerTest, TheSystemRunnerUsesTheSystemInterpreter) {
    if (fs::exists(AppleScriptRunner::interpreterPath)) GTEST_SKIP() << "a script interpreter is installed";
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(runAppleScript("return 1"));
    EXPECT_NE(::testing::internal::GetCapturedStdout().find("Mossbridge: AppleScript failed to start: "),
              std::string::npos);
}

// A process runner that takes `seconds` of virtual time and answers `result`.
AppleScriptRunner::ProcessRunner fakeRunner(platform::VirtualClock& clock, double seconds,
                                            platform::ProcessResult result, platform::ProcessRequest* seen) {
    return [&clock, seconds, result, seen](const platform::ProcessRequest& request) {
        if (seen) *seen = request;
        clock.advance(seconds);
        return result;
    };
}

TEST_F(AppleScriptRunnerTest, ARunIsBoundedByOnePointFiveSecondsAndATimeOutAnswersNone) {
    platform::ProcessRequest seen;
    platform::ProcessResult timedOut;
    timedOut.outcome = platform::ProcessOutcome::TimedOut;
    const AppleScriptRunner runner("/usr/bin/osascript", fakeRunner(clock, 1.5, timedOut, &seen), clock);
    const auto [result, output] = run(runner, "delay 5");
    EXPECT_FALSE(result);
    EXPECT_EQ(seen.executablePath, "/usr/bin/osascript");
    EXPECT_EQ(seen.arguments, (std::vector<std::string>{"-e", "delay 5"}));
    EXPECT_EQ(seen.timeoutSeconds, 1.5);
    EXPECT_FALSE(seen.standardInput);
    EXPECT_NE(output.find("subprocess.osascript.timeout 1500.0ms\n"), std::string::npos);
    EXPECT_NE(output.find("Mossbridge: AppleScript timed out.\n"), std::string::npos);
}

TEST_F(AppleScriptRunnerTest, ASuccessfulRunIsLoggedOnlyAboveThirtyMilliseconds) {
    platform::ProcessResult exited;
    exited.outcome = platform::ProcessOutcome::Exited;
    exited.standardOutput = " e\xCC\x81t\xC3\xA9 \n";  // "été" with one combining accent: 3 characters
    EXPECT_EQ(run(AppleScriptRunner("/x", fakeRunner(clock, 0.030, exited, nullptr), clock), "x").second, "");
    const auto [result, output] = run(AppleScriptRunner("/x", fakeRunner(clock, 0.0312, exited, nullptr), clock), "x");
    EXPECT_EQ(result, "e\xCC\x81t\xC3\xA9");
    EXPECT_NE(output.find("subprocess.osascript 31.2ms outputChars=3\n"), std::string::npos);
}

TEST(AppleScriptEscapingTest, BackslashesAreDoubledBeforeQuotesAreEscaped) {
    EXPECT_EQ(escapedForAppleScriptString("a\\\"b"), "a\\\\\\\"b");
    EXPECT_EQ(escapedForAppleScriptString("plain"), "plain");
}

}  // namespace
}  // namespace Mossbridge
