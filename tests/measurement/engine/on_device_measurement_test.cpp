// On-device conversion measurement with in-memory outside libraries: the
// set-membership gates, retries, re-sends, group and re-engagement queries,
// expiry; the conversion service's values, migrations and fatal checks; the
// ODF identifiers. All on virtual time.

#include <set>

#include "EngineTestSupport.h"
#include "VadovaUtilities/LoopbackServer.h"
#include "VeredodaCore/VRDClassRegistry.h"
#include "measurement/engine/APMOnDeviceConversion.h"
#include "measurement/engine/APMPSMContext.h"
#include "measurement/interface/APMConsentSettingsUtil.h"

namespace engine_test {
namespace {

struct FakeNetwork final : APMPSMNetwork {
    struct Request {
        std::string URL;
        platform::QueueRef queue;
        VULNetworkCompletionHandler completion;
    };
    bool hasUploadInProgress() const override { return busy; }
    void setTimeoutInterval(double seconds) override { timeout = seconds; }
    void postURL(const std::string& URL, const VULData&, platform::QueueRef queue, bool,
                 VULNetworkCompletionHandler completion) override {
        requests.push_back({URL, std::move(queue), std::move(completion)});
    }
    // Answers the latest request on its queue.
    void answer(long status, const std::string& body = "") {
        Request request = requests.back();
        request.queue->async([request, status, body] {
            VULHTTPResponse response;
            response.statusCode = status;
            request.completion(response, VULData(body.begin(), body.end()), std::nullopt);
        });
    }
    bool busy = false;
    double timeout = 0;
    std::vector<Request> requests;
};

struct FakeClient final : APMPSMClient {
    std::vector<std::uint8_t> hashed;
    std::int64_t type = 1;
    std::string URL = "https://psm.test/q";
    std::optional<std::string> key;
    VULData payload{1};
    std::vector<std::uint8_t> hashedInput() const override { return hashed; }
    std::int64_t inputType() const override { return type; }
    std::optional<std::string> PSMRequestURLWithRetryCount(std::int32_t) override {
        return URL.empty() ? std::nullopt : std::optional(URL);
    }
    VULData payloadWithPSMRequest() override { return payload; }
    std::string parsedPSMValueFromResponse(const VULData& body) override { return {body.begin(), body.end()}; }
    std::optional<std::string> debugKey() const override { return key; }
};

using Init = APMPSMClientInitializer;

struct FakeClientClass final : APMPSMClientClass {
    std::set<Init> supported{Init::emailAddressWithPrefix, Init::phoneNumber, Init::phoneNumberWithPrefix,
                             Init::hashedEmailAddress, Init::hashedPhoneNumber, Init::hashedInput};
    std::vector<APMPSMClientArguments> made;
    std::function<void(FakeClient&)> adjust = [](FakeClient&) {};
    bool refuse = false;
    bool instancesRespondTo(Init initializer) const override { return supported.count(initializer) != 0; }
    std::shared_ptr<APMPSMClient> makeClient(Init initializer, const APMPSMClientArguments& arguments) override {
        made.push_back(arguments);
        if (refuse) return nullptr;
        auto client = std::make_shared<FakeClient>();
        client->hashed = arguments.bytes.empty() ? VULData(arguments.text.begin(), arguments.text.end()) : arguments.bytes;
        client->type = initializer == Init::hashedInput      ? arguments.inputType
                       : initializer == Init::hashedEmailAddress ? 3
                       : initializer == Init::hashedPhoneNumber  ? 4
                       : (initializer == Init::phoneNumber || initializer == Init::phoneNumberWithPrefix) ? 2
                                                                                                       : 1;
        adjust(*client);
        return client;
    }
};

struct FakeGroupClient final : APMPSMGroupClient {
    std::vector<std::function<void(std::optional<std::string>, std::optional<APMError>)>>* completions;
    void fetchGroupIDWithNetwork(std::shared_ptr<APMPSMNetwork>,
                                 std::function<void(std::optional<std::string>, std::optional<APMError>)> done) override {
        completions->push_back(std::move(done));
    }
};

struct FakeGroupClientClass final : APMPSMGroupClientClass {
    std::vector<std::function<void(std::optional<std::string>, std::optional<APMError>)>> completions;
    bool respondsToInitWithHashedInput() const override { return true; }
    std::shared_ptr<APMPSMGroupClient> makeClient(const APMPSMClientArguments&) override {
        auto client = std::make_shared<FakeGroupClient>();
        client->completions = &completions;
        return client;
    }
};

// Keeps each completion and counts what it was asked.
struct FakeService final : ODCConversionService, ODCConversionServiceGroupInfo, ODCConversionServiceODF {
    struct Asked {
        std::vector<std::int64_t> interactions;
        int groupInfo = 0;
        int installationID = 0;
        int wipes = 0;
        bool operator==(const Asked&) const = default;
    };
    std::int64_t version = 10001;
    ValueCompletion measurement, group, matching;
    std::function<void(std::optional<std::string>)> installation;
    Asked asked;
    std::int64_t versionNumber() const override { return version; }
    std::string versionString() const override { return "1.0.1"; }
    void setFirstLaunchTime(std::optional<double>) override {}
    void fetchMeasurementInfoForInteraction(std::int64_t interaction, ValueCompletion done) override {
        asked.interactions.push_back(interaction);
        measurement = done;
    }
    void resetAndWipeData() override { ++asked.wipes; }
    void fetchGroupInfoWithCompletion(ValueCompletion done) override {
        ++asked.groupInfo;
        group = done;
    }
    void fetchODFAppInstallationIDWithCompletion(std::function<void(std::optional<std::string>)> done) override {
        ++asked.installationID;
        installation = done;
    }
    void fetchODFMatchingIDWithCompletion(ValueCompletion done) override { matching = done; }
};

struct OldService final : ODCConversionService {
    std::int64_t versionNumber() const override { return 10001; }
    std::string versionString() const override { return "old"; }
    void setFirstLaunchTime(std::optional<double>) override {}
    void fetchMeasurementInfoForInteraction(std::int64_t, ValueCompletion) override {}
    void resetAndWipeData() override {}
};

template <class Service>
struct ServiceClass final : APMSharedInstanceClass {
    std::shared_ptr<Service> service = std::make_shared<Service>();
    std::shared_ptr<APMRuntimeObject> sharedInstance() override { return service; }
};

const std::vector<std::uint8_t> kDigest(32, 7);

class OnDevice : public EngineFixture {
protected:
    void SetUp() override {
        VRDClassRegistry::shared().resetForTesting();
        APMConsentSettingsUtil::resetForTesting();
    }
    ~OnDevice() override { VRDClassRegistry::shared().resetForTesting(); }

