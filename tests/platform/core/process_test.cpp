#include "platform/core/Process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using platform::ProcessOutcome;
using platform::ProcessRequest;
using platform::ProcessResult;
using Clock = std::chrono::steady_clock;

ProcessRequest shell(const std::string& script, double timeout = 5.0) {
    ProcessRequest request;
    request.executablePath = "/bin/sh";
    request.arguments = {"-c", script};
    request.timeoutSeconds = timeout;
    return request;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The child was reaped: it is no longer our child and no longer exists.
void expectReaped(pid_t pid) {
    ASSERT_GT(pid, 0);
    errno = 0;
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(pid)));
}

// A process that is gone or a zombie waiting for its (new) parent: either way
// no longer running.
bool stoppedRunning(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    if (!stat) return true;
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

bool stopsRunningWithin(pid_t pid, double seconds) {
    const auto start = Clock::now();
    while (secondsSince(start) < seconds) {
        if (stoppedRunning(pid)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return stoppedRunning(pid);
}

TEST(ProcessOutput, DrainsMoreThanAPipeBufferOnBothStreams) {
    // Standard error first: a runner that waits before reading, or reads
    // standard output to its end before standard error, stalls here.
    const auto start = Clock::now();
    const auto result = platform::runProcess(shell(
        "head -c 300000 /dev/zero | tr '\\000' e >&2; head -c 250000 /dev/zero | tr '\\000' o", 10.0));
    EXPECT_LT(secondsSince(start), 5.0);
    ASSERT_EQ(result.outcome, ProcessOutcome::Exited) << result.errorDescription;
    EXPECT_TRUE(result.exitedSuccessfully());
    EXPECT_EQ(result.standardError, std::string(300000, 'e'));
    EXPECT_EQ(result.standardOutput, std::string(250000, 'o'));
    expectReaped(result.processIdentifier);
}

TEST(ProcessOutput, KeepsBytesThatAreNotUtf8) {
    const auto result = platform::runProcess(shell("printf '\\377\\376a\\000b\\200\\n'; printf '\\300' >&2"));
    ASSERT_EQ(result.outcome, ProcessOutcome::Exited);
    EXPECT_EQ(result.standardOutput, std::string("\xff\xfe" "a\0b\x80\n", 7));
    EXPECT_EQ(result.standardError, "\xc0");
}

TEST(ProcessOutput, PassesArgumentsUnchangedWithoutAShell) {
    ProcessRequest request;
    request.executablePath = "/usr/bin/printf";
    request.arguments = {"%s|%s", "$HOME `x` \"q\" *", "\xff\xfe"};
    const auto result = platform::runProcess(request);
    ASSERT_EQ(result.outcome, ProcessOutcome::Exited);
    EXPECT_EQ(result.standardOutput, "$HOME `x` \"q\" *|\xff\xfe");
}

TEST(ProcessOutput, ReturnsWhenTheChildExitsEvenIfAGrandchildHoldsThePipes) {
    const auto start = Clock::now();
    const auto result = platform::runProcess(shell("sleep 3 & echo $!"));
    EXPECT_LT(secondsSince(start), 1.5);
    ASSERT_EQ(result.outcome, ProcessOutcome::Exited);
    const pid_t grandchild = std::stoi(result.standardOutput);
    ::kill(grandchild, SIGKILL);
}

TEST(ProcessOutput, ChildInheritsOnlyItsStandardDescriptors) {
    const int stray = ::open("/dev/null", O_RDONLY);  // deliberately not close-on-exec
    ASSERT_GE(stray, 0);
    const auto result = platform::runProcess(shell("ls /proc/$$/fd"));
    ::close(stray);
    ASSERT_EQ(result.outcome, ProcessOutcome::Exited);
    EXPECT_EQ(result.standardOutput, "0\n1\n2\n");
}

// The application blocks SIGINT and SIGTERM for its whole life; the tools it
// starts must still end on them.
TEST(ProcessOutput, ChildStartsWithNoSignalBlocked) {
    sigset_t termination, previous;
    sigemptyset(&termination);
    sigaddset(&termination, SIGINT);
    sigaddset(&termination, SIGTERM);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &termination, &previous), 0);
    const auto result = platform::runProcess(shell("exec grep SigBlk /proc/self/status"));
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ASSERT_EQ(result.outcome, ProcessOutcome::Exited);
    EXPECT_EQ(result.standardOutput, "SigBlk:\t0000000000000000\n");
}

TEST(ProcessInput, FeedsStandardInputWhileReadingOutput) {
    // Larger than a pipe buffer in each direction: writing all input before
    // reading any output would stall.
    std::string input(400000, '\0');
    for (std::size_t i = 0; i < input.size(); ++i) input[i] = static_cast<char>(i * 7 % 256);
    ProcessRequest request;
    request.executablePath = "/bin/cat";
    request.standardInput = input;
    const auto result = platform::runProcess(request);
    ASSERT_EQ(result.outcome, ProcessOutcome::Exited);
    EXPECT_EQ(result.standardOutput.size(), input.size());
    EXPECT_TRUE(result.standardOutput == input);
}

TEST(ProcessInput, NoInputReadsAsEmpty) {
    ProcessRequest request;
    request.executablePath = "/bin/cat";
    request.timeoutSeconds = 2.0;
    EXPECT_EQ(platform::runProcess(request).outcome, ProcessOutcome::Exited);
    request.standardInput = "";
    const auto result = platform::runProcess(request);
    EXPECT_EQ(result.outcome, ProcessOutcome::Exited);
    EXPECT_EQ(result.standardOutput, "");
}

TEST(ProcessInput, ChildThatClosesItsInputDoesNotRaiseSigpipe) {
    // The child closes its input and lives on, so writing the rest fails
    // with a broken pipe while it still runs.
    auto request = shell("exec 0<&-; sleep 0.1; echo alive");
    request.standardInput = std::string(2 * 1024 * 1024, 'x');
    const auto result = platform::runProcess(request);  // this test process must survive
    EXPECT_TRUE(result.exitedSuccessfully());
    EXPECT_EQ(result.standardOutput, "alive\n");
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

TEST(ProcessStatus, ReportsNonZeroExitWithItsErrorOutput) {
    const auto result = platform::runProcess(shell("echo partial; echo 'syntax error' >&2; exit 3"));
    ASSERT_EQ(result.outcome, ProcessOutcome::Exited);
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_EQ(result.terminationStatus(), 3);
    EXPECT_FALSE(result.exitedSuccessfully());
    EXPECT_EQ(result.standardOutput, "partial\n");
    EXPECT_EQ(result.standardError, "syntax error\n");
    expectReaped(result.processIdentifier);
}

TEST(ProcessStatus, ReportsDeathBySignal) {
    const auto result = platform::runProcess(shell("kill -KILL $$"));
    ASSERT_EQ(result.outcome, ProcessOutcome::Signaled);
    EXPECT_EQ(result.terminatingSignal, SIGKILL);
    EXPECT_EQ(result.terminationStatus(), SIGKILL);
    EXPECT_FALSE(result.exitedSuccessfully());
}

TEST(ProcessTimeout, StopsAChildPastItsDeadlineAndReapsIt) {
    auto request = shell("sleep 5 & echo $!; wait", 0.3);
    const auto start = Clock::now();
    const auto result = platform::runProcess(request);
    const double elapsed = secondsSince(start);
    ASSERT_EQ(result.outcome, ProcessOutcome::TimedOut);
    EXPECT_GE(elapsed, 0.3);
    EXPECT_LT(elapsed, 0.3 + request.terminationGraceSeconds + 0.3);
    EXPECT_FALSE(result.exitedSuccessfully());
    expectReaped(result.processIdentifier);
    // Output written before the deadline is kept; what the child started is
    // stopped with it.
    const pid_t grandchild = std::stoi(result.standardOutput);
    EXPECT_TRUE(stopsRunningWithin(grandchild, 1.0));
}

TEST(ProcessTimeout, KillsAChildThatIgnoresTermination) {
    auto request = shell("trap '' TERM; echo ready; while :; do sleep 1; done", 0.3);
    const auto start = Clock::now();
    const auto result = platform::runProcess(request);
    const double elapsed = secondsSince(start);
    ASSERT_EQ(result.outcome, ProcessOutcome::TimedOut);
    EXPECT_EQ(result.terminatingSignal, SIGKILL);
    EXPECT_EQ(result.standardOutput, "ready\n");
    EXPECT_LT(elapsed, 0.3 + request.terminationGraceSeconds + 0.3);
    expectReaped(result.processIdentifier);
}

class ProcessLaunchFailure : public ::testing::Test {
protected:
    void TearDown() override {
        // Nothing may be left to reap.
        errno = 0;
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
    }
};

TEST_F(ProcessLaunchFailure, MissingExecutable) {
    ProcessRequest request;
    request.executablePath = "/nonexistent/dir/osascript";
    const auto result = platform::runProcess(request);
    EXPECT_EQ(result.outcome, ProcessOutcome::FailedToStart);
    EXPECT_EQ(result.errorDescription, "The file \u201cosascript\u201d doesn\u2019t exist.");
    EXPECT_EQ(result.processIdentifier, 0);
    EXPECT_FALSE(result.exitedSuccessfully());
}

TEST_F(ProcessLaunchFailure, FileWithoutExecutePermission) {
    std::string directory = (std::filesystem::temp_directory_path() / "process_test_XXXXXX").string();
    ASSERT_NE(::mkdtemp(directory.data()), nullptr);
    const std::string path = directory + "/tool";
    std::ofstream(path) << "#!/bin/sh\necho hi\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ProcessRequest request;
    request.executablePath = path;
    const auto result = platform::runProcess(request);
    std::filesystem::remove_all(directory);
    EXPECT_EQ(result.outcome, ProcessOutcome::FailedToStart);
    EXPECT_NE(result.errorDescription.find("\u201ctool\u201d"), std::string::npos) << result.errorDescription;
    EXPECT_NE(result.errorDescription.find("permission"), std::string::npos) << result.errorDescription;
}

TEST_F(ProcessLaunchFailure, RelativePathOrNulInArgumentsIsRejected) {
    ProcessRequest relative;
    relative.executablePath = "sh";
    auto result = platform::runProcess(relative);
    EXPECT_EQ(result.outcome, ProcessOutcome::FailedToStart);
    EXPECT_FALSE(result.errorDescription.empty());

    auto nul = shell(std::string("echo a\0b", 8));
    result = platform::runProcess(nul);
    EXPECT_EQ(result.outcome, ProcessOutcome::FailedToStart);
    EXPECT_FALSE(result.errorDescription.empty());
}

TEST(ProcessConcurrency, CallsFromSeveralThreadsKeepTheirOwnOutput) {
    constexpr int kThreads = 8;
    std::vector<ProcessResult> results(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([i, &results] {
            ProcessRequest request;
            request.executablePath = "/bin/cat";
            request.standardInput = std::string(100000 + i, static_cast<char>('a' + i));
            results[i] = platform::runProcess(request);
        });
    }
    for (auto& thread : threads) thread.join();
    for (int i = 0; i < kThreads; ++i) {
        ASSERT_TRUE(results[i].exitedSuccessfully()) << i;
        EXPECT_TRUE(results[i].standardOutput == std::string(100000 + i, static_cast<char>('a' + i))) << i;
    }
}

}  // namespace
