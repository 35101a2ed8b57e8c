// An event the application logs through the public interface reaches a
// loopback upload server, bundled, and decodes back with its parameter.

#include "measurement/storage/APMAlarm.h"
#include "AnalyticsTestSupport.h"
#include "VeredodaInstallations/VRDInstallations.h"

namespace analytics_test {
namespace {

class PublicUploadEndToEnd : public AnalyticsFixture {
protected:
    void SetUp() override {
        prepareServersAndBundle();
        configureDefaultApp();
        ASSERT_TRUE(engine);
    }

    void prepareServersAndBundle() {
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
    }

    // Advances to the upload timer and waits for the first posted request.
    void uploadOnce() {
        dispatcher.drain();
        const auto timer = engine->alarm()->scheduledTimestamp();
        ASSERT_TRUE(timer);
        dispatcher.advance(*timer - now());
        ASSERT_TRUE(runUntil([&] { return !uploadServer.received().empty() && !engine->isNetworkRequestPending(); }));
    }

    LoopbackServer configServer;
    LoopbackServer uploadServer;
};

TEST_F(PublicUploadEndToEnd, ALoggedEventArrivesBundledAndDecodesBack) {
    RADOdodavazi::logEventWithName("pet_clicked", APMObjectParameters{{"pet", platform::PropertyValue("cat")}});
    uploadOnce();

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

// As in the application: the engine makes and shares its own identity, and
// the installation service answers on a queue of its own, here before the
// engine has started.
class InstallationIDUpload : public PublicUploadEndToEnd {
protected:
    void SetUp() override {
        prepareServersAndBundle();
        APMAnalyticsEngineBridge::setConfigurationProvider([this] {
            auto config = configuration();
            config.identity = nullptr;
            return config;
        });
        VRDInstallations::resetForTesting(nullptr, folder.path() / "installation");
    }
    void TearDown() override { VRDInstallations::resetForTesting(); }
};

TEST_F(InstallationIDUpload, TheIDStoredBeforeTheEngineStartedReachesTheUploadedBundle) {
    configureDefaultApp(false);
    std::optional<std::string> installationID;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(installationID = APMIdentity::sharedInstance()->veredodaInstallationID()) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    ASSERT_TRUE(installationID) << "the installation service never answered";

    dispatcher.drain();
    engine = APMMeasurement::sharedInstance();
    ASSERT_TRUE(engine);
    RADOdodavazi::logEventWithName("pet_clicked", std::nullopt);
    uploadOnce();
    const auto bundles = engine_test::bundlesOf(uploadServer.received().front());
    ASSERT_FALSE(bundles.empty());
    for (const auto& bundle : bundles) {
        EXPECT_EQ(APMPBGetString(*bundle, MeasurementBundleSlot::InstallationID), installationID);
    }
}

}  // namespace
}  // namespace analytics_test
