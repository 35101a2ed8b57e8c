// The real audience evaluator inside the engine: definitions stored by a
// configuration fetch within its transaction, results carried in field 29 of
// a queued bundle, the session clear of a bundle that holds "_s", and no
// evaluation while analytics storage is denied.

#include <sqlite3.h>

#include "EngineTestSupport.h"
#include "VadovaUtilities/LoopbackServer.h"
#include "measurement/audiences/APMAudience.h"
#include "measurement/audiences/AudienceTestSupport.h"

namespace engine_test {
namespace {

using audience_test::audience;
using audience_test::eventFilter;

class AudiencesThroughEngine : public EngineFixture {
protected:
    void SetUp() override {
        realSubsystems = true;
        network = std::make_shared<VULNetwork>(std::make_shared<FixedReachability>());
        endpoints.configBaseURL = configServer.url("");
        writeBundleIdentifier();
        startWithoutStartRecords();
        engine->identity()->setAppIDFromVAZ(kAppID);
    }

    // Fetches a configuration with the settings and audiences and waits
    // until its answer is handled.
    void fetch(const Settings& settings, const std::vector<std::shared_ptr<APMPBAudience>>& audiences,
               const std::string& etag) {
        auto config = makeConfig(kAppID, settings);
        APMPBSetArray(*config, MeasurementConfigSlot::Audiences, APMPBArrayOfMessages(audiences));
        configServer.answer(200, encoded(*config), {{"ETag", etag}});
        const auto before = configServer.received().size();
        engine->fetchRemoteConfig();
        ASSERT_TRUE(runUntil(
            [&] { return configServer.received().size() > before && !engine->isNetworkRequestPending(); }));
    }

    bool isTrue(std::int32_t audienceID, std::int32_t filterID) {
        return APMAudience::isFilterResult(engine->database()->filterResultForAudienceID(audienceID).value, filterID);
    }
    std::size_t filtersFor(const std::string& eventName) {
        return engine->database()->eventFiltersForEventName(eventName).value.value_or(std::vector<APMEventFilter>{}).size();
    }
    // The audience IDs of the last queued bundle's field 29.
    std::vector<std::int32_t> bundledAudiences() {
        std::vector<std::int32_t> ids;
        const auto bundles = queued();
        if (bundles.empty()) return ids;
        for (const auto& leaf : APMPBGetMessages<APMPBAudienceLeafFilterResult>(
                 *bundles.back(), MeasurementBundleSlot::AudienceEvaluationResults)) {
            ids.push_back(APMPBGetInt32(*leaf, 0));  // audience_id
        }
        return ids;
    }
    LoopbackServer configServer;
};

// Audience 1 counts "level_up" for good; audience 2 only within a session.
std::vector<std::shared_ptr<APMPBAudience>> levelUpAudiences() {
    return {audience(1, {eventFilter(0, "level_up")}),
            audience(2, {eventFilter(0, "level_up", {}, nullptr, {.sessionScoped = true})})};
}

TEST_F(AudiencesThroughEngine, BundlingEvaluatesIntoFieldTwentyNineClearsAtSessionStartAndHoldsOffUnderDenial) {
    fetch({}, levelUpAudiences(), "v1");
    const struct {
        const char* label;
        bool analyticsDenied;
        std::vector<std::string> events;
        std::vector<std::int32_t> bundled;  // field 29 of the bundle
        bool lifetime;                      // audience 1's filter afterwards
        bool session;                       // audience 2's filter afterwards
    } steps[] = {
        {"denied: nothing evaluated", true, {"level_up"}, {}, false, false},
        {"granted: both audiences", false, {"level_up"}, {1, 2}, true, true},
        // Audience 2 has no evaluated filter left: its result row goes.
        {"a session start clears the session's", false, {"_s"}, {1}, true, false},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.label);
        APMConsentSettingsUtil::setConsentSettings(
            APMConsentSettings{{kAPMConsentTypeAnalyticsStorage, PropertyValue(step.analyticsDenied ? "denied" : "granted")}});
        for (const auto& name : step.events) {
            name == "_s" ? log(name, {}, 0, "auto", false) : log(name);
        }
        ASSERT_TRUE(bundle());
        EXPECT_EQ(bundledAudiences(), step.bundled);
        EXPECT_EQ(isTrue(1, 0), step.lifetime);
        EXPECT_EQ(isTrue(2, 0), step.session);
    }
}

TEST_F(AudiencesThroughEngine, AFetchStoresItsAudiencesInsideItsTransactionAndARefusalRollsBothBack) {
    fetch({{"measurement.upload.interval", "60000"}}, levelUpAudiences(), "v1");
    EXPECT_EQ(filtersFor("level_up"), 2u);
    EXPECT_EQ(engine->remoteConfigInstance()->uploadingInterval(), 60);

    // The store refuses new audience filters: the whole configuration goes.
    sqlite3* connection = nullptr;
    ASSERT_EQ(sqlite3_open((folder.path() / "measurement.sql").string().c_str(), &connection), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(connection,
                           "CREATE TRIGGER refuse BEFORE INSERT ON event_filters "
                           "BEGIN SELECT RAISE(ABORT, 'refused by the test'); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(connection);
    monitor.clear();
    fetch({{"measurement.upload.interval", "120000"}}, {audience(3, {eventFilter(0, "purchase")})}, "v2");

    EXPECT_EQ(monitor.linesWithCode(23137).size(), 1u);
    EXPECT_EQ(filtersFor("level_up"), 2u);
    EXPECT_EQ(filtersFor("purchase"), 0u);
    EXPECT_EQ(engine->remoteConfigInstance()->uploadingInterval(), 60);
    EXPECT_EQ(persisted->configServerETag(), "v1");
}

}  // namespace
}  // namespace engine_test