    void startEngine(bool withClient = true) {
        if (withClient) VRDClassRegistry::shared().registerClass("ODCPrivateSetMembershipClient", clients);
        VRDClassRegistry::shared().registerClass("ODCPrivateSetMembershipGroupClient", groups);
        engine = APMMeasurement::create(kAppID, true, false, {}, configuration());
        APMOnDeviceEnvironment environment;
        environment.raiseFatal = [this](const std::string& name, const std::string&) { fatal.push_back(name); };
        environment.makeNetwork = [this] { return network; };
        environment.launchArguments = [] { return std::vector<std::string>{"-DebugOnDeviceConversionMeasurement"}; };
        environment.infoDictionaryValue = [this](const std::string& key) -> std::optional<platform::PropertyValue> {
            auto found = plist.find(key);
            return found == plist.end() ? std::nullopt : std::optional(found->second);
        };
        engine->setOnDeviceEnvironment(environment);
        dispatcher.drain();
        applySettings({{"measurement.odm2_enabled", "1"}});
        monitor.clear();
    }
    void restart() {
        engine.reset();
        dispatcher.drain();
        APMConsentSettingsUtil::resetForTesting();
        VRDClassRegistry::shared().resetForTesting();
        clients = std::make_shared<FakeClientClass>();
        network = std::make_shared<FakeNetwork>();
        persisted->setFirstOpenTimestampMilliseconds(0);
        startEngine();
        APMError ignored;
        (void)engine->database()->deleteUserAttributeWithName("_psmvalue", &ignored);
        (void)engine->database()->deleteODMValueWithName("odm1_value", &ignored);  // backfilled at the start
    }
    void denyAdStorage(bool denied) {
        APMConsentSettingsUtil::setConsentSettings(APMConsentSettings{
            {kAPMConsentTypeAdStorage, platform::PropertyValue(std::string(denied ? "denied" : "granted"))}});
    }
    void email(const std::string& address = "a@b.c") {
        engine->initiateODM1ProtocolWithUserData(APMUserData{address, std::nullopt, std::nullopt, std::nullopt});
        dispatcher.drain();
    }
    bool logged(long code) { return !verbose.linesWithCode(code).empty(); }
    std::optional<std::string> row(const std::string& name) {
        auto value = engine->database()->ODMValueWithName(name);
        return value.value ? std::optional(value.value->value) : std::nullopt;
    }
    std::optional<APMValue> property(const std::string& name) {
        auto attribute = engine->database()->userAttributeWithName(name);
        return attribute.value ? std::optional(attribute.value->value()) : std::nullopt;
    }
    void putProperty(const std::string& name, APMValue value, double timestamp) {
        ASSERT_TRUE(engine->database()->updateUserAttribute(APMUserAttribute("auto", name, value, timestamp), nullptr));
    }
    std::vector<std::string> fxSources() {
        std::vector<std::string> sources;
        for (const auto& event : stored()) {
            if (event.rawEvent.name() != "_fx") continue;
            const APMValue* source = event.rawEvent.parameters().find("_fxs");
            sources.push_back(source && source->stringValue() ? *source->stringValue() : "?");
        }
        return sources;
    }

