// The engine's own bundling (bundleRawEvents until the store is empty) of
// 10,000 stored events with the real audience evaluator plugged into the
// engine's audience hook and 50 audiences of 5 filters each stored, against
// the same engine without an audience evaluator. Prints the ratio of the two
// on its last line.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchFolder.h"
#include "TimesReporter.h"

#include "VadovaUtilities/VULMainBundle.h"
#include "measurement/engine/APMEngineSubsystems.h"
#include "measurement/engine/APMEngineWiring.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMWireStoredMessageCodec.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMStoredMessageCodec.h"
#include "platform/core/DeterministicDispatch.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/PropertyList.h"
#include "platform/core/UserDefaults.h"

namespace {

constexpr int kEvents = 10000;
constexpr int kAudiences = 50;
constexpr int kEventNames = 20;
constexpr int kUserProperties = 5;
// Runs per side: the disk makes single runs vary by a third on a busy machine.
constexpr int kIterations = 5;

std::string eventName(int index) { return "event_" + std::to_string(index % kEventNames); }

std::shared_ptr<APMPBFilter> parameterTest(const std::string& parameter, std::shared_ptr<APMPBNumberFilter> number,
                                           std::shared_ptr<APMPBStringFilter> text) {
    auto filter = APMPBFilter::initWithMessageInfo(nullptr);
    if (number) APMPBSetMessage(*filter, FilterSlot::NumberFilter, number.get());
    if (text) APMPBSetMessage(*filter, FilterSlot::StringFilter, text.get());
    APMPBSetString(*filter, FilterSlot::ParamName, parameter);
    return filter;
}

std::shared_ptr<APMPBNumberFilter> greaterThan(const std::string& bound) {
    auto filter = APMPBNumberFilter::initWithMessageInfo(nullptr);
    APMPBSetInt32(*filter, NumberFilterSlot::ComparisonType, 2);
    APMPBSetString(*filter, NumberFilterSlot::ComparisonValue, bound);
    return filter;
}

std::shared_ptr<APMPBStringFilter> beginsWith(const std::string& prefix) {
    auto filter = APMPBStringFilter::initWithMessageInfo(nullptr);
    APMPBSetInt32(*filter, StringFilterSlot::MatchType, 2);
    APMPBSetString(*filter, StringFilterSlot::Expression, prefix);
    return filter;
}

// Audience n: four event filters on event names n, n+5, n+10, n+15 (a count
// filter, a number and a string parameter test, half of them dynamic) and
// one property filter.
std::vector<std::shared_ptr<APMPBAudience>> definitions() {
    std::vector<std::shared_ptr<APMPBAudience>> audiences;
    for (int id = 0; id < kAudiences; ++id) {
        std::vector<std::shared_ptr<APMPBEventFilter>> events;
        for (int filterID = 0; filterID < 4; ++filterID) {
            auto filter = APMPBEventFilter::initWithMessageInfo(nullptr);
            APMPBSetInt32(*filter, EventFilterSlot::FilterID, filterID);
            APMPBSetString(*filter, EventFilterSlot::EventName, eventName(id + 5 * filterID));
            APMPBSetMessage(*filter, EventFilterSlot::EventCountFilter, greaterThan(std::to_string(id % 7)).get());
            std::vector<std::shared_ptr<APMPBFilter>> tests{
                parameterTest("value", greaterThan(std::to_string(id * 3)), nullptr),
                parameterTest("level", nullptr, beginsWith(filterID % 2 ? "gold" : "Silver"))};
            APMPBSetArray(*filter, EventFilterSlot::Filters, APMPBArrayOfMessages(tests));
            APMPBSetBool(*filter, EventFilterSlot::Dynamic, (id + filterID) % 2 == 0);
            events.push_back(filter);
        }
        auto property = APMPBPropertyFilter::initWithMessageInfo(nullptr);
        APMPBSetInt32(*property, PropertyFilterSlot::FilterID, 4);
        APMPBSetString(*property, PropertyFilterSlot::PropertyName, "property_" + std::to_string(id % kUserProperties));
        APMPBSetMessage(*property, PropertyFilterSlot::Filter,
                        parameterTest("unused", greaterThan(std::to_string(id)), nullptr).get());
        auto audience = APMPBAudience::initWithMessageInfo(nullptr);
        APMPBSetInt32(*audience, AudienceSlot::AudienceID, id);
        APMPBSetArray(*audience, AudienceSlot::EventFilters, APMPBArrayOfMessages(events));
        APMPBSetArray(*audience, AudienceSlot::PropertyFilters,
                      APMPBArrayOfMessages(std::vector<std::shared_ptr<APMPBPropertyFilter>>{property}));
        audiences.push_back(audience);
    }
    return audiences;
}

// The main bundle has an identifier: the queue takes only bundles with an app ID.
void writeMainBundle() {
    const auto resources = benchFolder() / "bundle";
    std::filesystem::create_directories(resources);
    const auto info = platform::serializePropertyList(
        platform::PropertyValue(platform::PropertyDictionary{{"CFBundleIdentifier", platform::PropertyValue("org.mossbridge.bench")}}),
        platform::PropertyListFormat::Xml);
    std::ofstream(resources / "Info.plist", std::ios::binary) << std::string(info->begin(), info->end());
    VULMainBundle::setResourcesDirectory(resources);
}

// An engine over a fresh folder holding the 10,000 raw events and the user
// properties, with the real audience evaluator and the definitions when
// `withAudiences`.
class StoredEngine {
public:
    explicit StoredEngine(bool withAudiences) {
        folder_ = benchFolder() / (withAudiences ? "with" : "without");
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        persisted_ = std::make_shared<APMPersistedConfig>(
            std::make_shared<platform::UserDefaults>("bench", folder_ / "defaults"));
        APMMeasurementConfiguration config;
        config.dispatcher = &dispatcher_;
        config.persistedConfig = persisted_;
        config.makeNetwork = false;
        config.endpoints = APMServiceEndpoints{};
        config.notificationCenter = &center_;
        config.uptime = [this] { return dispatcher_.virtualClock().uptime(); };
        config.measurementDirectory = folder_.string();
        config.identity = [this] { return APMIdentity::create(dispatcher_, persisted_, nullptr, nullptr); };
        const std::string path = (folder_ / "measurement.sql").string();
        config.openDatabase = [this, path](const std::string&, APMError* error) {
            return APMDatabase::openAtPath(path, error, &dispatcher_.virtualClock());
        };
        if (withAudiences) APMInstallAudienceEvaluator(config);
        engine_ = APMMeasurement::create("1:1234:macos:abcd", true, false, {}, std::move(config));
        dispatcher_.drain();
        if (!engine_ || !engine_->database()) return;
        const auto database = engine_->database();
        APMError error;
        if (!database->reset(&error)) return;  // without the start's own records
        engine_->alarm()->cancel();
        if (withAudiences && !engine_->audience()->updateAudiences(definitions())) return;
        for (int index = 0; index < kUserProperties; ++index) {
            if (!database->updateUserAttribute(APMUserAttribute("app", "property_" + std::to_string(index),
                                                                APMValue(std::int64_t{index * 10}), 1.7e9),
                                               &error)) {
                return;
            }
        }
        for (int index = 0; index < kEvents; ++index) {
            engine_->logEventOnWorkerQueueWithOrigin(
                "app", true, eventName(index),
                APMObjectParameters{{"value", platform::PropertyValue(static_cast<long long>(index % 200))},
                                    {"level", platform::PropertyValue(index % 3 ? "gold_tier" : "silver")}},
                1.7e9 + index * 0.1, true, false, false, nullptr, std::nullopt);
        }
        dispatcher_.drain();
        auto rows = database->allRawEvents();
        ready_ = rows.value && rows.value->size() == static_cast<std::size_t>(kEvents);
    }
    ~StoredEngine() {
        engine_.reset();
        dispatcher_.drain();
        std::filesystem::remove_all(folder_);
    }

