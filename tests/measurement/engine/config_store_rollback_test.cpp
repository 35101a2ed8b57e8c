// A fetched configuration whose storing fails leaves the consent state as it
// was: its consent defaults apply only once it is stored.

#include "EngineTestSupport.h"
#include "TransactionTestSupport.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/messages/MessageSlots.h"

namespace engine_test {
namespace {

class ConfigStoreRollback : public EngineFixture {
protected:
    void SetUp() override {
        APMConsentSettingsUtil::resetForTesting();
        realSubsystems = true;
        start();
        engine->identity()->setAppIDFromVAZ(kAppID);
        dispatcher.drain();
    }

    // A configuration whose consent defaults deny ad personalization, with a
    // setting that tells whether it was stored.
    static std::string configurationWithConsentDefaults() {
        // ConsentConfig with one default entry {type 4 (ad_personalization), status 2 (denied)}.
        const std::vector<std::uint8_t> deniedPersonalization = {0x0A, 0x04, 0x08, 0x04, 0x10, 0x02};
        auto consent = APMPBConsentConfig::initWithBuffer(deniedPersonalization);
        auto config = makeConfig(kAppID, {{"measurement.upload.interval", "60000"}});
        APMPBSetMessage(*config, MeasurementConfigSlot::ConsentConfig, consent.get());
        return encoded(*config);
    }

    // The answer of a fetch, handled as the network completion hands it over.
    void store(const std::string& body) {
        VULHTTPResponse response;
        response.statusCode = 200;
        const VULData data(body.begin(), body.end());
        onWorker([&](APMMeasurement& e) { e.networkRemoteConfigFetchCompletionHandler(response, data, std::nullopt); });
    }

    // The audience store fails while its filter table is missing.
    void removeEventFilterTable() { ASSERT_EQ(runSql(engine->database()->databasePath(), "DROP TABLE event_filters"), ""); }
};

TEST_F(ConfigStoreRollback, ARefusedConfigurationLeavesConsentAsItWas) {
    engine->setShouldUpdateNPAUserProperty(false);
    removeEventFilterTable();
    store(configurationWithConsentDefaults());
    ASSERT_NE(engine->remoteConfigInstance()->uploadingInterval(), 60) << "the configuration was stored";
    EXPECT_EQ(APMConsentSettingsUtil::defaultSettings(), std::nullopt);
    EXPECT_EQ(APMConsentSettingsUtil::adPersonalization(), std::nullopt);
    EXPECT_FALSE(engine->shouldUpdateNPAUserProperty());
}

}  // namespace
}  // namespace engine_test