    storage_test::MonitorCapture verbose{{"-APMAnalyticsVerboseLoggingEnabled"}};
    std::shared_ptr<FakeClientClass> clients = std::make_shared<FakeClientClass>();
    std::shared_ptr<FakeGroupClientClass> groups = std::make_shared<FakeGroupClientClass>();
    std::shared_ptr<FakeNetwork> network = std::make_shared<FakeNetwork>();
    std::map<std::string, platform::PropertyValue> plist;
    std::vector<std::string> fatal;
};

// MARK: Set membership

TEST_F(OnDevice, EachGateRefusesWithItsCodeAndSendsNothing) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        APMUserData data;
        long code;
    };
    const APMUserData mail{"a@b.c", {}, {}, {}};
    const std::vector<Case> cases = {
        {"feature off", [this] { applySettings({}); }, mail, 23299},
        {"consent denied", [this] { denyAdStorage(true); }, mail, 23298},
        {"outside the sign-in window",
         [this] { persisted->setFirstOpenTimestampMilliseconds(static_cast<std::int64_t>((now() - 61 * 86400) * 1000)); },
         mail, 23261},
        {"in progress", [this] { engine->ODM1Context()->isPSMRequestInProgress = true; }, mail, 23235},
        {"start count", [this] { engine->ODM1Context()->PSMStartCount = 3; }, mail, 23236},
        {"existing match", [this] { putProperty("_psmvalue", APMValue("m"), now()); }, mail, 23237},
        {"retry limit", [this] { engine->ODM1Context()->PSMRetryCount = 5; }, mail, 23238},
        {"empty e-mail", [] {}, {"", {}, {}, {}}, 23234},
        {"empty phone", [] {}, {{}, "", {}, {}}, 23239},
        {"phone unsupported", [this] { clients->supported.erase(Init::phoneNumber); }, {{}, "+1", {}, {}}, 23262},
        {"empty digest", [] {}, {{}, {}, std::vector<std::uint8_t>{}, {}}, 23264},
        {"hashed unsupported",
         [this] { clients->supported = {Init::emailAddressWithPrefix}; }, {{}, {}, kDigest, {}}, 23265},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        restart();
        c.arrange();
        engine->initiateODM1ProtocolWithUserData(c.data);
        dispatcher.drain();
        EXPECT_TRUE(logged(c.code));
        EXPECT_TRUE(network->requests.empty());
    }
}

TEST_F(OnDevice, WithoutTheLibraryTheInputsAreNotCachedAndNothingIsSent) {
    startEngine(false);
    EXPECT_FALSE(engine->ODM1Context());
    email();
    EXPECT_TRUE(logged(23233));
    EXPECT_FALSE(persisted->PSMHashedInputData());
}

TEST_F(OnDevice, RefusedInputsAreStillCachedAndAnEmptyOneClearsTheCache) {
    startEngine();
    applySettings({});  // feature off
    email("x@y.z");
    EXPECT_TRUE(logged(23299));
    EXPECT_EQ(persisted->PSMHashedInputData(), VULData({'x', '@', 'y', '.', 'z'}));
    EXPECT_EQ(persisted->PSMInputType(), 1);
    email("");
    EXPECT_FALSE(persisted->PSMHashedInputData());
}

