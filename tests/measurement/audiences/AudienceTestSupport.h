#pragma once
// Fixtures of the audience tests: builders of definition messages, a real
// measurement database in a private folder with the wire codec the engine
// installs, and the monitor's lines.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "measurement/audiences/APMAudience.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMWireStoredMessageCodec.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMStoredMessageCodec.h"
#include "measurement/storage/StorageTestSupport.h"

namespace audience_test {

inline std::shared_ptr<APMPBNumberFilter> numberFilter(std::int32_t type, std::optional<std::string> value,
                                                       std::optional<std::string> minimum = std::nullopt,
                                                       std::optional<std::string> maximum = std::nullopt) {
    auto filter = APMPBNumberFilter::initWithMessageInfo(nullptr);
    APMPBSetInt32(*filter, NumberFilterSlot::ComparisonType, type);
    APMPBSetString(*filter, NumberFilterSlot::ComparisonValue, value);
    APMPBSetString(*filter, NumberFilterSlot::MinComparisonValue, minimum);
    APMPBSetString(*filter, NumberFilterSlot::MaxComparisonValue, maximum);
    return filter;
}

inline std::shared_ptr<APMPBNumberFilter> between(const std::string& minimum, const std::string& maximum) {
    return numberFilter(4, std::nullopt, minimum, maximum);
}

inline std::shared_ptr<APMPBStringFilter> stringFilter(std::int32_t type, const std::string& expression,
                                                       bool caseSensitive = false,
                                                       const std::vector<std::string>& list = {}) {
    auto filter = APMPBStringFilter::initWithMessageInfo(nullptr);
    APMPBSetInt32(*filter, StringFilterSlot::MatchType, type);
    if (type != 6) APMPBSetString(*filter, StringFilterSlot::Expression, expression);
    APMPBSetBool(*filter, StringFilterSlot::CaseSensitive, caseSensitive);
    if (!list.empty()) APMPBSetArray(*filter, StringFilterSlot::ExpressionList, APMPBArray(list.begin(), list.end()));
    return filter;
}

// A value test; `parameter` names the event parameter it reads.
inline std::shared_ptr<APMPBFilter> test(std::shared_ptr<APMPBNumberFilter> number,
                                         std::shared_ptr<APMPBStringFilter> text = nullptr,
                                         std::optional<std::string> parameter = std::nullopt, bool complement = false) {
    auto filter = APMPBFilter::initWithMessageInfo(nullptr);
    if (number) APMPBSetMessage(*filter, FilterSlot::NumberFilter, number.get());
    if (text) APMPBSetMessage(*filter, FilterSlot::StringFilter, text.get());
    APMPBSetString(*filter, FilterSlot::ParamName, parameter);
    if (complement) APMPBSetBool(*filter, FilterSlot::Complement, true);
    return filter;
}

struct Kinds {
    bool dynamic = false;
    bool sequence = false;
    bool sessionScoped = false;
};

inline std::shared_ptr<APMPBEventFilter> eventFilter(std::int32_t filterID, const std::string& eventName,
                                                     std::vector<std::shared_ptr<APMPBFilter>> parameters = {},
                                                     std::shared_ptr<APMPBNumberFilter> count = nullptr,
                                                     Kinds kinds = {}) {
    auto filter = APMPBEventFilter::initWithMessageInfo(nullptr);
    APMPBSetInt32(*filter, EventFilterSlot::FilterID, filterID);
    APMPBSetString(*filter, EventFilterSlot::EventName, eventName);
    if (!parameters.empty()) APMPBSetArray(*filter, EventFilterSlot::Filters, APMPBArrayOfMessages(parameters));
    if (count) APMPBSetMessage(*filter, EventFilterSlot::EventCountFilter, count.get());
    if (kinds.dynamic) APMPBSetBool(*filter, EventFilterSlot::Dynamic, true);
    if (kinds.sequence) APMPBSetBool(*filter, EventFilterSlot::Sequence, true);
    if (kinds.sessionScoped) APMPBSetBool(*filter, EventFilterSlot::SessionScoped, true);
    return filter;
}

inline std::shared_ptr<APMPBPropertyFilter> propertyFilter(std::int32_t filterID, const std::string& propertyName,
                                                           std::shared_ptr<APMPBFilter> value, Kinds kinds = {}) {
    auto filter = APMPBPropertyFilter::initWithMessageInfo(nullptr);
    APMPBSetInt32(*filter, PropertyFilterSlot::FilterID, filterID);
    APMPBSetString(*filter, PropertyFilterSlot::PropertyName, propertyName);
    if (value) APMPBSetMessage(*filter, PropertyFilterSlot::Filter, value.get());
    if (kinds.dynamic) APMPBSetBool(*filter, PropertyFilterSlot::Dynamic, true);
    if (kinds.sequence) APMPBSetBool(*filter, PropertyFilterSlot::Sequence, true);
    if (kinds.sessionScoped) APMPBSetBool(*filter, PropertyFilterSlot::SessionScoped, true);
    return filter;
}

inline std::shared_ptr<APMPBAudience> audience(std::optional<std::int32_t> audienceID,
                                               std::vector<std::shared_ptr<APMPBEventFilter>> events,
                                               std::vector<std::shared_ptr<APMPBPropertyFilter>> properties = {}) {
    auto message = APMPBAudience::initWithMessageInfo(nullptr);
    if (audienceID) APMPBSetInt32(*message, AudienceSlot::AudienceID, *audienceID);
    if (!events.empty()) APMPBSetArray(*message, AudienceSlot::EventFilters, APMPBArrayOfMessages(events));
    if (!properties.empty()) {
        APMPBSetArray(*message, AudienceSlot::PropertyFilters, APMPBArrayOfMessages(properties));
    }
    return message;
}

inline std::shared_ptr<APMPBUserAttribute> nanoProperty(const std::string& name, double setSeconds,
                                                        std::optional<std::string> text,
                                                        std::optional<std::int64_t> integer = std::nullopt) {
    auto message = APMPBUserAttribute::initWithMessageInfo(nullptr);
    APMPBSetString(*message, UserAttributeSlot::Name, name);
    APMPBSetInt64(*message, UserAttributeSlot::SetTimestamp, static_cast<std::int64_t>(setSeconds * 1000));
    if (text) APMPBSetString(*message, UserAttributeSlot::StringValue, *text);
    if (integer) APMPBSetInt64(*message, UserAttributeSlot::IntValue, *integer);
    return message;
}

// A real database with the audience evaluator over it.
class AudienceDatabaseTest : public ::testing::Test {
protected:
    AudienceDatabaseTest() {
        APMStoredMessageCodec::install(std::make_shared<APMWireStoredMessageCodec>());
        APMError error;
        // Each test runs in a process with a private temporary folder.
        const auto path = std::filesystem::temp_directory_path() / "audience-measurement.sql";
        std::filesystem::remove(path);
        database = std::shared_ptr<APMDatabase>(APMDatabase::openAtPath(path.string(), &error));
        EXPECT_NE(database, nullptr) << error.text();
        audiences = std::make_unique<APMAudience>(database, [this] { return settings; });
    }
    ~AudienceDatabaseTest() override { APMStoredMessageCodec::install(nullptr); }

