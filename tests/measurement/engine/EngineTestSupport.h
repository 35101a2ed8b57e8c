#pragma once
// Fixtures of the engine tests: configuration messages built field by field,
// and an engine on the deterministic dispatcher over a database in a private
// folder, with the monitor's lines kept.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "measurement/engine/APMEngineWiring.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMRemoteConfig.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/storage/APMAlarm.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMDecimalNumber.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMStoredMessageCodec.h"
#include "measurement/storage/APMUserDefaults.h"
#include "measurement/storage/StorageTestSupport.h"
#include "platform/core/DeterministicDispatch.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/UserDefaults.h"

namespace engine_test {

inline constexpr const char* kAppID = "1:1234:macos:abcd";

// A MeasurementConfig of `appID` with the given settings.
inline std::shared_ptr<APMPBMeasurementConfig> makeConfig(const std::string& appID,
                                                          const std::vector<std::pair<std::string, std::string>>& settings = {}) {
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

inline std::string encoded(const APMPBMeasurementConfig& config) {
    auto bytes = config.protoBuffer();
    return bytes ? std::string(bytes->bytes(), bytes->bytes() + bytes->length()) : std::string();
}

// A database in the test's folder on the test's clock, with the wire codec.
class DatabaseFixture : public ::testing::Test {
protected:
    DatabaseFixture() { APMStoredMessageCodec::install(std::make_shared<APMWireStoredMessageCodec>()); }
    ~DatabaseFixture() override { APMStoredMessageCodec::install(nullptr); }

    std::shared_ptr<APMDatabase> openDatabase() {
        APMError error;
        std::shared_ptr<APMDatabase> database =
            APMDatabase::openAtPath((folder.path() / "measurement.sql").string(), &error, &dispatcher.virtualClock());
        EXPECT_TRUE(database) << error.text();
        return database;
    }

    storage_test::TemporaryFolder folder;
    storage_test::MonitorCapture monitor;
    platform::DeterministicDispatcher dispatcher{1.7e9};
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

// An engine built on the fixture's dispatcher, clock and folder.
class EngineFixture : public DatabaseFixture {
protected:
    EngineFixture() {
        persisted = std::make_shared<APMPersistedConfig>(
            std::make_shared<platform::UserDefaults>("engine", folder.path() / "defaults"));
        APMUserDefaults::resetSharedForTesting();
        APMUserDefaults::sharedUserDefaults()->clearAllData();
    }
    ~EngineFixture() override {
        engine.reset();
        dispatcher.drain();
        APMMeasurement::resetSharedInstanceForTesting();
        APMIdentity::setSharedInstance(nullptr);
    }

    APMMeasurementConfiguration configuration() {
        APMMeasurementConfiguration config;
        config.dispatcher = &dispatcher;
        config.persistedConfig = persisted;
        config.network = network;
        config.makeNetwork = false;
        config.endpoints = endpoints;
        config.notificationCenter = &center;
        config.uptime = [this] { return dispatcher.virtualClock().uptime(); };
        config.measurementDirectory = folder.path().string();
        config.identity = [this] {
            return APMIdentity::create(dispatcher, persisted, nullptr, nullptr);
        };
        config.openDatabase = [this](const std::string&, APMError* error) -> std::unique_ptr<APMDatabase> {
            ++openAttempts;
            if (failingOpens > 0) {
                --failingOpens;
                APMSetError(error, 1, "refused by the test");
                return nullptr;
            }
            return APMDatabase::openAtPath((folder.path() / "measurement.sql").string(), error,
                                           &dispatcher.virtualClock());
        };
        return config;
    }

    // Builds the engine (enabled) and runs its start.
    void start(bool enabled = true, bool deactivated = false) {
        engine = APMMeasurement::create(kAppID, enabled, deactivated, {}, configuration());
        ASSERT_TRUE(engine);
        dispatcher.drain();
    }

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

    // The start reports the first open (the events "_f" and "_e", the
    // properties "_fi" and "_fot") and arms the upload timer for them. Tests
    // of other behaviour that count stored rows begin from an empty store.
    void discardStartRecords() {
        APMError error;
        ASSERT_TRUE(engine->database()->reset(&error)) << error.text();
        engine->alarm()->cancel();
    }

    std::shared_ptr<APMPersistedConfig> persisted;
    std::shared_ptr<VULNetwork> network;
    APMServiceEndpoints endpoints;
    platform::NotificationCenter center;
    int failingOpens = 0;
    int openAttempts = 0;
    std::shared_ptr<APMMeasurement> engine;
};

}  // namespace engine_test
