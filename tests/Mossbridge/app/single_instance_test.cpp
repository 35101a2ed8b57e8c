// One running instance per set of user folders, with real processes: a
// second launch sharing any of the first's data, configuration and cache
// folders names the first and ends with status 0, leaving every file as it
// was; a lock left by a killed instance is no obstacle. Each test waits on its
// processes for a few seconds at most. Launches that start together are also
// played in this process, many times over, as claims on two threads.

#include <sys/file.h>

#include <algorithm>
#include <barrier>
#include <cctype>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "Mossbridge/app/SingleInstance.h"
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

// `folder`: "data", "config" or "cache".
fs::path lockFile(const fs::path& home, const std::string& folder) {
    return home / folder / "Mossbridge" / "instance.lock";
}

// `folder`'s variable: "config" -> "XDG_CONFIG_HOME".
std::string xdgVariable(std::string folder) {
    std::transform(folder.begin(), folder.end(), folder.begin(), ::toupper);
    return "XDG_" + folder + "_HOME";
}

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string runningLine(const fs::path& lock, const std::string& holder) {
    return "Mossbridge: already running " + holder + " on these user folders (" + lock.string() +
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

// Two launches at once whose homes share some of the user's folders: when
// they share any, one runs and the other names it and the shared folder's
// lock, and ends; when they share none, both run.
TEST(SingleInstance, OfTwoLaunchesTogetherSharingAUserFolderOneRunsAndTheOtherNamesItAndEnds) {
    const struct {
        const char* name;
        std::vector<std::string> shared;  // the second launch's folders in the first's home
        const char* lockedFolder;         // the folder whose lock the second of the two finds held, if any
    } sharings[] = {
        {"every folder", {"data", "config", "cache"}, "data"},
        {"the configuration folder", {"config"}, "config"},
        {"the cache folder", {"cache"}, "cache"},
        {"no folder", {}, nullptr},
    };
    const fs::path folder = freshFolder("launch-pairs");
    // Half as many pairs at a time as there are processors (at most four):
    // the bound of two seconds is for a launch that has a processor to run on.
    constexpr int kPairs = 20;
    const int kPairsAtATime = static_cast<int>(std::clamp(std::thread::hardware_concurrency() / 2, 1u, 4u));
    struct Pair {
        int number = 0;
        fs::path home;
        std::unique_ptr<ChildProcess> first, second;
        std::chrono::steady_clock::time_point started;
        std::vector<ChildProcess*> survivors;
    };
    for (int batch = 0; batch < kPairs; batch += kPairsAtATime) {
        std::vector<Pair> pairs(std::min(kPairsAtATime, kPairs - batch));
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            Pair& pair = pairs[i];
            pair.number = batch + static_cast<int>(i);
            pair.home = folder / std::to_string(pair.number);
            const auto& sharing = sharings[pair.number % std::size(sharings)];
            std::vector<std::string> shared;
            for (const std::string& name : sharing.shared) {
                shared.push_back(xdgVariable(name) + "=" + (pair.home / "first" / name).string());
            }
            pair.started = std::chrono::steady_clock::now();
            pair.first = std::make_unique<ChildProcess>(kLongRun, environmentUnder(pair.home / "first"),
                                                        pair.home / "first.txt");
            pair.second = std::make_unique<ChildProcess>(kLongRun, environmentUnder(pair.home / "second", shared),
                                                         pair.home / "second.txt");
            ASSERT_TRUE(pair.first->started() && pair.second->started());
        }
        for (Pair& pair : pairs) {
            const auto& sharing = sharings[pair.number % std::size(sharings)];
            // Past the guard: its ID in its data folder's lock.
            const auto claimed = [&](ChildProcess& child, const char* which) {
                return readFile(lockFile(pair.home / which, "data")) == std::to_string(child.pid()) + "\n";
            };
            const auto deadline = pair.started + std::chrono::seconds(2);
            while (!pair.first->waitFor(0) && !pair.second->waitFor(0) &&
                   !(claimed(*pair.first, "first") && claimed(*pair.second, "second")) &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            std::vector<ChildProcess*> ended;
            for (ChildProcess* child : {pair.first.get(), pair.second.get()}) {
                (child->waitFor(0) ? ended : pair.survivors).push_back(child);
            }
            const std::string context = pair.home.string() + " sharing " + sharing.name + "\n" +
                                        pair.first->errors() + pair.second->errors();
            ASSERT_EQ(ended.size(), sharing.lockedFolder ? 1u : 0u) << context;
            for (ChildProcess* child : ended) {
                EXPECT_EQ(describeStatus(child->waitFor(0)), "exit 0") << context;
                EXPECT_EQ(child->errors(), runningLine(lockFile(pair.home / "first", sharing.lockedFolder),
                                                       "as process " + std::to_string(pair.survivors[0]->pid())))
                    << context;
            }
        }
        for (const Pair& pair : pairs) {
            for (ChildProcess* survivor : pair.survivors) kill(survivor->pid(), SIGTERM);
        }
        for (const Pair& pair : pairs) {
            for (ChildProcess* survivor : pair.survivors) {
                EXPECT_EQ(describeStatus(survivor->waitFor(20)), "exit 0") << pair.home << "\n" << survivor->errors();
                EXPECT_EQ(survivor->errors().find("already running"), std::string::npos) << pair.home;
            }
        }
    }
}

// Gives up the locks this process keeps on `file`, as the end of the process
// would: a claim keeps its locks on descriptors it never closes.
void endKeptLocks(const fs::path& file) {
    const fs::path target = fs::weakly_canonical(file);
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (fs::read_symlink(entry.path(), error) == target) close(std::stoi(entry.path().filename()));
    }
}