TEST_F(OnDevice, EmailWinsOverPhoneAndTheRequestCarriesEncodedParameters) {
    startEngine();
    const double firstOpen = now() - 30;
    persisted->setFirstOpenTimestampMilliseconds(static_cast<std::int64_t>(firstOpen * 1000));
    engine->initiateODM1ProtocolWithUserData(APMUserData{"a@b.c", "+1", std::nullopt, std::nullopt});
    dispatcher.drain();
    ASSERT_EQ(network->requests.size(), 1u);
    ASSERT_EQ(clients->made.size(), 1u);  // the phone number is not looked at
    EXPECT_EQ(clients->made[0].prefixBitLength, 14);
    const long long expectedMinute = static_cast<long long>(firstOpen) / 60 * 60 + 60;
    EXPECT_EQ(network->requests[0].URL,
              "https://psm.test/q?psm_count=0&timestamp_first_open=" + std::to_string(expectedMinute));
    EXPECT_EQ(network->timeout, 60);
    EXPECT_TRUE(engine->ODM1Context()->isPSMRequestInProgress);
    EXPECT_TRUE(engine->isNetworkRequestPending());
}

TEST_F(OnDevice, DebugKeyIsPercentEncodedAfterAnExistingQuery) {
    startEngine();
    persisted->setFirstOpenTimestampMilliseconds(0);
    auto client = std::make_shared<FakeClient>();
    client->URL = "https://psm.test/q?v=1";
    client->key = "k y&=/é";
    engine->ODM1Context()->PSMClient = client;
    EXPECT_EQ(engine->PSMRequestURL(), "https://psm.test/q?v=1&psm_count=0&debug_psm_key=k%20y%26%3D%2F%C3%A9");
}

TEST_F(OnDevice, FailuresBackOffUntilTheRetryLimitAndEachAnswerIsCounted) {
    startEngine();
    email();
    for (double delay : {300.0, 600.0, 1200.0, 2400.0}) {
        const std::size_t sent = network->requests.size();
        network->answer(500);
        dispatcher.drain();
        dispatcher.advance(delay - 1);
        EXPECT_EQ(network->requests.size(), sent) << delay;
        dispatcher.advance(1);
        EXPECT_EQ(network->requests.size(), sent + 1) << delay;
    }
    network->answer(500);
    dispatcher.advance(10000);
    EXPECT_EQ(network->requests.size(), 5u);
    EXPECT_TRUE(logged(23231));
    EXPECT_EQ(property("_psmcount")->int64Value(), 5);
    EXPECT_TRUE(engine->ODM1Context()->PSMClient);  // kept for the next user data
}

TEST_F(OnDevice, AKeptClientIsResentOnlyWhenThisCallsGatesPass) {
    startEngine();
    email();
    engine->ODM1Context()->PSMRetryCount = 4;
    network->answer(500);
    dispatcher.drain();
    ASSERT_TRUE(logged(23231));
    denyAdStorage(true);
    engine->initiateODM1ProtocolWithUserData(APMUserData{});
    email("other@b.c");
    EXPECT_EQ(network->requests.size(), 1u);  // hashed data never leaves against consent
    denyAdStorage(false);
    engine->initiateODM1ProtocolWithUserData(APMUserData{});
    dispatcher.drain();
    ASSERT_EQ(network->requests.size(), 2u);
    EXPECT_EQ(engine->ODM1Context()->PSMRetryCount, 0);
    EXPECT_EQ(engine->ODM1Context()->PSMStartCount, 2);
}

TEST_F(OnDevice, AMatchIsStoredWithItsEventAndStartsTheGroupQuery) {
    startEngine();
    email();
    network->answer(200, "v1");
    dispatcher.drain();
    EXPECT_EQ(row("odm1_value"), "v1");
    EXPECT_EQ(*property("_psmvalue")->stringValue(), "v1");
    EXPECT_EQ(fxSources(), std::vector<std::string>{"psm"});
    EXPECT_FALSE(engine->ODM1Context()->PSMClient);
    EXPECT_EQ(groups->completions.size(), 1u);
    email();
    EXPECT_TRUE(logged(23237));
}

