// One running instance per set of user folders, with real processes: a
// second launch on the same home names the first and ends with status 0,
// leaving every file as it was; a lock left by a killed instance is no
// obstacle. Each test waits on its processes for a few seconds at most.

#include <sys/file.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "platform/core/XdgPaths.h"

namespace Mossbridge::testing {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kLongRun = {"--seconds", "30", "--snapshot-interval", "0"};
const std::vector<std::string> kShortRun = {"--seconds", "0.5", "--virtual-time", "--snapshot-interval", "0.25"};

fs::path freshFolder(const std::string& name) {
    const fs::path folder = platform::temporaryDirectory() / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

fs::path lockFile(const fs::path& home) { return home / "data" / "Mossbridge" / "instance.lock"; }

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string runningLine(const fs::path& home, const std::string& holder) {
    return "Mossbridge: already running " + holder + " on these user folders (" + lockFile(home).string() +
           " is locked); this launch ends and changes nothing\n";
}

// Every folder and file of the user's folders (data, config and cache; not
// TMPDIR, where the sanitizers' runtimes keep files of their own): its
// modification time, and a file's bytes.
using HomeState = std::map<fs::path, std::tuple<fs::file_time_type, std::string>>;

HomeState stateOf(const fs::path& home) {
    HomeState state;
    for (const char* folder : {"data", "config", "cache"}) {
        state[home / folder] = {fs::last_write_time(home / folder), ""};
        for (const auto& entry : fs::recursive_directory_iterator(home / folder)) {
            state[entry.path()] = {entry.last_write_time(), entry.is_regular_file() ? readFile(entry.path()) : ""};
        }
    }
    return state;
}

// The paths that appeared, vanished or changed from `before` to `after`.
std::string changes(const HomeState& before, const HomeState& after) {
    std::string changed;
    for (const auto& [path, state] : after) {
        const auto earlier = before.find(path);
        if (earlier == before.end() || earlier->second != state) changed += path.string() + "\n";
    }
    for (const auto& entry : before) {
        if (!after.count(entry.first)) changed += entry.first.string() + " (gone)\n";
    }
    return changed;
}

TEST(SingleInstance, OfTwoLaunchesTogetherOnOneHomeOneRunsAndTheOtherNamesItAndEnds) {
    const fs::path folder = freshFolder("launch-pairs");
    // Half as many pairs at a time as there are processors (at most four):
    // the bound of two seconds is for a launch that has a processor to run on.
    constexpr int kPairs = 20;
    const int kPairsAtATime = static_cast<int>(std::clamp(std::thread::hardware_concurrency() / 2, 1u, 4u));
    struct Pair {
        fs::path home;
        std::unique_ptr<ChildProcess> first, second;
        std::chrono::steady_clock::time_point started;
        ChildProcess* survivor = nullptr;
    };
    for (int batch = 0; batch < kPairs; batch += kPairsAtATime) {
        std::vector<Pair> pairs(std::min(kPairsAtATime, kPairs - batch));
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            Pair& pair = pairs[i];
            pair.home = folder / std::to_string(batch + static_cast<int>(i));
            const auto environment = environmentUnder(pair.home);
            pair.started = std::chrono::steady_clock::now();
            pair.first = std::make_unique<ChildProcess>(kLongRun, environment, pair.home / "first.txt");
            pair.second = std::make_unique<ChildProcess>(kLongRun, environment, pair.home / "second.txt");
            ASSERT_TRUE(pair.first->started() && pair.second->started());
        }
        for (Pair& pair : pairs) {
            const auto deadline = pair.started + std::chrono::seconds(2);
            while (!pair.first->waitFor(0) && !pair.second->waitFor(0) && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            const bool firstEnded = pair.first->waitFor(0).has_value();
            ChildProcess& ended = firstEnded ? *pair.first : *pair.second;
            pair.survivor = firstEnded ? pair.second.get() : pair.first.get();
            EXPECT_EQ(describeStatus(ended.waitFor(0)), "exit 0") << pair.home << "\n" << ended.errors();
            EXPECT_EQ(ended.errors(), runningLine(pair.home, "as process " + std::to_string(pair.survivor->pid())));
            ASSERT_TRUE(pair.survivor->running()) << pair.home << ": " << describeStatus(pair.survivor->waitFor(0))
                                                  << "\n" << pair.survivor->errors();
        }
        for (const Pair& pair : pairs) kill(pair.survivor->pid(), SIGTERM);
        for (const Pair& pair : pairs) {
            EXPECT_EQ(describeStatus(pair.survivor->waitFor(20)), "exit 0") << pair.home << "\n"
                                                                            << pair.survivor->errors();
            EXPECT_EQ(pair.survivor->errors().find("already running"), std::string::npos) << pair.home;
        }
    }
}

// The lock is taken here by the test itself, with or without its ID written
// (a holder between its lock and its write): the launch ends all the same,
// after a bounded wait for the ID.
TEST(SingleInstance, ALaunchOnAHomeWhoseLockIsHeldChangesNoFileAndEndsWithStatusZero) {
    const struct {
        const char* name;
        bool writesItsId;
        std::string holder;
    } holders[] = {
        {"holder with its ID", true, "as process " + std::to_string(getpid())},
        {"holder without its ID", false, "(its process ID is not known yet)"},
    };
    for (const auto& holder : holders) {
        const fs::path home = freshFolder("held-lock") / "home";
        const auto environment = environmentUnder(home);
        const fs::path output = home.parent_path() / "errors.txt";
        ChildProcess first(kShortRun, environment, output);
        ASSERT_EQ(describeStatus(first.waitFor(60)), "exit 0") << first.errors();

        const int fd = open(lockFile(home).c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
        const std::string id = holder.writesItsId ? std::to_string(getpid()) + "\n" : "";
        ASSERT_EQ(pwrite(fd, id.data(), id.size(), 0), static_cast<ssize_t>(id.size()));
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(id.size())), 0);
        const HomeState before = stateOf(home);

        ChildProcess second(kShortRun, environment, output);
        EXPECT_EQ(describeStatus(second.waitFor(2)), "exit 0") << holder.name << "\n" << second.errors();
        EXPECT_EQ(second.errors(), runningLine(home, holder.holder)) << holder.name;
        EXPECT_EQ(changes(before, stateOf(home)), "") << holder.name;
        close(fd);
    }
}

TEST(SingleInstance, ALaunchAfterTheRunningInstanceWasKilledStartsNormally) {
    const fs::path home = freshFolder("killed-instance") / "home";
    const auto environment = environmentUnder(home);
    ChildProcess killed(kLongRun, environment, home.parent_path() / "killed.txt");
    const std::string killedId = std::to_string(killed.pid()) + "\n";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (readFile(lockFile(home)) != killedId && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(readFile(lockFile(home)), killedId) << killed.errors();
    ASSERT_EQ(kill(killed.pid(), SIGKILL), 0);
    ASSERT_EQ(describeStatus(killed.waitFor(10)), "signal 9");

    ChildProcess next(kShortRun, environment, home.parent_path() / "next.txt");
    EXPECT_EQ(describeStatus(next.waitFor(60)), "exit 0") << next.errors();
    EXPECT_EQ(next.errors().find("already running"), std::string::npos) << next.errors();
    EXPECT_EQ(readFile(lockFile(home)), std::to_string(next.pid()) + "\n");
}

}  // namespace
}  // namespace Mossbridge::testing
