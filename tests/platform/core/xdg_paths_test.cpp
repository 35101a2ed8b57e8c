#include "platform/core/XdgPaths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "platform/core/Environment.h"

namespace {

namespace fs = std::filesystem;

// Sets environment variables for one test and puts the old values back.
class EnvironmentOverride {
public:
    ~EnvironmentOverride() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }
    void set(const std::string& name, const std::optional<std::string>& value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST(XdgPaths, FollowTheXdgVariables) {
    EnvironmentOverride environment;
    environment.set("XDG_DATA_HOME", "/x/data");
    environment.set("XDG_CONFIG_HOME", "/x/config");
    environment.set("XDG_CACHE_HOME", "/x/cache");
    environment.set("TMPDIR", "/x/tmp");
    EXPECT_EQ(platform::applicationSupportDirectory(), fs::path("/x/data/Mossbridge"));
    EXPECT_EQ(platform::userDefaultsDirectory(), fs::path("/x/config/Mossbridge"));
    EXPECT_EQ(platform::cachesDirectory(), fs::path("/x/cache/Mossbridge"));
    EXPECT_EQ(platform::temporaryDirectory(), fs::path("/x/tmp"));
}

TEST(XdgPaths, DefaultToFoldersUnderHome) {
    EnvironmentOverride environment;
    environment.set("HOME", "/home/someone");
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "TMPDIR"}) {
        environment.set(name, std::nullopt);
    }
    EXPECT_EQ(platform::applicationSupportDirectory(), fs::path("/home/someone/.local/share/Mossbridge"));
    EXPECT_EQ(platform::userDefaultsDirectory(), fs::path("/home/someone/.config/Mossbridge"));
    EXPECT_EQ(platform::cachesDirectory(), fs::path("/home/someone/.cache/Mossbridge"));
    EXPECT_EQ(platform::temporaryDirectory(), fs::path("/tmp"));
}

TEST(XdgPaths, IgnoreEmptyAndRelativeValues) {
    EnvironmentOverride environment;
    environment.set("HOME", "/home/someone");
    environment.set("XDG_DATA_HOME", "");
    environment.set("XDG_CONFIG_HOME", "relative/config");
    environment.set("XDG_CACHE_HOME", "./cache");
    environment.set("TMPDIR", "tmp");
    EXPECT_EQ(platform::applicationSupportDirectory(), fs::path("/home/someone/.local/share/Mossbridge"));
    EXPECT_EQ(platform::userDefaultsDirectory(), fs::path("/home/someone/.config/Mossbridge"));
    EXPECT_EQ(platform::cachesDirectory(), fs::path("/home/someone/.cache/Mossbridge"));
    EXPECT_EQ(platform::temporaryDirectory(), fs::path("/tmp"));
}

TEST(XdgPaths, WithoutAUsableHomeStillAnswerAnAbsolutePath) {
    EnvironmentOverride environment;
    environment.set("XDG_CONFIG_HOME", std::nullopt);
    for (const std::optional<std::string>& home : {std::optional<std::string>(), std::optional<std::string>(""),
                                                   std::optional<std::string>("relative")}) {
        environment.set("HOME", home);
        const fs::path folder = platform::userDefaultsDirectory();
        EXPECT_TRUE(folder.is_absolute()) << folder;
        EXPECT_EQ(folder.filename(), "Mossbridge");
    }
}

TEST(XdgPaths, ReadTheEnvironmentAtEveryCall) {
    EnvironmentOverride environment;
    environment.set("XDG_CONFIG_HOME", "/first");
    EXPECT_EQ(platform::userDefaultsDirectory(), fs::path("/first/Mossbridge"));
    environment.set("XDG_CONFIG_HOME", "/second");
    EXPECT_EQ(platform::userDefaultsDirectory(), fs::path("/second/Mossbridge"));
}

TEST(Environment, TellsUnsetFromEmpty) {
    EnvironmentOverride environment;
    environment.set("MOSSBRIDGE_TEST_VARIABLE", std::nullopt);
    EXPECT_EQ(platform::environmentValue("MOSSBRIDGE_TEST_VARIABLE"), std::nullopt);
    environment.set("MOSSBRIDGE_TEST_VARIABLE", "");
    EXPECT_EQ(platform::environmentValue("MOSSBRIDGE_TEST_VARIABLE"), "");
    environment.set("MOSSBRIDGE_TEST_VARIABLE", "1");
    EXPECT_EQ(platform::environmentValue("MOSSBRIDGE_TEST_VARIABLE"), "1");
}

}  // namespace