TEST_F(OnDevice, ABusyNetworkPostponesUntilTheNextUploadCompletes) {
    startEngine();
    network->busy = true;
    email();
    EXPECT_TRUE(engine->ODM1Context()->isPSMRequestPostponed);
    EXPECT_TRUE(network->requests.empty());
    network->busy = false;
    EXPECT_TRUE(engine->sendPostponedPSMRequest());
    EXPECT_EQ(network->requests.size(), 1u);
    EXPECT_FALSE(engine->sendPostponedPSMRequest());
}

TEST_F(OnDevice, ReengagementUsesTheCacheAndStoresASessionValue) {
    startEngine();
    engine->initiateODMSessionStartProtocolWithTimestamp(now());
    EXPECT_TRUE(logged(23284));
    EXPECT_EQ(signalCount("odm1_ss_count", "no_cache"), 1);
    persisted->setPSMHashedInputData(kDigest);
    persisted->setPSMInputType(4);
    putProperty("_sid", APMValue(std::int64_t{1700000030}), now());
    engine->initiateODMSessionStartProtocolWithTimestamp(now());
    ASSERT_EQ(network->requests.size(), 1u);
    EXPECT_EQ(clients->made.back().prefixBitLength, 11);
    EXPECT_EQ(network->requests[0].URL, "https://psm.test/q?psm_phone_count=0&tss=1700000040");
    network->answer(200, "s1");
    dispatcher.drain();
    EXPECT_EQ(row("odm1_session_value"), "s1");
    EXPECT_FALSE(property("_psmvalue"));
    EXPECT_EQ(signalCount("odm1_ss_count", "success"), 1);
}

TEST_F(OnDevice, ReengagementRefusalsAreCountedWithTheirMetadata) {
    struct Case {
        const char* metadata;
        std::function<void()> arrange;
        long code;
    };
    const std::vector<Case> cases = {
        {"disabled", [this] { denyAdStorage(true); }, 23335},
        {"unsupported", [this] { clients->supported.erase(Init::hashedInput); }, 23283},
        {"no_cache", [this] { persisted->setPSMInputType(0); }, 23284},
        {"no_client", [this] { clients->refuse = true; }, 23336},
        {"no_payload", [this] { clients->adjust = [](FakeClient& c) { c.payload.clear(); }; }, 23293},
        {"no_url", [this] { clients->adjust = [](FakeClient& c) { c.URL.clear(); }; }, 23227},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.metadata);
        restart();
        persisted->setPSMHashedInputData(kDigest);
        persisted->setPSMInputType(3);
        c.arrange();
        engine->initiateODMSessionStartProtocolWithTimestamp(now());
        EXPECT_TRUE(logged(c.code));
        EXPECT_EQ(signalCount("odm1_ss_count", c.metadata), 1);
        EXPECT_TRUE(network->requests.empty());
    }
}

TEST_F(OnDevice, GroupQueryHopsToTheWorkerQueueAndRunsOncePerDay) {
    persisted->setPSMHashedInputData(kDigest);
    persisted->setPSMInputType(3);
    startEngine();
    engine->initiateODMGroupIDProtocol();
    engine->initiateODMGroupIDProtocol();  // no in-progress check: both start
    ASSERT_EQ(groups->completions.size(), 2u);
    groups->completions[0](std::nullopt, APMError::withCode(1, "down"));
    EXPECT_TRUE(engine->ODM1GroupContext()->isPSMRequestInProgress);  // untouched off the worker queue
    dispatcher.drain();
    EXPECT_TRUE(logged(23313));
    EXPECT_FALSE(persisted->PSMCurrentDay());
    groups->completions[1]("g1", std::nullopt);
    EXPECT_FALSE(persisted->PSMCurrentDay());
    dispatcher.drain();
    EXPECT_EQ(persisted->PSMCurrentDay(), engine->currentDayNumber());
    EXPECT_EQ(row("odm1_group_id"), "g1");
    engine->initiateODMGroupIDProtocol();
    EXPECT_TRUE(logged(23312));
    dispatcher.advance(86400);
    engine->initiateODMGroupIDProtocol();
    EXPECT_EQ(groups->completions.size(), 3u);
    persisted->setPSMInputType(2);
    engine->initiateODMGroupIDProtocol();
    EXPECT_TRUE(logged(23311));
}