    // Stores the definitions, which must be accepted by the database.
    void define(std::vector<std::shared_ptr<APMPBAudience>> definitions) {
        ASSERT_TRUE(audiences->updateAudiences(definitions));
    }
    std::optional<APMFilterResult> storedResult(std::int32_t audienceID) {
        return database->filterResultForAudienceID(audienceID).value;
    }
    APMAudienceResultData currentData(std::int32_t audienceID) {
        auto result = storedResult(audienceID);
        if (!result) return {};
        return APMAudienceResultData::decode(result->currentResults).value_or(APMAudienceResultData{});
    }
    bool isTrue(std::int32_t audienceID, std::int32_t filterID) {
        return APMAudience::isFilterResult(storedResult(audienceID), filterID);
    }
    // Whether the filter has been evaluated (its status bit).
    bool isEvaluated(std::int32_t audienceID, std::int32_t filterID) {
        auto data = currentData(audienceID);
        auto word = static_cast<std::size_t>(filterID / 64);
        return word < data.status.size() && ((data.status[word] >> (filterID % 64)) & 1U) != 0;
    }
    bool logEvent(const std::string& name, APMParameters parameters = {}, double timestamp = 100,
                  std::int64_t lifetimeCount = 1, std::int64_t sessionCount = 1,
                  APMAudienceTimestampsCache* cache = nullptr) {
        APMEventAggregates aggregates(name, lifetimeCount, 1, sessionCount, timestamp);
        return audiences->evaluateFiltersForEventName(name, parameters, &aggregates, timestamp, cache);
    }
    bool setProperty(const std::string& name, APMValue value, double timestamp = 100,
                     APMAudienceTimestampsCache* cache = nullptr) {
        return audiences->evaluateFiltersForUserProperty(APMUserAttribute("app", name, std::move(value), timestamp),
                                                         cache, timestamp);
    }

    storage_test::MonitorCapture monitor;
    APMAudienceSettings settings;
    std::shared_ptr<APMDatabase> database;
    std::unique_ptr<APMAudience> audiences;
};

}  // namespace audience_test
