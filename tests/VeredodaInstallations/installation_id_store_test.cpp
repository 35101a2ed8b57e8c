// The installation-ID file is replaced durably: its new contents reach the
// disk before they are renamed over it, and the folder after. `fsync` and
// `rename` are wrapped here to record the order of those calls.

#include "VeredodaInstallations/VRDInstallationIDStore.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "VeredodaCore/CoreTestSupport.h"

namespace {

std::atomic<bool> gRecording{false};
std::mutex gCallsMutex;
std::vector<std::string> gCalls;  // "fsync <path>", "rename <from> <to>"

void record(const std::string& call) {
    if (!gRecording) return;
    std::lock_guard lock(gCallsMutex);
    gCalls.push_back(call);
}

}  // namespace

extern "C" int fsync(int fd) {
    using Real = int (*)(int);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "fsync"));
    char path[4096];
    const ssize_t length = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
    if (length > 0) record("fsync " + std::string(path, static_cast<std::size_t>(length)));
    return real(fd);
}

extern "C" int rename(const char* from, const char* to) {
    using Real = int (*)(const char*, const char*);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "rename"));
    record(std::string("rename ") + from + " " + to);
    return real(from, to);
}

namespace {

namespace fs = std::filesystem;

class InstallationIDStore : public CoreTest {};

TEST_F(InstallationIDStore, TheFileReachesTheDiskBeforeItIsRenamedIntoPlaceAndTheFolderAfter) {
    const fs::path folder = fs::canonical(resources) / "installations";
    const fs::path file = folder / "installations.plist";
    VRDInstallationIDStore store(file);
    for (const char* id : {"first", "second"}) {  // a new file, then one replaced
        SCOPED_TRACE(id);
        gCalls.clear();
        gRecording = true;
        const auto error = store.setInstallationID(id, "app");
        gRecording = false;
        ASSERT_FALSE(error) << error->message;
        EXPECT_EQ(store.installationID("app"), id);

        const auto renamed = std::find_if(gCalls.begin(), gCalls.end(), [&](const std::string& call) {
            return call.starts_with("rename ") && call.ends_with(" " + file.string());
        });
        ASSERT_NE(renamed, gCalls.end());
        const std::string from = renamed->substr(7, renamed->size() - 8 - file.string().size());
        EXPECT_NE(std::find(gCalls.begin(), renamed, "fsync " + from), renamed) << "not flushed before the rename";
        EXPECT_NE(std::find(renamed, gCalls.end(), "fsync " + folder.string()), gCalls.end())
            << "folder not flushed after the rename";
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    }
}

}  // namespace