TEST_F(OnDevice, ExpiryDeletesOldValuesAndCountersAndBackfillsTheRow) {
    startEngine();
    const double old = now() - 7776000;
    ASSERT_TRUE(engine->database()->updateODMValue("x", "odm1_group_id", old, nullptr));
    ASSERT_TRUE(engine->database()->updateODMValue("y", "odm1_session_value", old + 1, nullptr));
    putProperty("_psmvalue", APMValue("v"), old);
    putProperty("_psmcounth", APMValue(std::int64_t{2}), now());
    engine->maybeDeleteExpiredPSMValueOnWorkerQueue();
    EXPECT_FALSE(row("odm1_group_id"));
    EXPECT_EQ(row("odm1_session_value"), "y");
    EXPECT_FALSE(property("_psmvalue"));
    EXPECT_FALSE(property("_psmcounth"));
    putProperty("_psmvalue", APMValue("w"), now() - 10);
    engine->maybeDeleteExpiredPSMValueOnWorkerQueue();
    EXPECT_EQ(row("odm1_value"), "w");
}

// MARK: Conversion service

TEST_F(OnDevice, WithoutTheServiceEveryFetchClearsWhatWasStored) {
    startEngine(false);
    ASSERT_TRUE(engine->database()->updateODMValue("v", "odm2_value_cohort", now(), nullptr));
    ASSERT_TRUE(engine->database()->updateODMValue("g", "odm2_group_id", now(), nullptr));
    putProperty("_psmvalue_vads", APMValue("v"), now());
    engine->updateAdsOnDeviceConversionMeasurement();
    engine->updateAdsOnDeviceConversionGroupInfo();
    EXPECT_FALSE(row("odm2_value_cohort"));
    EXPECT_FALSE(row("odm2_group_id"));
    EXPECT_FALSE(property("_psmvalue_vads"));
}

TEST_F(OnDevice, TheFirstValueAndTheFirstGroupIDAreReportedOnce) {
    auto serviceClass = std::make_shared<ServiceClass<FakeService>>();
    VRDClassRegistry::shared().registerClass("ODCConversionService", serviceClass);
    startEngine();
    auto& service = *serviceClass->service;
    engine->updateAdsOnDeviceConversionMeasurement();
    service.measurement("c1", std::nullopt);
    dispatcher.drain();
    EXPECT_EQ(row("odm2_value_cohort"), "c1");
    EXPECT_EQ(*property("_psmvalue_vads")->stringValue(), "c1");
    engine->updateAdsOnDeviceConversionMeasurement();
    service.measurement("c2", std::nullopt);
    dispatcher.drain();
    EXPECT_TRUE(logged(23316));
    EXPECT_EQ(row("odm2_value_cohort"), "c1");
    for (const char* id : {"g1", "g2", "g2"}) {
        engine->updateAdsOnDeviceConversionGroupInfo();
        service.group(id, std::nullopt);
        dispatcher.drain();
    }
    EXPECT_EQ(row("odm2_group_id"), "g2");
    EXPECT_EQ(fxSources(), (std::vector<std::string>{"psm_vads", "muf2"}));
}

TEST_F(OnDevice, InfoPlistSwitchZeroDisablesAndTextEnables) {
    auto serviceClass = std::make_shared<ServiceClass<FakeService>>();
    VRDClassRegistry::shared().registerClass("ODCConversionService", serviceClass);
    plist["VADOVA_ADS_ON_DEVICE_CONVERSION_EVENT_DATA_ENABLED"] = platform::PropertyValue(std::int64_t{0});
    startEngine();
    EXPECT_FALSE(engine->isAdsOnDeviceConversionEnabled());
    EXPECT_TRUE(logged(23295));
    plist["VADOVA_ADS_ON_DEVICE_CONVERSION_EVENT_DATA_ENABLED"] = platform::PropertyValue(std::string("no"));
    EXPECT_TRUE(engine->isAdsOnDeviceConversionEnabled());
}

TEST_F(OnDevice, MigrationsMoveTheFirstOpenValue) {
    startEngine();
    ASSERT_TRUE(engine->database()->updateODMValue("old", "odm2_value", 1234, nullptr));
    engine->migrateODM2Value();  // session start on: into the cohort row
    EXPECT_EQ(row("odm2_value_cohort"), "old");
    EXPECT_FALSE(row("odm2_value"));
    EXPECT_EQ(persisted->ODM2FirstOpenTimestampValue(), 1234);
    applySettings({{"measurement.odm2_session_start_enabled", "0"}});
    putProperty("_psmvalue_vads", APMValue("vads"), 99);
    engine->migrateODM2Value();  // session start off: from the user property
    EXPECT_EQ(row("odm2_value"), "vads");
    EXPECT_FALSE(row("odm2_value_cohort"));
    EXPECT_TRUE(property("_psmvalue_vads"));
}

