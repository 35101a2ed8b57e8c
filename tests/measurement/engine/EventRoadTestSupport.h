#pragma once
// Fixtures of the event-road tests: a started engine whose stored rows are
// read back through the message layer, error events recorded, and remote
// settings applied as a fetched configuration would be.

#include "EngineTestSupport.h"
#include "measurement/interface/APMErrorEventLogging.h"
#include "measurement/storage/APMValue.h"

namespace engine_test {

struct LoggedErrorEvent {
    std::string name;
    APMParameters parameters;
};

class EventRoadFixture : public EngineFixture {
protected:
    EventRoadFixture() {
        previousLogger = APMSetInternalEventLogger(
            [this](const std::string&, const std::string& name, const APMParameters& parameters) {
                errorEvents.push_back({name, parameters});
            });
    }
    ~EventRoadFixture() override { APMSetInternalEventLogger(previousLogger); }

    void SetUp() override { start(); }

    void applySettings(const std::vector<std::pair<std::string, std::string>>& settings,
                       std::shared_ptr<APMPBMeasurementConfig> config = nullptr) {
        if (!config) config = makeConfig(kAppID, settings);
        ASSERT_TRUE(engine->remoteConfigInstance()->updateMeasurementConfig(config));
    }

    // Logs a public app event through the engine's entry and runs the queue.
    void log(const std::string& name, APMObjectParameters parameters = {}, double timestamp = 0,
             const std::string& origin = "app", bool isPublic = true) {
        engine->logEventWithOrigin(origin, isPublic, name, std::move(parameters), timestamp ? timestamp : now(), true,
                                   false, false, nullptr, std::nullopt);
        dispatcher.drain();
    }

    // The stored raw events, decoded back through the message layer.
    std::vector<APMRawEventData> stored() {
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

    std::vector<std::string> storedNames() {
        std::vector<std::string> names;
        for (const auto& event : stored()) names.push_back(event.rawEvent.name());
        return names;
    }

    std::int64_t signalCount(const std::string& name, const std::string& metadata) {
        auto signals = engine->database()->consumeDiagnosticsSignals();
        std::int64_t count = 0;
        for (const auto& signal : signals.value.value_or(std::vector<APMDiagnosticsSignal>{})) {
            if (signal.signalName == name && signal.metadata == metadata) count += signal.count;
        }
        return count;
    }

    std::vector<std::int64_t> errorCodes() {
        std::vector<std::int64_t> codes;
        for (const auto& event : errorEvents) {
            if (const APMValue* code = event.parameters.find("_err")) codes.push_back(code->int64Value());
        }
        return codes;
    }

    std::vector<LoggedErrorEvent> errorEvents;
    APMInternalEventLogger previousLogger;
};

// The same, started without the records of the first open.
class EventRoadAfterStartFixture : public EventRoadFixture {
protected:
    void SetUp() override {
        start();
        discardStartRecords();
    }
};

}  // namespace engine_test
