#pragma once
// Fixture of the lifecycle, link and reset tests: a started engine over a
// bundle folder whose Info.plist the test writes before the start, with
// helpers to run work on the worker queue and read stored events back.

#include <fstream>

#include "EventRoadTestSupport.h"
#include "VadovaUtilities/VULMainBundle.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/storage/APMScheduler.h"

namespace engine_test {

class LifecycleFixture : public EventRoadFixture {
protected:
    LifecycleFixture() {
        APMConsentSettingsUtil::resetForTesting();
        std::filesystem::create_directories(folder.path() / "bundle");
        VULMainBundle::setResourcesDirectory(folder.path() / "bundle");
        writeInfoPlist({{"CFBundleShortVersionString", platform::PropertyValue("1.1")}});
    }
    ~LifecycleFixture() override {
        APMConsentSettingsUtil::resetForTesting();
        VULMainBundle::setResourcesDirectory(std::nullopt);
    }

    void writeInfoPlist(const platform::PropertyDictionary& entries) {
        auto bytes = platform::serializePropertyList(platform::PropertyValue(entries), platform::PropertyListFormat::Xml);
        ASSERT_TRUE(bytes);
        std::ofstream(folder.path() / "bundle" / "Info.plist", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
    }

    void onWorker(std::function<void(APMMeasurement&)> work) {
        engine->scheduler()->scheduleOnWorkerQueue("test", [this, work] { work(*engine); });
        dispatcher.drain();
    }

    // The last stored raw event of that name.
    std::optional<APMEvent> lastStored(const std::string& name) {
        std::optional<APMEvent> found;
        for (auto& event : stored()) {
            if (event.rawEvent.name() == name) found = event.rawEvent;
        }
        return found;
    }
    std::size_t storedCount(const std::string& name) {
        const auto names = storedNames();
        return static_cast<std::size_t>(std::count(names.begin(), names.end(), name));
    }
    std::optional<APMUserAttribute> property(const std::string& name) {
        return engine->database()->userAttributeWithName(name).value;
    }
    std::size_t logged(long code) { return verbose.linesWithCode(code).size(); }

    // Every level, so that debug lines can be counted too.
    storage_test::MonitorCapture verbose{{"-APMAnalyticsVerboseLoggingEnabled"}};
};

inline const APMValue* param(const std::optional<APMEvent>& event, const std::string& name) {
    return event ? event->parameters().find(name) : nullptr;
}

}  // namespace engine_test
