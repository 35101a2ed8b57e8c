#pragma once
// Fixtures of the bundling tests: a started engine without the start's own
// records, whose main bundle has an identifier (the queue takes only
// bundles with an app ID), and the queued bundles read back.

#include <filesystem>
#include <fstream>

#include "EventRoadTestSupport.h"
#include "VadovaUtilities/VULMainBundle.h"
#include "measurement/messages/MessageSlots.h"
#include "platform/core/PropertyList.h"

namespace engine_test {

using platform::PropertyArray;
using platform::PropertyDictionary;
using platform::PropertyValue;

// The slot of a MeasurementBundle field named by its tag.
inline int bundleSlot(int tag) {
    const auto* type = measurement::messages::messageTypeNamed("MeasurementBundle");
    return static_cast<int>(type->slotForTag(static_cast<std::uint32_t>(tag)) - type->slots);
}

// The queue takes only bundles with an app ID, which comes from the main
// bundle's identifier.
class BundlingFixture : public EventRoadFixture {
protected:
    void SetUp() override {
        const auto resources = folder.path() / "resources";
        std::filesystem::create_directories(resources);
        const PropertyValue info(PropertyDictionary{{"CFBundleIdentifier", PropertyValue("org.mossbridge.test")}});
        const auto bytes = platform::serializePropertyList(info, platform::PropertyListFormat::Xml);
        ASSERT_TRUE(bytes);
        std::ofstream(resources / "Info.plist", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
        VULMainBundle::setResourcesDirectory(resources);
        EventRoadFixture::SetUp();
        discardStartRecords();
    }
    void TearDown() override { VULMainBundle::setResourcesDirectory(std::nullopt); }

    std::vector<std::shared_ptr<APMPBMeasurementBundle>> queued() {
        std::vector<std::shared_ptr<APMPBMeasurementBundle>> bundles;
        auto rows = engine->database()->queryBundlesWithCountLimit(100, 1 << 30);
        EXPECT_FALSE(rows.error);
        for (const auto& row : rows.value.value_or(std::vector<APMQueuedBundle>{})) {
            auto bundle = APMPBMeasurementBundle::initWithBuffer(row.bundle);
            EXPECT_TRUE(bundle);
            if (bundle) bundles.push_back(bundle);
        }
        return bundles;
    }

    static std::vector<std::string> eventNames(const APMPBMeasurementBundle& bundle) {
        std::vector<std::string> names;
        for (const auto& event : APMPBGetMessages<APMPBEvent>(bundle, MeasurementBundleSlot::Events)) {
            names.push_back(APMPBGetString(*event, EventSlot::Name).value_or(""));
        }
        return names;
    }

    static std::shared_ptr<APMPBEventParam> param(const APMPBEvent& event, const std::string& name) {
        for (auto& p : APMPBGetMessages<APMPBEventParam>(event, EventSlot::Params)) {
            if (APMPBGetString(*p, EventParamSlot::Name) == name) return p;
        }
        return nullptr;
    }

    bool bundle() { return engine->bundleRawEvents(); }
};

}  // namespace engine_test