// Two claims in this process released together, as two launches that start
// at once, on folders whose lock files an earlier run left: each may find a
// lock the other holds for a moment without its ID, taking it or looking at
// it. Every time, exactly one claims the folders and the other names it.
TEST(SingleInstance, OfTwoClaimsReleasedTogetherExactlyOneClaimsTheFolders) {
    const char* const kFolders[] = {"data", "config", "cache"};
    constexpr int kRounds = 2000;
    const fs::path home = freshFolder("claim-pairs");
    std::map<std::string, std::optional<std::string>> saved;
    for (const char* name : kFolders) {
        const std::string variable = xdgVariable(name);
        const char* value = std::getenv(variable.c_str());
        saved[variable] = value ? std::optional<std::string>(value) : std::nullopt;
        setenv(variable.c_str(), (home / name).c_str(), 1);
        fs::create_directories(lockFile(home, name).parent_path());
    }
    const std::string holder = "as process " + std::to_string(getpid());
    int withoutOneClaim = 0;
    std::string firstFault;
    for (int round = 0; round < kRounds; ++round) {
        // Free and empty lock files: a round's winner writes this process's
        // ID, which would name a living holder to the next round.
        for (const char* name : kFolders) {
            endKeptLocks(lockFile(home, name));
            std::ofstream(lockFile(home, name)).flush();
        }
        std::barrier start(2);
        bool claimed[2] = {};
        ::testing::internal::CaptureStderr();
        std::thread other([&] {
            start.arrive_and_wait();
            claimed[1] = claimUserFolders();
        });
        start.arrive_and_wait();
        claimed[0] = claimUserFolders();
        other.join();
        const std::string lines = ::testing::internal::GetCapturedStderr();
        const bool namesTheClaim = std::any_of(std::begin(kFolders), std::end(kFolders), [&](const char* name) {
            return lines == runningLine(lockFile(home, name), holder);
        });
        if (claimed[0] + claimed[1] != 1 || !namesTheClaim) {
            if (withoutOneClaim++ == 0) firstFault = "round " + std::to_string(round) + ":\n" + lines;
        }
    }
    for (const auto& [name, value] : saved) {
        if (value) setenv(name.c_str(), value->c_str(), 1); else unsetenv(name.c_str());
    }
    EXPECT_EQ(withoutOneClaim, 0) << "of " << kRounds << " rounds; the first:\n" << firstFault;
}

