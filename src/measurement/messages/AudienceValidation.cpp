#include "measurement/messages/AudienceValidation.h"

#include <algorithm>
#include <memory>
#include <string>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"

namespace {

constexpr long kAudienceError = 9;
constexpr long kEventFilterError = 10;
constexpr long kPropertyFilterError = 11;

bool refuse(APMError* error, long code, const char* description) {
    APMSetError(error, code, description);
    return false;
}

bool hasNonEmptyString(const NANOMessageBase& message, int slot) {
    std::optional<std::string> text = APMPBGetString(message, slot);
    return text && !text->empty();
}

// The refusal texts of one kind of filter.
struct FilterTexts {
    long code;
    const char* missingID;
    const char* idOutOfRange;
    const char* duplicateID;
    const char* notExactlyOneTest;
    const char* invalidNumberFilter;
    const char* invalidStringFilter;
};

constexpr FilterTexts kEventFilterTexts{kEventFilterError,
                                        "Missing event filter ID",
                                        "Event filter ID is out of range",
                                        "Duplicate event filter ID",
                                        "Event filter must have exactly one of number or string filter",
                                        "Event filter has invalid number filter",
                                        "Event filter has invalid string filter"};

constexpr FilterTexts kPropertyFilterTexts{kPropertyFilterError,
                                           "Missing property filter ID",
                                           "Property filter ID is out of range",
                                           "Duplicate property filter ID",
                                           "Property filter must have exactly one of number or string filter",
                                           "Property filter has invalid number filter",
                                           "Property filter has invalid string filter"};

// The filter ID at `slot`: present, in [0, maximum) and not seen before.
[[nodiscard]]
bool checkFilterID(const NANOMessageBase& filter, int slot, const APMAudienceLimits& limits,
                   std::set<std::int32_t>& seenIDs, const FilterTexts& texts, APMError* error) {
    if (!APMPBHasField(filter, slot)) {
        return refuse(error, texts.code, texts.missingID);
    }
    const std::int32_t filterID = APMPBGetInt32(filter, slot);
    if (filterID < 0 || filterID >= limits.maxFiltersPerAudience) {
        return refuse(error, texts.code, texts.idOutOfRange);
    }
    if (!seenIDs.insert(filterID).second) {
        return refuse(error, texts.code, texts.duplicateID);
    }
    return true;
}

// One value test: exactly one of a string and a number filter, and valid.
[[nodiscard]] bool checkValueTest(const APMPBFilter& test, const FilterTexts& texts, APMError* error) {
    auto stringFilter = APMPBGetMessage<APMPBStringFilter>(test, FilterSlot::StringFilter);
    auto numberFilter = APMPBGetMessage<APMPBNumberFilter>(test, FilterSlot::NumberFilter);
    if ((stringFilter == nullptr) == (numberFilter == nullptr)) {
        return refuse(error, texts.code, texts.notExactlyOneTest);
    }
    if (numberFilter != nullptr && !APMAudienceIsValidNumberFilter(*numberFilter)) {
        return refuse(error, texts.code, texts.invalidNumberFilter);
    }
    if (stringFilter != nullptr && !APMAudienceIsValidStringFilter(*stringFilter)) {
        return refuse(error, texts.code, texts.invalidStringFilter);
    }
    return true;
}

[[nodiscard]]
bool checkEventFilter(const APMPBEventFilter& filter, const APMAudienceLimits& limits,
                      std::set<std::int32_t>& seenIDs, APMError* error) {
    if (!hasNonEmptyString(filter, EventFilterSlot::EventName)) {
        return refuse(error, kEventFilterError, "Event filter missing event name");
    }
    if (!checkFilterID(filter, EventFilterSlot::FilterID, limits, seenIDs, kEventFilterTexts, error)) {
        return false;
    }
    if (auto countFilter = APMPBGetMessage<APMPBNumberFilter>(filter, EventFilterSlot::EventCountFilter)) {
        if (APMPBGetBool(*countFilter, NumberFilterSlot::MatchAsFloat)) {
            return refuse(error, kEventFilterError, "Event filter has float event count filter");
        }
        if (!APMAudienceIsValidNumberFilter(*countFilter)) {
            return refuse(error, kEventFilterError, "Event filter has invalid event count filter");
        }
    }
    const auto parameterFilters = APMPBGetMessages<APMPBFilter>(filter, EventFilterSlot::Filters);
    if (parameterFilters.size() > static_cast<std::size_t>(std::max(limits.maxParametersPerFilter, 0))) {
        return refuse(error, kEventFilterError, "Event filter parameters filters count out of range");
    }
    for (const auto& parameterFilter : parameterFilters) {
        if (!hasNonEmptyString(*parameterFilter, FilterSlot::ParamName)) {
            return refuse(error, kEventFilterError, "Event filter missing parameter name");
        }
        if (!checkValueTest(*parameterFilter, kEventFilterTexts, error)) {
            return false;
        }
    }
    return true;
}

[[nodiscard]]
bool checkPropertyFilter(const APMPBPropertyFilter& filter, const APMAudienceLimits& limits,
                         std::set<std::int32_t>& seenIDs, APMError* error) {
    if (!hasNonEmptyString(filter, PropertyFilterSlot::PropertyName)) {
        return refuse(error, kPropertyFilterError, "Property filter missing property name");
    }
    if (!checkFilterID(filter, PropertyFilterSlot::FilterID, limits, seenIDs, kPropertyFilterTexts, error)) {
        return false;
    }
    auto test = APMPBGetMessage<APMPBFilter>(filter, PropertyFilterSlot::Filter);
    if (test == nullptr) {
        return refuse(error, kPropertyFilterError, "Property filter has no filter");
    }
    return checkValueTest(*test, kPropertyFilterTexts, error);
}

}  // namespace

