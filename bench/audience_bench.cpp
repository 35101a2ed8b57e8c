// Bundling 10,000 stored events (ten bundles of 1,000, each in one
// transaction: the event's aggregates read, counted and saved, its wire
// message built, the bundle encoded) with 50 audiences of 5 filters each
// evaluated on the way, against the same bundling without audiences. Prints
// the ratio of the two.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "TimesReporter.h"

#include "measurement/audiences/APMAudience.h"
#include "measurement/audiences/APMAudienceBundlePass.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMWireStoredMessageCodec.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMStoredMessageCodec.h"

namespace {

constexpr int kEvents = 10000;
constexpr int kEventsPerBundle = 1000;
constexpr int kAudiences = 50;
constexpr int kEventNames = 20;
constexpr int kUserProperties = 5;

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

struct StoredEvent {
    std::string name;
    APMParameters parameters;
    double timestamp;
};

const std::vector<StoredEvent>& storedEvents() {
    static const std::vector<StoredEvent> events = [] {
        std::vector<StoredEvent> made;
        for (int index = 0; index < kEvents; ++index) {
            made.push_back({eventName(index),
                            {{"value", APMValue(std::int64_t{index % 200})},
                             {"level", APMValue(index % 3 ? "gold_tier" : "silver")},
                             {"_o", APMValue("app")}},
                            1.7e9 + index});
        }
        return made;
    }();
    return events;
}

std::vector<std::shared_ptr<APMPBUserAttribute>> userProperties() {
    std::vector<std::shared_ptr<APMPBUserAttribute>> properties;
    for (int index = 0; index < kUserProperties; ++index) {
        auto property = APMPBUserAttribute::initWithMessageInfo(nullptr);
        APMPBSetString(*property, UserAttributeSlot::Name, "property_" + std::to_string(index));
        APMPBSetInt64(*property, UserAttributeSlot::SetTimestamp, 1'700'000'000'000);
        APMPBSetInt64(*property, UserAttributeSlot::IntValue, index * 10);
        properties.push_back(property);
    }
    return properties;
}

std::shared_ptr<APMPBEvent> wireEvent(const StoredEvent& event) {
    auto message = APMPBEvent::initWithMessageInfo(nullptr);
    APMPBSetString(*message, EventSlot::Name, event.name);
    APMPBSetInt64(*message, EventSlot::Timestamp, static_cast<std::int64_t>(event.timestamp * 1000));
    std::vector<std::shared_ptr<APMPBEventParam>> parameters;
    for (const auto& [name, value] : event.parameters) {
        auto parameter = APMPBEventParam::initWithMessageInfo(nullptr);
        APMPBSetString(*parameter, EventParamSlot::Name, name);
        if (const std::string* text = value.stringValue()) {
            APMPBSetString(*parameter, EventParamSlot::StringValue, *text);
        } else {
            APMPBSetInt64(*parameter, EventParamSlot::IntValue, value.int64Value());
        }
        parameters.push_back(parameter);
    }
    APMPBSetArray(*message, EventSlot::Params, APMPBArrayOfMessages(parameters));
    return message;
}

std::string databasePath() {
    static const auto folder = [] {
        auto path = std::filesystem::temp_directory_path() / ("audience-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return (folder / "vadova-app-measurement.sql").string();
}

// One run over a fresh database; false when a step failed.
bool bundleEvents(APMDatabase& database, APMAudience* audience) {
    const auto& events = storedEvents();
    const auto properties = userProperties();
    for (int start = 0; start < kEvents; start += kEventsPerBundle) {
        const bool committed = database.performTransaction([&] {
            auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
            std::optional<APMAudienceBundlePass> pass;
            if (audience) pass.emplace(*audience);
            if (pass && start == 0 && !pass->startSession(properties)) return false;
            std::vector<std::shared_ptr<APMPBEvent>> wire;
            for (int index = start; index < start + kEventsPerBundle; ++index) {
                const StoredEvent& event = events[static_cast<std::size_t>(index)];
                auto aggregates = database.eventAggregatesWithName(event.name);
                if (aggregates.failed()) return false;
                if (aggregates.value) {
                    aggregates.value->incrementCurrentBundleCount();
                    aggregates.value->incrementLifetimeCount();
                    aggregates.value->incrementCurrentSessionCount();
                    aggregates.value->lastFireTimestamp = event.timestamp;
                } else {
                    aggregates.value.emplace(event.name, 1, 1, 1, event.timestamp);
                }
                if (!database.updateEventAggregates(*aggregates.value, nullptr)) return false;
                if (pass && !pass->evaluateEvent(event.name, event.parameters, event.timestamp, *aggregates.value)) {
                    return false;
                }
                wire.push_back(wireEvent(event));
            }
            APMPBSetArray(*bundle, MeasurementBundleSlot::Events, APMPBArrayOfMessages(wire));
            if (pass && !pass->finish(properties, events[static_cast<std::size_t>(start)].timestamp, *bundle)) {
                return false;
            }
            auto encoded = bundle->protoBuffer();
            benchmark::DoNotOptimize(encoded);
            return encoded.has_value();
        });
        if (!committed) return false;
    }
    return true;
}

void runBundling(benchmark::State& state, bool withAudiences) {
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(databasePath());
        APMError error;
        std::shared_ptr<APMDatabase> database(APMDatabase::openAtPath(databasePath(), &error));
        std::unique_ptr<APMAudience> audience;
        if (database && withAudiences) {
            audience = std::make_unique<APMAudience>(database);
            if (!audience->updateAudiences(definitions())) database.reset();
        }
        state.ResumeTiming();
        if (!database || !bundleEvents(*database, audience.get())) {
            state.SkipWithError("bundling failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * kEvents);
}

void BundlingWithoutAudiences(benchmark::State& state) { runBundling(state, false); }
void BundlingWithAudiences(benchmark::State& state) { runBundling(state, true); }

BENCHMARK(BundlingWithoutAudiences)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BundlingWithAudiences)->Unit(benchmark::kMillisecond)->Iterations(3);

void printRatios(const TimesReporter::Times& times) {
    const auto with = times.find("BundlingWithAudiences/iterations:3");
    const auto without = times.find("BundlingWithoutAudiences/iterations:3");
    if (with != times.end() && without != times.end() && without->second > 0) {
        std::printf("Ratio, bundling with 50 audiences / without: %.2f\n", with->second / without->second);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    APMStoredMessageCodec::install(std::make_shared<APMWireStoredMessageCodec>());
    // Refusals the definitions provoke on purpose (missing parameters) are
    // not what is measured.
    APMMonitor::Options options;
    options.sink = [](const std::string&) {};
    APMMonitor::resetSharedForTesting(std::make_shared<APMMonitor>(options));
    TimesReporter reporter(printRatios);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::filesystem::remove_all(std::filesystem::path(databasePath()).parent_path());
    return 0;
}
