#include "VadovaUtilities/VULMainBundle.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "VadovaUtilities/VULAppDelegateSwizzler.h"
#include "platform/core/PropertyList.h"

namespace {

namespace fs = std::filesystem;

class MainBundle : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("main-bundle-" + std::to_string(::getpid()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        VULMainBundle::setResourcesDirectory(folder);
    }
    void TearDown() override {
        VULMainBundle::setResourcesDirectory(std::nullopt);
        unsetenv("MOSSBRIDGE_RESOURCES");
        fs::remove_all(folder);
    }

    void writeInfoPlist(const platform::PropertyDictionary& entries) {
        const auto bytes = platform::serializePropertyList(platform::PropertyValue(entries), platform::PropertyListFormat::Xml);
        ASSERT_TRUE(bytes.has_value());
        std::ofstream(folder / "Info.plist", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
    }

    fs::path folder;
};

TEST_F(MainBundle, PinnedFolderWinsOverTheEnvironment) {
    setenv("MOSSBRIDGE_RESOURCES", "/somewhere/else", 1);
    EXPECT_EQ(VULMainBundle::resourcesDirectory(), folder);
    VULMainBundle::setResourcesDirectory(std::nullopt);
    EXPECT_EQ(VULMainBundle::resourcesDirectory(), fs::path("/somewhere/else"));
}

TEST_F(MainBundle, FindsOnlyResourcesThatExist) {
    std::ofstream(folder / "VadovaService-Info.plist") << "x";
    fs::create_directories(folder / "Folder.plist");
    EXPECT_EQ(VULMainBundle::pathForResource("VadovaService-Info", "plist"), folder / "VadovaService-Info.plist");
    EXPECT_EQ(VULMainBundle::pathForResource("Missing", "plist"), std::nullopt);
    EXPECT_EQ(VULMainBundle::pathForResource("Folder", "plist"), std::nullopt);
}

TEST_F(MainBundle, InfoDictionaryKeysReadFromInfoPlist) {
    EXPECT_EQ(VULMainBundle::objectForInfoDictionaryKey("Key"), std::nullopt);
    writeInfoPlist({{"Key", platform::PropertyValue("value")}});
    EXPECT_EQ(VULMainBundle::objectForInfoDictionaryKey("Key"), platform::PropertyValue("value"));
    EXPECT_EQ(VULMainBundle::objectForInfoDictionaryKey("Other"), std::nullopt);
    std::ofstream(folder / "Info.plist", std::ios::trunc) << "not a property list";
    EXPECT_EQ(VULMainBundle::objectForInfoDictionaryKey("Key"), std::nullopt);
}

TEST_F(MainBundle, AppDelegateProxySwitchFollowsInfoPlist) {
    EXPECT_TRUE(VULAppDelegateSwizzler::isAppDelegateProxyEnabled());  // no Info.plist
    writeInfoPlist({{"VeredodaAppDelegateProxyEnabled", platform::PropertyValue(false)}});
    EXPECT_FALSE(VULAppDelegateSwizzler::isAppDelegateProxyEnabled());
    writeInfoPlist({{"VeredodaAppDelegateProxyEnabled", platform::PropertyValue(0)}});
    EXPECT_FALSE(VULAppDelegateSwizzler::isAppDelegateProxyEnabled());
    writeInfoPlist({{"VeredodaAppDelegateProxyEnabled", platform::PropertyValue(true)}});
    EXPECT_TRUE(VULAppDelegateSwizzler::isAppDelegateProxyEnabled());
    writeInfoPlist({{"VeredodaAppDelegateProxyEnabled", platform::PropertyValue("NO")}});
    EXPECT_TRUE(VULAppDelegateSwizzler::isAppDelegateProxyEnabled());  // wrong kind: default stands
}

}  // namespace
