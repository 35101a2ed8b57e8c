// An event the application logs through the public interface reaches a
// loopback upload server, bundled, and decodes back with its parameter.

#include "measurement/storage/APMAlarm.h"
#include "AnalyticsTestSupport.h"

namespace analytics_test {
namespace {

class PublicUploadEndToEnd : public AnalyticsFixture {
protected:
    void SetUp() override {
        network = std::make_shared<VULNetwork>(std::make_shared<engine_test::FixedReachability>());
        endpoints.uploadBaseURL = uploadServer.url("");
        endpoints.configBaseURL = configServer.url("");
        configServer.answer(404, "");
        uploadServer.answer(200, "");
        // The queue takes only bundles with an app ID: the main bundle's identifier.
        const auto resources = folder.path() / "resources";
        std::filesystem::create_directories(resources);
        const auto info = platform::serializePropertyList(
            platform::PropertyValue(platform::PropertyDictionary{{"CFBundleIdentifier", "org.mossbridge.test"}}),
            platform::PropertyListFormat::Xml);
        ASSERT_TRUE(info);
        std::ofstream(resources / "Info.plist", std::ios::binary) << std::string(info->begin(), info->end());
        configureDefaultApp();
        ASSERT_TRUE(engine);
    }

    LoopbackServer configServer;
    LoopbackServer uploadServer;
};

TEST_F(PublicUploadEndToEnd, ALoggedEventArrivesBundledAndDecodesBack) {
    RADOdodavazi::logEventWithName("pet_clicked", APMObjectParameters{{"pet", platform::PropertyValue("cat")}});
    dispatcher.drain();
    const auto timer = engine->alarm()->scheduledTimestamp();
    ASSERT_TRUE(timer);
    dispatcher.advance(*timer - now());
    ASSERT_TRUE(runUntil([&] { return !uploadServer.received().empty() && !engine->isNetworkRequestPending(); }));

    std::vector<std::string> values;
    for (const auto& bundle : engine_test::bundlesOf(uploadServer.received().front())) {
        for (const auto& event : engine_test::eventsOf(*bundle)) {
            if (APMPBGetString(*event, EventSlot::Name) != "pet_clicked") continue;
            for (const auto& param : APMPBGetMessages<APMPBEventParam>(*event, EventSlot::Params)) {
                if (APMPBGetString(*param, EventParamSlot::Name) == "pet") {
                    values.push_back(APMPBGetString(*param, EventParamSlot::StringValue).value_or(""));
                }
            }
        }
    }
    EXPECT_EQ(values, std::vector<std::string>{"cat"});
    const auto text = engine_test::protocDecodedBody(uploadServer.received().front().body, folder.path());
    ASSERT_TRUE(text);
    EXPECT_EQ(engine_test::occurrences(*text, "name: \"pet_clicked\""), 1u);
    EXPECT_TRUE(engine->database()->isQueuedBundleTableEmpty().value.value_or(false));
}

}  // namespace
}  // namespace analytics_test
