// Deep links and campaigns: campaign parameters from opened URLs and bad
// URLs, click-identifier gating, the referrer origin, the stored-link rules,
// the preview headers, and the deferred deep link against a loopback server.

#include "EngineTestSupport.h"
#include "VadovaUtilities/LoopbackServer.h"
#include "measurement/engine/APMStoredDeepLink.h"
#include "measurement/interface/APMDefaultIdentitySupport.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMQueryString.h"
#include "platform/core/AdvertisingIdentifier.h"

namespace engine_test {
namespace {

class Links : public EngineFixture {
protected:
    Links() : EngineFixture(Logging::verbose) { writeAppVersion("1.1"); }
    void SetUp() override { start(); }
    void open(const std::string& url, std::optional<APMParameters> extras = std::nullopt, double time = 0) {
        onWorker([=, this](APMMeasurement& e) { e.handleOpenURLOnWorkerQueue(url, std::nullopt, time ? time : now(), extras); });
    }
    std::shared_ptr<APMPBAdCampaignInfo> campaignInfo() {
        const auto buffer = persisted->adCampaignInfoBuffer();
        return buffer.empty() ? nullptr : APMPBAdCampaignInfo::initWithBuffer(buffer);
    }
};

TEST_F(Links, CampaignParametersFromOpenedURLs) {
    using Params = std::vector<std::pair<std::string, std::string>>;
    const struct {
        std::string url;
        const char* event;  // nullptr: refused with `code`
        long code;
        Params params;
        std::optional<std::string> vbraid;  // campaign information stored with it
    } cases[] = {
        {"https://a.test/p?utm_source=news&utm_medium=mail", "_cmp", 0, {{"source", "news"}, {"medium", "mail"}}, {}},
        {"https://a.test/p?utm_source=a%26b%3Dc%2B&cis=x", "_cmp", 0, {{"source", "a&b=c+"}, {"_cis", "x"}}, {}},
        // Without tracking authorisation the click identifier goes; vbraid stays.
        {"https://a.test/p?vclid=abc&vbraid=xyz", "_cmp", 0, {{"vbraid", "xyz"}}, "xyz"},
        {"https://a.test/p?unknown=1", nullptr, 23001, {}, {}},
        {"https://a.test/p?utm_source=%FF%FE", nullptr, 23001, {}, {}},  // not UTF-8
        {"https://a.test/p", nullptr, 23000, {}, {}},
        {"not a url?utm_source=x", nullptr, 23000, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        persisted->setAdCampaignInfoBuffer({});
        monitor.clear();
        const std::size_t before = storedCount("_cmp");
        open(c.url);
        EXPECT_EQ(storedCount("_cmp"), before + (c.event ? 1 : 0));
        if (!c.event) {
            EXPECT_EQ(logged(c.code), 1u);
            EXPECT_FALSE(campaignInfo());
            continue;
        }
        const auto event = lastStored(c.event);
        EXPECT_EQ(event->origin(), "auto");
        for (const auto& [name, value] : c.params) EXPECT_EQ(*param(event, name)->stringValue(), value) << name;
        EXPECT_FALSE(param(event, "vclid"));
        const auto info = campaignInfo();
        ASSERT_EQ(info != nullptr, c.vbraid.has_value());
        if (!info) continue;
        EXPECT_EQ(APMPBGetString(*info, AdCampaignInfoSlot::Vbraid), c.vbraid);
        EXPECT_FALSE(APMPBHasField(*info, AdCampaignInfoSlot::Vclid));
        EXPECT_EQ(APMPBGetString(*info, AdCampaignInfoSlot::DeepLinkURL), "https://a.test/p");
    }
}

TEST_F(Links, AVadParameterAloneIsACampaignAndIsStored) {
    open("https://a.test/p?vad_campaignid=7#top");
    EXPECT_EQ(*param(lastStored("_cmp"), "vad_campaignid")->stringValue(), "7");
    const auto entries = APMPBGetMessages<APMPBDeepLinkVadParamsEntry>(*campaignInfo(), AdCampaignInfoSlot::DeepLinkVadParams);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(APMPBGetString(*entries[0], DeepLinkVadParamsEntrySlot::Key), "vad_campaignid");
    EXPECT_EQ(APMPBGetString(*entries[0], DeepLinkVadParamsEntrySlot::Value), "7");
}

TEST_F(Links, ReferrerOriginAndEventTime) {
    const std::pair<const char*, const char*> cases[] = {
        {"https://www.vadova.com/search", "gs"}, {"https://vadova.co.uk/", "gs"}, {"https://vadova.de", "gs"},
        {"https://vadova.com.tw/", "gs"},       {"https://news.vadova.com", "auto"}, {"https://vadova.example", "auto"},
    };
    for (const auto& [referrer, origin] : cases) {
        open("https://a.test/p?utm_source=s", APMParameters{{"_ref", APMValue(referrer)}});
        EXPECT_EQ(lastStored("_cmp")->origin(), origin) << referrer;
    }
    // A first open after the event moves the event to it.
    persisted->setFirstOpenTimestampMilliseconds(static_cast<std::int64_t>((now() + 100) * 1000));
    open("https://a.test/p?utm_source=late", std::nullopt, now() - 50);
    EXPECT_DOUBLE_EQ(lastStored("_cmp")->timestamp(), now() + 100);
}

TEST_F(Links, StoredLinkRules) {
    APMUserDefaults& defaults = *APMUserDefaults::sharedUserDefaults();
    const double ttl = 604800;
    const std::pair<double, bool> cases[] = {{8 * 86400, true}, {ttl, false}, {ttl - 1, false}, {-ttl - 1, true}};
    for (const auto& [age, cleared] : cases) {
        APMStoreDeepLink(defaults, "app://l", "https://r.test", now() - age);
        ASSERT_TRUE(APMHasStoredDeepLink(defaults));
        EXPECT_EQ(APMClearStoredDeepLinkIfExpired(defaults, ttl, now()), cleared) << age;
        EXPECT_EQ(APMHasStoredDeepLink(defaults), !cleared);
        EXPECT_EQ(defaults.objectForKey(kAPMDeepLinkReferrerKey).has_value(), !cleared);
    }
    APMClearStoredDeepLink(defaults);
    EXPECT_FALSE(APMIsStoredDeepLinkExpired(defaults, ttl, now()));
    EXPECT_EQ(APMPreviousHourStartMillis(7199999), 0);
    EXPECT_EQ(APMPreviousHourStartMillis(7200000), 3600000);

    const platform::Notification launch{"launch", nullptr,
                                        platform::PropertyDictionary{{"UIApplicationLaunchOptionsURLKey",
                                                                      platform::PropertyValue("app://x?a=1")}}};
    APMStoreDeepLink(defaults, "app://old", "https://r.test", now());
    APMMeasurement::handleStoredURLAfterAppLaunchWithNotification(launch, now());
    EXPECT_EQ(defaults.stringForKey(kAPMDeepLinkKey), "app://x?a=1");
    EXPECT_FALSE(defaults.objectForKey(kAPMDeepLinkReferrerKey));
}

TEST_F(Links, DebugURLsSetThePreviewHeaders) {
    using Headers = std::optional<std::map<std::string, std::string>>;
    const Headers abc = std::map<std::string, std::string>{{"X-Vtm-Server-Preview", "abc"}};
    const struct {
        const char* query;
        Headers headers;
        bool debug;
    } cases[] = {
        {"svtm_debug_enable=1&svtm_preview_key=abc", abc, true},
        {"svtm_debug_enable=2", abc, true},  // any other value changes nothing
        {"svtm_debug_enable=1", std::nullopt, true},
        {"svtm_debug_enable=1&svtm_preview_key=a%0D%0AHost:%20x", std::nullopt, true},  // not a header value
        {"svtm_debug_enable=0", std::nullopt, false},
    };
    for (const auto& c : cases) {
        APMMeasurement::handleSVTMDebugModeWithURL(std::string("app://x?") + c.query);
        EXPECT_EQ(APMMeasurement::SVTMPreviewHeaders(), c.headers) << c.query;
        EXPECT_EQ(APMMonitor::shared()->isDebugModeEnabled(), c.debug) << c.query;
    }
}

// An engine whose identity has an advertising identifier, against a
// loopback deep-link service.
class DeferredDeepLink : public Links {
protected:
    void SetUp() override {
        writeInfoPlist({{"CFBundleIdentifier", platform::PropertyValue("com.x&y=z t")},
                        {"VADOVA_ANALYTICS_DEFERRED_DEEP_LINK_ENABLED", platform::PropertyValue(true)}});
        advertising->setLimitedAdTracking(false);
        advertising->setResettableDeviceID("AB-CD");
        network = std::make_shared<VULNetwork>();
        endpoints.deepLinkBaseURL = server.url("");
        APMMeasurementConfiguration config = configuration();
        config.identity = [this] {
            return APMIdentity::create(dispatcher, persisted,
                                       std::make_shared<APMDefaultIdentitySupport>(dispatcher, advertising), nullptr);
        };
        engine = APMMeasurement::create(kAppID, true, false, {}, std::move(config));
        dispatcher.drain();
    }
    bool allowed() {
        bool answer = false;
        onWorker([&answer](APMMeasurement& e) { answer = e.shouldAllowRequestDeferredDeepLink(); });
        return answer;
    }
    void request() {
        const auto before = server.received().size();
        onWorker([](APMMeasurement& e) { e.requestDeferredDeepLink(); });
        ASSERT_TRUE(runUntil([&] { return server.received().size() > before && !engine->isNetworkRequestPending(); }));
    }

    std::shared_ptr<platform::InMemoryAdvertisingIdentifier> advertising =
        std::make_shared<platform::InMemoryAdvertisingIdentifier>();
    LoopbackServer server;
};

TEST_F(DeferredDeepLink, AskedOnlyWhileEveryGateIsOpen) {
    const struct {
        const char* what;
        std::function<void()> arrange;
        bool allowed;
        long code;
    } cases[] = {
        {"all open", [] {}, true, 23197},
        {"limited ad tracking unknown", [this] { advertising->setLimitedAdTracking(std::nullopt); }, false, 23196},
        {"no advertising identifier", [this] { advertising->setResettableDeviceID(std::nullopt); }, false, 23196},
        {"ad storage denied",
         [] {
             APMConsentSettingsUtil::setConsentSettings(APMConsentSettings{{"ad_storage", platform::PropertyValue("denied")}});
         },
         false, 23252},
        {"retry limit", [this] { persisted->setDeferredDeepLinkRetryCount(5); }, false, 23195},
        {"already retrieved", [this] { persisted->setDeferredDeepLinkRetrievalComplete(0); }, false, 23194},
        {"switched off remotely", [this] { applySettings({{"measurement.ddl.enabled", "0"}}); }, false, 23193},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        dispatcher.advance(2);  // past the identity's cache time
        engine->identity()->updateIdentifiers();
        dispatcher.drain();
        monitor.clear();
        EXPECT_EQ(allowed(), c.allowed);
        EXPECT_EQ(logged(c.code), 1u);
        advertising->setLimitedAdTracking(false);
        advertising->setResettableDeviceID("AB-CD");
        APMConsentSettingsUtil::resetForTesting();
    }
    EXPECT_EQ(persisted->deferredDeepLinkRetrievalComplete(), 0);
}

TEST_F(DeferredDeepLink, TheRequestEncodesEveryValueInOrder) {
    request();
    const APMQueryItems expected{{"sdk_version", std::to_string(APMIdentity::varUradazaduroLibraryVersion())},
                                 {"rdid", "AB-CD"},
                                 {"id_type", "idfa"},
                                 {"bundleid", "com.x&y=z t"},
                                 {"retry", "0"},
                                 {"gcs", APMConsentSettingsUtil::consentSignals()},
                                 {"dma", "1"}};
    EXPECT_EQ(server.received().back().target, "/adservice/conversion/app/deeplink?" + APMQueryString(expected));
    EXPECT_NE(server.received().back().target.find("bundleid=com.x%26y%3Dz%20t&"), std::string::npos);
}

TEST_F(DeferredDeepLink, AnswersChangeOnlyTheRetrievalState) {
    const std::string oversized = "{\"deeplink\":\"app://x\",\"pad\":\"" +
                                  std::string(APMMeasurement::kMaxDeferredDeepLinkResponseBytes, 'a') + "\"}";
    const struct {
        int status;
        std::string body;
        std::optional<std::int64_t> complete;
        std::int64_t retries;
        std::vector<long> codes;
    } cases[] = {
        {500, "", std::nullopt, 1, {23199}},
        {204, "", 0, 0, {23201}},
        {200, "[1, 2", 0, 0, {23202}},
        {200, oversized, 0, 0, {23202}},
        {200, "{\"deeplink\": 5}", 0, 0, {}},
        {200, "{\"deeplink\":\"app://x?utm_source=s\",\"vclid\":\"v\"}", 0, 0, {23200, 23203, 23204}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.substr(0, 40));
        persisted->setDeferredDeepLinkRetrievalComplete(std::nullopt);
        persisted->setDeferredDeepLinkRetryCount(0);
        monitor.clear();
        server.answer(c.status, c.body);
        request();
        EXPECT_EQ(persisted->deferredDeepLinkRetrievalComplete(), c.complete);
        EXPECT_EQ(persisted->deferredDeepLinkRetryCount(), c.retries);
        for (long code : c.codes) EXPECT_EQ(logged(code), 1u) << code;
        // No application delegate takes links here: nothing reaches the store.
        EXPECT_EQ(storedCount("_cmp"), 0u);
        EXPECT_FALSE(campaignInfo());
    }
}

}  // namespace
}  // namespace engine_test
