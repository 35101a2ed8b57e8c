#pragma once
// Fixtures of the consent, TCF and identity tests: a facade that records
// what it is asked, user defaults in a private folder, an Info.plist the
// test writes, and a clean consent state per test.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VadovaUtilities/VULMainBundle.h"
#include "measurement/interface/APMConsentFacade.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/storage/APMUserDefaults.h"
#include "measurement/storage/StorageTestSupport.h"
#include "platform/core/PropertyList.h"
#include "platform/core/UserDefaults.h"

namespace consent_test {

struct LoggedEvent {
    std::string origin;
    std::string name;
    APMParameters parameters;
};

class RecordingFacade : public APMConsentFacade {
public:
    void logInternalEvent(const std::string& origin, const std::string& name, const APMParameters& parameters) override {
        events.push_back({origin, name, parameters});
    }
    void setUserPropertyString(const std::string& value, const std::string& name) override {
        userProperties.emplace_back(name, value);
    }
    void incrementDiagnosticsSignal(const std::string& name) override { signals.push_back(name); }
    bool hasRemoteConsentDefaults() const override { return remoteConsentDefaults; }

    std::vector<LoggedEvent> events;
    std::vector<std::pair<std::string, std::string>> userProperties;
    std::vector<std::string> signals;
    bool remoteConsentDefaults = false;
};

// The string value of an event parameter, or "" when absent.
inline std::string stringParameter(const LoggedEvent& event, const std::string& name) {
    const APMValue* value = event.parameters.find(name);
    return value && value->stringValue() ? *value->stringValue() : std::string();
}

class ConsentTest : public testing::Test {
protected:
    ConsentTest() {
        APMConsentSettingsUtil::resetForTesting();
        VULMainBundle::setResourcesDirectory(folder.path() / "bundle");
    }
    ~ConsentTest() override {
        APMConsentSettingsUtil::resetForTesting();
        VULMainBundle::setResourcesDirectory(std::nullopt);
    }

    // User defaults of one domain in the test's folder; a second call with
    // the same name reads the same file, as a restarted process would.
    std::shared_ptr<APMUserDefaults> defaults(const std::string& domain) {
        return std::make_shared<APMUserDefaults>(std::make_shared<platform::UserDefaults>(domain, folder.path()));
    }

    void writeInfoPlist(const platform::PropertyDictionary& entries) {
        std::filesystem::create_directories(folder.path() / "bundle");
        auto bytes = platform::serializePropertyList(platform::PropertyValue(entries), platform::PropertyListFormat::Xml);
        ASSERT_TRUE(bytes);
        std::FILE* file = std::fopen((folder.path() / "bundle" / "Info.plist").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(bytes->data(), 1, bytes->size(), file);
        std::fclose(file);
    }

    storage_test::TemporaryFolder folder;
    storage_test::MonitorCapture monitor{{"-APMAnalyticsVerboseLoggingEnabled"}};
};

inline APMConsentSettings settings(std::initializer_list<std::pair<const std::string, platform::PropertyValue>> entries) {
    return APMConsentSettings(entries);
}

}  // namespace consent_test
