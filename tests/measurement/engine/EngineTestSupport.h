#pragma once
// The engine tests' one fixture: an engine on the deterministic dispatcher
// over a database in a private folder, with the monitor's lines and the
// internal error events kept, a main-bundle folder whose Info.plist the test
// writes, and readers of what the engine stored, queued and posted.
//
// A test chooses before start():
//   - `realSubsystems`: the real audience evaluator and experiment manager
//     (the ones a running application plugs in), the engine made as the
//     process's shared instance as the application makes it; otherwise the
//     engine's stand-ins (no audiences, no experiments);
//   - the members of `configuration()` it overrides (network, endpoints,
//     failingOpens), and the Info.plist (writeInfoPlist).
// start() runs the engine's start with its first-open records;
// startWithoutStartRecords() then empties the store and the upload timer.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "VadovaUtilities/LoopbackServer.h"
#include "VadovaUtilities/RawServer.h"
#include "VadovaUtilities/VULMainBundle.h"
#include "VadovaUtilities/VULNetwork.h"
#include "VadovaUtilities/VULReachability.h"
#include "measurement/engine/APMEngineWiring.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMRemoteConfig.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/interface/APMErrorEventLogging.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMPBMessages.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/storage/APMAlarm.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMDecimalNumber.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMScheduler.h"
#include "measurement/storage/APMStoredMessageCodec.h"
#include "measurement/storage/APMUserDefaults.h"
#include "measurement/storage/APMValue.h"
#include "measurement/storage/StorageTestSupport.h"
#include "platform/core/DeterministicDispatch.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/PropertyList.h"
#include "platform/core/UserDefaults.h"

namespace engine_test {

using platform::PropertyArray;
using platform::PropertyDictionary;
using platform::PropertyValue;

inline constexpr const char* kAppID = "1:1234:macos:abcd";
// The main bundle's identifier: the queue takes only bundles with an app ID.
inline constexpr const char* kBundleIdentifier = "org.mossbridge.test";

// A MeasurementConfig of `appID` with the given settings.
using Settings = std::vector<std::pair<std::string, std::string>>;
std::shared_ptr<APMPBMeasurementConfig> makeConfig(const std::string& appID, const Settings& settings = {});
std::string encoded(const APMPBMeasurementConfig& config);

// The slot of a MeasurementBundle field named by its tag.
int bundleSlot(int tag);

struct LoggedErrorEvent {
    std::string name;
    APMParameters parameters;
};

// Counts the upload attempts the engine starts ("Starting data upload", a
// verbose line) from its construction on; it takes over the shared monitor.
class UploadAttemptCounter {
public:
    std::size_t count() const { return capture_.linesWithCode(23033).size(); }
    std::size_t linesWithCode(long code) const { return capture_.linesWithCode(code).size(); }

private:
    storage_test::MonitorCapture capture_{{"-APMAnalyticsVerboseLoggingEnabled"}};
};

// Which of the monitor's lines the fixture keeps.
enum class Logging { standard, verbose };

class EngineFixture : public ::testing::Test {
protected:
    explicit EngineFixture(Logging logging = Logging::standard);
    ~EngineFixture() override;

    // MARK: The engine

    // The configuration start() builds the engine from.
    APMMeasurementConfiguration configuration();
    // Builds the engine and runs its start.
    void start(bool enabled = true, bool deactivated = false);
    // The same, then the store emptied of the start's records (the events
    // "_f" and "_e", the properties "_fi" and "_fot") and the upload timer
    // they armed cancelled, for tests that count stored rows.
    void startWithoutStartRecords();
    void discardStartRecords();
    // A database in the fixture's folder on its clock.
    std::shared_ptr<APMDatabase> openDatabase();
    // Runs the block on the engine's worker queue and drains.
    void onWorker(std::function<void(APMMeasurement&)> work);
    // Runs the dispatcher until `done` or 10 s of real time (network answers).
    template <class Predicate>
    bool runUntil(Predicate done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            dispatcher.drain();
            std::this_thread::yield();
        }
        dispatcher.drain();
        return done();
    }
    double now() { return dispatcher.virtualClock().now(); }