    bool ready() const { return ready_; }
    // The number of audiences with a stored result.
    std::size_t evaluatedAudiences() {
        auto results = engine_->database()->allFilterResults();
        return results.value ? results.value->size() : 0;
    }
    // Bundles until no raw event is left; false when a bundle failed.
    bool bundleAll() {
        while (engine_->bundleRawEvents()) {
        }
        auto left = engine_->database()->allRawEvents();
        return left.value && left.value->empty();
    }

private:
    std::filesystem::path folder_;
    platform::DeterministicDispatcher dispatcher_{1.7e9};
    platform::NotificationCenter center_;
    std::shared_ptr<APMPersistedConfig> persisted_;
    std::shared_ptr<APMMeasurement> engine_;
    bool ready_ = false;
};

void runBundling(benchmark::State& state, bool withAudiences) {
    for (auto _ : state) {
        state.PauseTiming();
        auto stored = std::make_unique<StoredEngine>(withAudiences);
        if (!stored->ready()) {
            state.SkipWithError("storing the events failed");
            return;
        }
        state.ResumeTiming();
        if (!stored->bundleAll()) {
            state.SkipWithError("bundling failed");
            return;
        }
        state.PauseTiming();
        if (withAudiences && stored->evaluatedAudiences() == 0) {
            state.SkipWithError("no audience was evaluated");
            return;
        }
        state.counters["audiences"] = static_cast<double>(stored->evaluatedAudiences());
        stored.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kEvents);
}

void BundlingWithoutAudiences(benchmark::State& state) { runBundling(state, false); }
void BundlingWithAudiences(benchmark::State& state) { runBundling(state, true); }

BENCHMARK(BundlingWithoutAudiences)->Unit(benchmark::kMillisecond)->Iterations(kIterations);
BENCHMARK(BundlingWithAudiences)->Unit(benchmark::kMillisecond)->Iterations(kIterations);

void printRatio(const TimesReporter::Times& times) {
    const auto with = times.find("BundlingWithAudiences/iterations:" + std::to_string(kIterations));
    const auto without = times.find("BundlingWithoutAudiences/iterations:" + std::to_string(kIterations));
    if (with != times.end() && without != times.end() && without->second > 0) {
        std::printf("Ratio, engine bundling with 50 audiences / without: %.2f\n", with->second / without->second);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    APMStoredMessageCodec::install(std::make_shared<APMWireStoredMessageCodec>());
    // Refusals the definitions provoke on purpose (missing parameters) and
    // the engine's own lines are not what is measured.
    APMMonitor::Options options;
    options.sink = [](const std::string&) {};
    APMMonitor::resetSharedForTesting(std::make_shared<APMMonitor>(options));
    writeMainBundle();
    TimesReporter reporter(printRatio);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    VULMainBundle::setResourcesDirectory(std::nullopt);
    std::filesystem::remove_all(benchFolder());
    return 0;
}