TEST_F(OnDevice, DependencyCheckRaisesTheFatalErrorsOnTheMainQueue) {
    VRDClassRegistry::shared().registerClass("ODCConversionService", std::make_shared<ServiceClass<OldService>>());
    VRDClassRegistry::shared().registerClass("APMPrivateSetMembershipClient", clients);
    startEngine();
    EXPECT_EQ(fatal, (std::vector<std::string>{"MeasurementDeprecatedOnDeviceConversionException",
                                               "MeasurementMinimumRequiredOnDeviceConversionNotLinkedException"}));
    EXPECT_EQ(engine->onDeviceConversionLinkageBits(), 2 | 8);
    EXPECT_EQ(engine->linkageBits(), 2 | 8);  // the identity support here cannot tell a consent status
}

// MARK: ODF identifiers

TEST_F(OnDevice, MatchingIDLogsTheDeferredFirstOpenOnce) {
    auto serviceClass = std::make_shared<ServiceClass<FakeService>>();
    VRDClassRegistry::shared().registerClass("ODCConversionService", serviceClass);
    startEngine();
    auto& service = *serviceClass->service;
    for (int i = 0; i < 2; ++i) {
        engine->updateODFIDs();
        service.installation("inst");
        service.matching("m1", std::nullopt);
        dispatcher.drain();
    }
    EXPECT_EQ(row("odf_matching_id"), "m1");
    EXPECT_EQ(row("odf_app_installation_id"), "inst");
    EXPECT_EQ(fxSources(), std::vector<std::string>{"odf"});
    engine->updateODFIDs();
    service.matching("m2", std::nullopt);
    dispatcher.drain();
    EXPECT_EQ(row("odf_matching_id"), "m2");
    EXPECT_EQ(fxSources().size(), 1u);
    applySettings({{"measurement.odm2_enabled", "1"}, {"measurement.odf_enabled", "0"}});
    engine->updateODFIDs();
    EXPECT_TRUE(logged(23322));
    EXPECT_FALSE(row("odf_matching_id"));
    EXPECT_FALSE(row("odf_app_installation_id"));
}

// MARK: Through the engine's own entries

// A configuration fetch, a session start and a reset reach the conversion
// service and the set-membership protocol from the engine's own steps.
TEST_F(OnDevice, AFetchAndASessionStartAskTheServiceAndAResetWipesIt) {
    auto serviceClass = std::make_shared<ServiceClass<FakeService>>();
    VRDClassRegistry::shared().registerClass("ODCConversionService", serviceClass);
    LoopbackServer configServer;
    configServer.answer(404, "");
    EngineFixture::network = std::make_shared<VULNetwork>(std::make_shared<FixedReachability>());
    endpoints.configBaseURL = configServer.url("");
    startEngine();
    engine->identity()->setAppIDFromVAZ(kAppID);
    email();  // caches the set-membership input the session protocol sends again
    auto& service = *serviceClass->service;
    using Asked = FakeService::Asked;
    const struct {
        const char* label;
        std::function<void()> trigger;
        Asked asked;
        std::size_t setMembershipRequests;
    } steps[] = {
        {"a configuration fetch",
         [&] {
             engine->fetchRemoteConfig();
             ASSERT_TRUE(runUntil([&] { return !configServer.received().empty() && !engine->isNetworkRequestPending(); }));
         },
         {{0}, 1, 1, 0}, 0},
        {"a session start", [&] { log("_s", {}, 0, "auto", false); }, {{1}, 1, 1, 0}, 1},
        {"a reset", [&] { ASSERT_TRUE(engine->resetAnalyticsDataWithAppInstanceID("ABC")); }, {{}, 0, 0, 1}, 0},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.label);
        service.asked = {};
        network->requests.clear();
        step.trigger();
        dispatcher.drain();
        EXPECT_EQ(service.asked.interactions, step.asked.interactions);
        EXPECT_EQ(service.asked.groupInfo, step.asked.groupInfo);
        EXPECT_EQ(service.asked.installationID, step.asked.installationID);
        EXPECT_EQ(service.asked.wipes, step.asked.wipes);
        EXPECT_EQ(network->requests.size(), step.setMembershipRequests);
    }
}

}  // namespace
}  // namespace engine_test