    // Replaces the main bundle's Info.plist (none at first).
    void writeInfoPlist(const PropertyDictionary& entries);
    // An Info.plist with kBundleIdentifier only.
    void writeBundleIdentifier() { writeInfoPlist({{"CFBundleIdentifier", PropertyValue(kBundleIdentifier)}}); }
    // An Info.plist with that short version string only.
    void writeAppVersion(const std::string& version) {
        writeInfoPlist({{"CFBundleShortVersionString", PropertyValue(version)}});
    }

    // MARK: The event road

    // Applies the settings as a fetched configuration would.
    void applySettings(const std::vector<std::pair<std::string, std::string>>& settings,
                       std::shared_ptr<APMPBMeasurementConfig> config = nullptr);
    // Logs a public app event through the engine's entry and drains.
    void log(const std::string& name, APMObjectParameters parameters = {}, double timestamp = 0,
             const std::string& origin = "app", bool isPublic = true);
    // The stored raw events, decoded back through the message layer.
    std::vector<APMRawEventData> stored();
    std::vector<std::string> storedNames();
    std::optional<APMEvent> lastStored(const std::string& name);
    std::size_t storedCount(const std::string& name);
    std::optional<APMUserAttribute> property(const std::string& name);
    // Consumes the stored diagnostics signals; the count of that one.
    std::int64_t signalCount(const std::string& name, const std::string& metadata);
    // The "_err" codes of the internal error events logged.
    std::vector<std::int64_t> errorCodes();
    std::size_t logged(long code) { return monitor.linesWithCode(code).size(); }

    // MARK: Bundling

    bool bundle() { return engine->bundleRawEvents(); }
    // The queued bundles, oldest first.
    std::vector<std::shared_ptr<APMPBMeasurementBundle>> queued();

    // MARK: State

    storage_test::TemporaryFolder folder;
    storage_test::MonitorCapture monitor;
    platform::DeterministicDispatcher dispatcher{1.7e9};
    std::shared_ptr<APMPersistedConfig> persisted;
    std::shared_ptr<VULNetwork> network;
    APMServiceEndpoints endpoints;
    platform::NotificationCenter center;
    int failingOpens = 0;
    int openAttempts = 0;
    // The real audience evaluator and experiment manager; and the base URL
    // the experiment manager fetches from (none: no experiment service).
    bool realSubsystems = false;
    std::optional<std::string> experimentFetchBaseURL;
    std::shared_ptr<APMMeasurement> engine;
    std::vector<LoggedErrorEvent> errorEvents;

private:
    APMInternalEventLogger previousLogger_;
};

// The parameter of that name of a bundled event, or of a stored one.
std::shared_ptr<APMPBEventParam> param(const APMPBEvent& event, const std::string& name);
const APMValue* param(const std::optional<APMEvent>& event, const std::string& name);

// MARK: Uploads

// The network is always reachable.
class FixedReachability final : public VULReachability {
public:
    bool isReachable() const override { return true; }
    void setChangeHandler(std::function<void()>) override {}
};

// The queued rows' retry counts (field 39, 0 when absent), oldest first.
std::vector<std::int32_t> queuedRetryCounts(APMDatabase& database);
// The bundles of a posted batch, decoded by the message layer; empty (with
// a test failure) when the request was not a gzip-compressed MeasurementBatch.
// The server's own zlib has already inflated the body.
std::vector<std::shared_ptr<APMPBMeasurementBundle>> bundlesOf(const ReceivedRequest& request);
// A request as a RawServer kept it, its gzip body inflated as a server would.
ReceivedRequest receivedRequestOf(const std::string& raw);
std::vector<std::shared_ptr<APMPBEvent>> eventsOf(const APMPBMeasurementBundle& bundle);
std::vector<std::string> eventNamesOf(const APMPBMeasurementBundle& bundle);
inline std::vector<std::string> eventNames(const APMPBMeasurementBundle& bundle) { return eventNamesOf(bundle); }
// protoc's text form of the body (`protoc --decode`, an independent
// decoder), or none when protoc refuses it.
std::optional<std::string> protocDecodedBody(const std::string& body, const std::filesystem::path& folder);
std::size_t occurrences(const std::string& text, const std::string& part);

}  // namespace engine_test