// The lock of each folder in turn is taken here by the test itself, with or
// without its ID written (a holder between its lock and its write). Held
// throughout, the launch ends all the same, after a bounded wait for the ID,
// and gives up the locks it took before unwritten; let go within that wait,
// the launch runs.
TEST(SingleInstance, ALaunchOnAHomeWithAnyLockHeldEndsChangingNoFileUnlessTheHolderSoonLetsGo) {
    const struct {
        const char* name;
        bool writesItsId;
        std::optional<std::chrono::milliseconds> heldFor;  // else until the launch has ended
        std::string holder;                               // whom the launch names; empty: it runs
    } holders[] = {
        {"holder with its ID", true, std::nullopt, "as process " + std::to_string(getpid())},
        {"holder without its ID", false, std::nullopt, "(its process ID is not known yet)"},
        {"holder without its ID for a moment", false, std::chrono::milliseconds(150), ""},
    };
    const fs::path home = freshFolder("held-lock") / "home";
    const auto environment = environmentUnder(home);
    const fs::path output = home.parent_path() / "errors.txt";
    ChildProcess first(kShortRun, environment, output);
    ASSERT_EQ(describeStatus(first.waitFor(60)), "exit 0") << first.errors();
    for (const char* folder : {"data", "config", "cache"}) {
        for (const auto& holder : holders) {
            const std::string context = std::string(folder) + ", " + holder.name;
            const int fd = open(lockFile(home, folder).c_str(), O_RDWR | O_CLOEXEC);
            ASSERT_GE(fd, 0) << context;
            ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0) << context;
            const std::string id = holder.writesItsId ? std::to_string(getpid()) + "\n" : "";
            ASSERT_EQ(pwrite(fd, id.data(), id.size(), 0), static_cast<ssize_t>(id.size())) << context;
            ASSERT_EQ(ftruncate(fd, static_cast<off_t>(id.size())), 0) << context;
            const HomeState before = stateOf(home);

            ChildProcess second(kShortRun, environment, output);
            if (holder.heldFor) {
                std::this_thread::sleep_for(*holder.heldFor);
                close(fd);
                EXPECT_EQ(describeStatus(second.waitFor(60)), "exit 0") << context << "\n" << second.errors();
                EXPECT_EQ(second.errors().find("already running"), std::string::npos) << context << "\n"
                                                                                        << second.errors();
                continue;
            }
            EXPECT_EQ(describeStatus(second.waitFor(2)), "exit 0") << context << "\n" << second.errors();
            EXPECT_EQ(second.errors(), runningLine(lockFile(home, folder), holder.holder)) << context;
            EXPECT_EQ(changes(before, stateOf(home)), "") << context;

            // One that shares only this folder leaves its own folders uncreated.
            const fs::path own = freshFolder("held-lock-own");
            ChildProcess sharing(kShortRun, environmentUnder(own, {xdgVariable(folder) + "=" + (home / folder).string()}),
                                 own / "errors.txt");
            EXPECT_EQ(describeStatus(sharing.waitFor(2)), "exit 0") << context << "\n" << sharing.errors();
            EXPECT_EQ(sharing.errors(), runningLine(lockFile(home, folder), holder.holder)) << context;
            for (const char* other : {"data", "config", "cache"}) EXPECT_FALSE(fs::exists(own / other)) << context;
            close(fd);
        }
    }
}

TEST(SingleInstance, ALaunchAfterTheRunningInstanceWasKilledStartsNormally) {
    const fs::path home = freshFolder("killed-instance") / "home";
    const auto environment = environmentUnder(home);
    ChildProcess killed(kLongRun, environment, home.parent_path() / "killed.txt");
    const std::string killedId = std::to_string(killed.pid()) + "\n";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (readFile(lockFile(home, "data")) != killedId && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(readFile(lockFile(home, "data")), killedId) << killed.errors();
    ASSERT_EQ(kill(killed.pid(), SIGKILL), 0);
    ASSERT_EQ(describeStatus(killed.waitFor(10)), "signal 9");

    ChildProcess next(kShortRun, environment, home.parent_path() / "next.txt");
    EXPECT_EQ(describeStatus(next.waitFor(60)), "exit 0") << next.errors();
    EXPECT_EQ(next.errors().find("already running"), std::string::npos) << next.errors();
    for (const char* folder : {"data", "config", "cache"}) {
        EXPECT_EQ(readFile(lockFile(home, folder)), std::to_string(next.pid()) + "\n") << folder;
    }
}

// Folders that are one (the configuration kept with the data) are one lock,
// which the launch takes once.
TEST(SingleInstance, ALaunchWhoseConfigurationFolderIsItsDataFolderRuns) {
    const fs::path home = freshFolder("one-folder") / "home";
    ChildProcess launch(kShortRun, environmentUnder(home, {"XDG_CONFIG_HOME=" + (home / "data").string()}),
                        home.parent_path() / "errors.txt");
    EXPECT_EQ(describeStatus(launch.waitFor(60)), "exit 0") << launch.errors();
    EXPECT_EQ(launch.errors().find("already running"), std::string::npos) << launch.errors();
}

}  // namespace
}  // namespace Mossbridge::testing
