// The entry point of every test executable. CTest runs each test case as a
// process of its own, several at once, so each process gets a fresh home
// folder (HOME, the XDG folders and TMPDIR) below the one CTest gave the
// executable: no two tests ever share a user-defaults file, a database or a
// temporary path. The folder is removed when the process ends.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

std::filesystem::path makePrivateHome() {
    const char* base = std::getenv("HOME");
    std::filesystem::path parent = base && *base ? base : std::filesystem::temp_directory_path();
    std::error_code error;
    std::filesystem::create_directories(parent, error);
    std::string pattern = (parent / "test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("TestMain: mkdtemp");
        std::exit(2);
    }
    const std::filesystem::path home = pattern;
    for (const char* sub : {"data", "config", "cache", "tmp"}) {
        std::filesystem::create_directories(home / sub);
    }
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    setenv("TMPDIR", (home / "tmp").c_str(), 1);
    return home;
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const std::filesystem::path home = makePrivateHome();
    const int result = RUN_ALL_TESTS();
    std::error_code error;
    std::filesystem::remove_all(home, error);
    return result;
}
