#pragma once
// A fixture for tests of the core platform: a private resources folder for
// the options file, captured logger lines, and every shared instance of the
// core reset after each test.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "VadovaUtilities/VULLogger.h"
#include "VadovaUtilities/VULMainBundle.h"
#include "VeredodaCore/DEDOru.h"
#include "VeredodaCore/VRDClassRegistry.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/PropertyList.h"

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        resources = std::filesystem::temp_directory_path() /
                    ("core-resources-" + std::to_string(::getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(resources);
        std::filesystem::create_directories(resources);
        VULMainBundle::setResourcesDirectory(resources);
        VULLoggerSetSink([this](VULLoggerLevel, const std::string&, const std::string& line) { loggedLines.push_back(line); });
    }

    void TearDown() override {
        DEDOru::resetForTesting();
        VRDClassRegistry::shared().resetForTesting();
        platform::NotificationCenter::resetDefaultCenterForTesting();
        VULLoggerResetForTesting();
        VULMainBundle::setResourcesDirectory(std::nullopt);
        std::filesystem::remove_all(resources);
    }

    void writeServiceInfo(const platform::PropertyDictionary& entries) {
        const auto bytes =
            platform::serializePropertyList(platform::PropertyValue(entries), platform::PropertyListFormat::Xml);
        ASSERT_TRUE(bytes.has_value());
        writeServiceInfoBytes(std::string(bytes->begin(), bytes->end()));
    }

    void writeServiceInfoBytes(const std::string& bytes) {
        std::ofstream(resources / "VadovaService-Info.plist", std::ios::binary | std::ios::trunc) << bytes;
    }

    std::filesystem::path resources;
    std::vector<std::string> loggedLines;
};