bool APMAudienceValidateAudience(const APMPBAudience& audience, const std::set<std::int32_t>& acceptedAudienceIDs,
                                 const APMAudienceLimits& limits, APMError* error) {
    if (!APMPBHasField(audience, AudienceSlot::AudienceID)) {
        return refuse(error, kAudienceError, "Missing audience ID");
    }
    const std::int32_t audienceID = APMPBGetInt32(audience, AudienceSlot::AudienceID);
    if (audienceID < 0) {
        return refuse(error, kAudienceError, "Audience ID is negative");
    }
    if (acceptedAudienceIDs.contains(audienceID)) {
        return refuse(error, kAudienceError, "Duplicate audience ID");
    }
    if (!APMPBHasField(audience, AudienceSlot::EventFilters) && !APMPBHasField(audience, AudienceSlot::PropertyFilters)) {
        return refuse(error, kAudienceError, "Audience missing filters arrays");
    }
    const auto eventFilters = APMPBGetMessages<APMPBEventFilter>(audience, AudienceSlot::EventFilters);
    const auto propertyFilters = APMPBGetMessages<APMPBPropertyFilter>(audience, AudienceSlot::PropertyFilters);
    const std::size_t filterCount = eventFilters.size() + propertyFilters.size();
    if (filterCount < 1 || filterCount > static_cast<std::size_t>(std::max(limits.maxFiltersPerAudience, 0))) {
        return refuse(error, kAudienceError, "Audience filter count out of range");
    }
    std::set<std::int32_t> eventFilterIDs;
    for (const auto& filter : eventFilters) {
        if (!checkEventFilter(*filter, limits, eventFilterIDs, error)) {
            return false;
        }
    }
    std::set<std::int32_t> propertyFilterIDs;
    for (const auto& filter : propertyFilters) {
        if (!checkPropertyFilter(*filter, limits, propertyFilterIDs, error)) {
            return false;
        }
    }
    return true;
}
