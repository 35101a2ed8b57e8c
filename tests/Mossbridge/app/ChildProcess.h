#pragma once
// The executable started as a user starts it, for tests that must see a real
// process: a home folder of its own (HOME, the XDG folders and TMPDIR),
// standard output discarded, standard error kept in a file. A child still
// running when its test ends is killed and reaped.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestPaths.h"

extern char** environ;

namespace Mossbridge::testing {

inline std::string mossbridgePath() { return (testpaths::binaryDir() / "bin" / "mossbridge").string(); }

// This process's environment with the user's folders moved under `home`, and
// `extra` ("NAME=value") added; an entry of `extra` replaces one of the same
// name (a folder shared with another home, say).
inline std::vector<std::string> environmentUnder(const std::filesystem::path& home,
                                                 const std::vector<std::string>& extra = {}) {
    std::filesystem::create_directories(home / "tmp");
    std::map<std::string, std::string> entries;  // by name, the last one set
    const auto set = [&](const std::string& entry) { entries[entry.substr(0, entry.find('='))] = entry; };
    for (char** entry = environ; *entry; ++entry) set(*entry);
    for (const std::string& entry :
         {"HOME=" + home.string(), "XDG_DATA_HOME=" + (home / "data").string(),
          "XDG_CONFIG_HOME=" + (home / "config").string(), "XDG_CACHE_HOME=" + (home / "cache").string(),
          "TMPDIR=" + (home / "tmp").string()}) {
        set(entry);
    }
    for (const std::string& entry : extra) set(entry);
    std::vector<std::string> environment;
    for (const auto& entry : entries) environment.push_back(entry.second);
    return environment;
}

class ChildProcess {
public:
    // Starts bin/mossbridge with `arguments`; `keptDescriptor` (when not -1)
    // is handed to the child as descriptor `childDescriptor`.
    ChildProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                 std::filesystem::path errors, int keptDescriptor = -1, int childDescriptor = -1)
        : errors_(std::move(errors)) {
        std::vector<std::string> argvText = {mossbridgePath()};
        argvText.insert(argvText.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv, envp;
        for (auto& text : argvText) argv.push_back(text.data());
        argv.push_back(nullptr);
        std::vector<std::string> environmentText = environment;
        for (auto& text : environmentText) envp.push_back(text.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        if (keptDescriptor >= 0) posix_spawn_file_actions_adddup2(&actions, keptDescriptor, childDescriptor);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() {
        if (running()) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool started() const { return pid_ > 0; }
    bool running() const { return started() && !status_; }

    // The status waitpid gave once the child has ended; none if it still runs after `seconds`.
    std::optional<int> waitFor(double seconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (running()) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = status;
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return status_;
    }

    // What the child wrote to standard error so far.
    std::string errors() const {
        std::ifstream file(errors_);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

private:
    std::filesystem::path errors_;
    pid_t pid_ = 0;
    std::optional<int> status_;
};

// "exit 0", "exit 2" or "signal 15", for assertions that show what happened.
inline std::string describeStatus(std::optional<int> status) {
    if (!status) return "still running";
    if (WIFEXITED(*status)) return "exit " + std::to_string(WEXITSTATUS(*status));
    if (WIFSIGNALED(*status)) return "signal " + std::to_string(WTERMSIG(*status));
    return "status " + std::to_string(*status);
}

}  // namespace Mossbridge::testing
