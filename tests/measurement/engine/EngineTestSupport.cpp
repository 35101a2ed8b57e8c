#include "EngineTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <span>

#include "VadovaUtilities/VULGzip.h"
#include "measurement/audiences/APMExperimentManager.h"
#include "measurement/engine/APMEngineSubsystems.h"
#include "measurement/messages/MessageSlots.h"

namespace engine_test {

std::shared_ptr<APMPBMeasurementConfig> makeConfig(const std::string& appID, const Settings& settings) {
    auto config = APMPBMeasurementConfig::initWithBuffer({});
    APMPBSetString(*config, 1, appID);
    std::vector<std::shared_ptr<APMPBSetting>> list;
    for (const auto& [name, value] : settings) {
        auto setting = APMPBSetting::initWithBuffer({});
        APMPBSetString(*setting, 0, name);
        APMPBSetString(*setting, 1, value);
        list.push_back(setting);
    }
    APMPBSetArray(*config, 3, APMPBArrayOfMessages(list));
    return config;
}

std::string encoded(const APMPBMeasurementConfig& config) {
    auto bytes = config.protoBuffer();
    return bytes ? std::string(bytes->bytes(), bytes->bytes() + bytes->length()) : std::string();
}

int bundleSlot(int tag) {
    const auto* type = measurement::messages::messageTypeNamed("MeasurementBundle");
    return static_cast<int>(type->slotForTag(static_cast<std::uint32_t>(tag)) - type->slots);
}

// MARK: - EngineFixture

EngineFixture::EngineFixture(Logging logging)
    : monitor(logging == Logging::verbose ? std::vector<std::string>{"-APMAnalyticsVerboseLoggingEnabled"}
                                          : std::vector<std::string>{}) {
    APMStoredMessageCodec::install(std::make_shared<APMWireStoredMessageCodec>());
    persisted = std::make_shared<APMPersistedConfig>(
        std::make_shared<platform::UserDefaults>("engine", folder.path() / "defaults"));
    APMUserDefaults::resetSharedForTesting();
    APMUserDefaults::sharedUserDefaults()->clearAllData();
    APMConsentSettingsUtil::resetForTesting();
    VULMainBundle::setResourcesDirectory(folder.path() / "bundle");
    previousLogger_ = APMSetInternalEventLogger(
        [this](const std::string&, const std::string& name, const APMParameters& parameters) {
            errorEvents.push_back({name, parameters});
        });
}

EngineFixture::~EngineFixture() {
    engine.reset();
    dispatcher.drain();
    APMMeasurement::resetSharedInstanceForTesting();
    if (realSubsystems) {
        APMEManager::resetSharedForTesting();
        dispatcher.drain();
    }
    APMIdentity::setSharedInstance(nullptr);
    APMSetInternalEventLogger(previousLogger_);
    VULMainBundle::setResourcesDirectory(std::nullopt);
    APMConsentSettingsUtil::resetForTesting();
    APMStoredMessageCodec::install(nullptr);
}

APMMeasurementConfiguration EngineFixture::configuration() {
    APMMeasurementConfiguration config;
    config.dispatcher = &dispatcher;
    config.persistedConfig = persisted;
    config.network = network;
    config.makeNetwork = false;
    config.endpoints = endpoints;
    config.notificationCenter = &center;
    config.uptime = [this] { return dispatcher.virtualClock().uptime(); };
    config.measurementDirectory = folder.path().string();
    config.identity = [this] { return APMIdentity::create(dispatcher, persisted, nullptr, nullptr); };
    config.openDatabase = [this](const std::string&, APMError* error) -> std::unique_ptr<APMDatabase> {
        ++openAttempts;
        if (failingOpens > 0) {
            --failingOpens;
            APMSetError(error, 1, "refused by the test");
            return nullptr;
        }
        return APMDatabase::openAtPath((folder.path() / "measurement.sql").string(), error, &dispatcher.virtualClock());
    };
    if (realSubsystems) {
        APMETaskManagerEnvironment experiments;
        experiments.dispatcher = &dispatcher;
        experiments.databasePath = (folder.path() / "experiments.sql").string();
        experiments.readFetchBaseURLFromOptions = false;
        experiments.fetchBaseURL = experimentFetchBaseURL;
        experiments.network = std::make_shared<VULNetwork>(std::make_shared<FixedReachability>());
        experiments.persistedStorage = std::make_shared<APMUserDefaults>(
            std::make_shared<platform::UserDefaults>(kAPMExperimentSuiteName, folder.path() / "experiment-defaults"));
        experiments.requestBuilder = std::make_shared<APMEExperimentRequestBuilder>();
        APMInstallDefaultSubsystems(config, experiments);
    }
    return config;
}

void EngineFixture::start(bool enabled, bool deactivated) {
    if (realSubsystems) {
        // As the application makes it: the subsystems reach the engine as
        // the process's shared instance.
        APMMeasurement::initializeSharedInstance(kAppID, enabled, deactivated, {}, configuration());
        engine = APMMeasurement::sharedInstance();
    } else {
        engine = APMMeasurement::create(kAppID, enabled, deactivated, {}, configuration());
    }
    ASSERT_TRUE(engine);
    dispatcher.drain();
}

void EngineFixture::startWithoutStartRecords() {
    start();
    discardStartRecords();
}

void EngineFixture::discardStartRecords() {
    APMError error;
    ASSERT_TRUE(engine->database()->reset(&error)) << error.text();
    engine->alarm()->cancel();
}

std::shared_ptr<APMDatabase> EngineFixture::openDatabase() {
    APMError error;
    std::shared_ptr<APMDatabase> database =
        APMDatabase::openAtPath((folder.path() / "measurement.sql").string(), &error, &dispatcher.virtualClock());
    EXPECT_TRUE(database) << error.text();
    return database;
}

void EngineFixture::onWorker(std::function<void(APMMeasurement&)> work) {
    engine->scheduler()->scheduleOnWorkerQueue("test", [this, work] { work(*engine); });
    dispatcher.drain();
}

void EngineFixture::writeInfoPlist(const PropertyDictionary& entries) {
    std::filesystem::create_directories(folder.path() / "bundle");
    auto bytes = platform::serializePropertyList(PropertyValue(entries), platform::PropertyListFormat::Xml);
    ASSERT_TRUE(bytes);
    std::ofstream(folder.path() / "bundle" / "Info.plist", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
}

void EngineFixture::applySettings(const std::vector<std::pair<std::string, std::string>>& settings,
                                  std::shared_ptr<APMPBMeasurementConfig> config) {
    if (!config) config = makeConfig(kAppID, settings);
    ASSERT_TRUE(engine->remoteConfigInstance()->updateMeasurementConfig(config));
}

void EngineFixture::log(const std::string& name, APMObjectParameters parameters, double timestamp,
                        const std::string& origin, bool isPublic) {
    engine->logEventWithOrigin(origin, isPublic, name, std::move(parameters), timestamp ? timestamp : now(), true,
                               false, false, nullptr, std::nullopt);
    dispatcher.drain();
}

std::vector<APMRawEventData> EngineFixture::stored() {
    std::vector<APMRawEventData> events;
    auto rows = engine->database()->allRawEvents();
    EXPECT_TRUE(rows.value);
    for (const auto& row : rows.value.value_or(std::vector<APMRawEventRecord>{})) {
        APMError error;
        auto data = APMRawEventData::fromRecord(row, &error);
        EXPECT_TRUE(data) << error.text();
        if (data) events.push_back(std::move(*data));
    }
    return events;
}

std::vector<std::string> EngineFixture::storedNames() {
    std::vector<std::string> names;
    for (const auto& event : stored()) names.push_back(event.rawEvent.name());
    return names;
}

std::optional<APMEvent> EngineFixture::lastStored(const std::string& name) {
    std::optional<APMEvent> found;
    for (auto& event : stored()) {
        if (event.rawEvent.name() == name) found = event.rawEvent;
    }
    return found;
}

std::size_t EngineFixture::storedCount(const std::string& name) {
    const auto names = storedNames();
    return static_cast<std::size_t>(std::count(names.begin(), names.end(), name));
}

std::optional<APMUserAttribute> EngineFixture::property(const std::string& name) {
    return engine->database()->userAttributeWithName(name).value;
}

std::int64_t EngineFixture::signalCount(const std::string& name, const std::string& metadata) {
    auto signals = engine->database()->consumeDiagnosticsSignals();
    std::int64_t count = 0;
    for (const auto& signal : signals.value.value_or(std::vector<APMDiagnosticsSignal>{})) {
        if (signal.signalName == name && signal.metadata == metadata) count += signal.count;
    }
    return count;
}

std::vector<std::int64_t> EngineFixture::errorCodes() {
    std::vector<std::int64_t> codes;
    for (const auto& event : errorEvents) {
        if (const APMValue* code = event.parameters.find("_err")) codes.push_back(code->int64Value());
    }
    return codes;
}

std::vector<std::shared_ptr<APMPBMeasurementBundle>> EngineFixture::queued() {
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

std::shared_ptr<APMPBEventParam> param(const APMPBEvent& event, const std::string& name) {
    for (auto& p : APMPBGetMessages<APMPBEventParam>(event, EventSlot::Params)) {
        if (APMPBGetString(*p, EventParamSlot::Name) == name) return p;
    }
    return nullptr;
}

const APMValue* param(const std::optional<APMEvent>& event, const std::string& name) {
    return event ? event->parameters().find(name) : nullptr;
}

// MARK: - Uploads

std::vector<std::int32_t> queuedRetryCounts(APMDatabase& database) {
    std::vector<std::int32_t> counts;
    auto rows = database.queryBundlesWithCountLimit(1000, 1 << 30);
    for (const auto& row : rows.value.value_or(std::vector<APMQueuedBundle>{})) {
        counts.push_back(APMPBGetInt32(*APMPBMeasurementBundle::initWithBuffer(row.bundle),
                                       MeasurementBundleSlot::UploadRetryCount));
    }
    return counts;
}

std::vector<std::shared_ptr<APMPBMeasurementBundle>> bundlesOf(const ReceivedRequest& request) {
    EXPECT_EQ(request.header("Content-Encoding"), "gzip");
    const auto batch = APMPBMeasurementBatch::initWithBuffer(
        std::span(reinterpret_cast<const std::uint8_t*>(request.body.data()), request.body.size()));
    EXPECT_TRUE(batch) << "the body is not a MeasurementBatch";
    if (!batch) return {};
    return APMPBGetMessages<APMPBMeasurementBundle>(*batch, 0);
}

ReceivedRequest receivedRequestOf(const std::string& raw) {
    ReceivedRequest request;
    const std::size_t headersEnd = raw.find("\r\n\r\n");
    std::size_t lineStart = raw.find("\r\n") + 2;
    request.method = raw.substr(0, raw.find(' '));
    while (lineStart < headersEnd) {
        const std::size_t lineEnd = raw.find("\r\n", lineStart);
        const std::string line = raw.substr(lineStart, lineEnd - lineStart);
        const std::size_t colon = line.find(':');
        request.headers.emplace(line.substr(0, colon), line.substr(line.find_first_not_of(' ', colon + 1)));
        lineStart = lineEnd + 2;
    }
    const VULData body(raw.begin() + static_cast<std::ptrdiff_t>(headersEnd + 4), raw.end());
    const VULData inflated = request.header("Content-Encoding") == "gzip"
                                 ? vul_dataByInflatingGzippedData(body).data.value_or(VULData{})
                                 : body;
    request.body.assign(inflated.begin(), inflated.end());
    return request;
}

std::vector<std::shared_ptr<APMPBEvent>> eventsOf(const APMPBMeasurementBundle& bundle) {
    return APMPBGetMessages<APMPBEvent>(bundle, MeasurementBundleSlot::Events);
}

std::vector<std::string> eventNamesOf(const APMPBMeasurementBundle& bundle) {
    std::vector<std::string> names;
    for (const auto& event : eventsOf(bundle)) names.push_back(APMPBGetString(*event, EventSlot::Name).value_or(""));
    return names;
}

std::optional<std::string> protocDecodedBody(const std::string& body, const std::filesystem::path& folder) {
    const auto input = folder / "batch.bin";
    const auto output = folder / "batch.txt";
    std::ofstream(input, std::ios::binary).write(body.data(), static_cast<std::streamsize>(body.size()));
    const std::string command = std::string(UPLOAD_TEST_PROTOC) + " -I " + UPLOAD_TEST_PROTO_DIR +
                                " --decode=mossbridge.measurement.MeasurementBatch " + UPLOAD_TEST_PROTO_DIR +
                                "/measurement.proto < " + input.string() + " > " + output.string() + " 2>&1";
    const int status = std::system(command.c_str());
    std::ifstream in(output);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (status != 0) {
        ADD_FAILURE() << "protoc refused the body: " << text;
        return std::nullopt;
    }
    return text;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

}  // namespace engine_test
