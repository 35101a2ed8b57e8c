#include "measurement/audiences/APMAudienceFilterEvaluation.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

#include <unicode/uchar.h>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/AudienceValidation.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/storage/APMDecimalNumber.h"
#include "measurement/storage/APMMonitor.h"

namespace {

enum ComparisonType : std::int32_t { kLessThan = 1, kGreaterThan = 2, kEqual = 3, kBetween = 4 };
enum MatchType : std::int32_t {
    kRegularExpression = 1,
    kBeginsWith = 2,
    kEndsWith = 3,
    kContains = 4,
    kExact = 5,
    kInList = 6,
};

void log(int level, long code, std::string_view message) { APMMonitor::shared()->log(level, code, message); }

template <typename... Contexts>
void log(int level, long code, std::string_view message, const Contexts&... contexts) {
    APMMonitor::shared()->log(level, code, message, APMLogContext(contexts)...);
}

std::string filterDescription(const NANOMessageBase& filter) {
    auto bytes = filter.protoBuffer();
    return filter.className() + " (" + std::to_string(bytes ? bytes->length() : 0) + " bytes)";
}

// Orders `value` against the bounds as the comparison type says.
template <typename Number>
bool compareAs(std::int32_t type, const Number& value, const Number& bound, const Number& minimum,
               const Number& maximum) {
    switch (type) {
    case kLessThan: return value < bound;
    case kGreaterThan: return bound < value;
    case kEqual: return value == bound;
    default: return minimum <= value && value <= maximum;
    }
}

// The nearest double of a plain decimal text, read locale-independently with
// an optional leading sign; none when the text is no such number.
std::optional<double> doubleFromDecimalText(const std::optional<std::string>& text) {
    if (!text || !APMIsDecimalNumberString(*text)) return std::nullopt;
    const char* first = text->data();
    const char* last = first + text->size();
    if (*first == '+') ++first;
    double value = 0;
    auto parsed = std::from_chars(first, last, value, std::chars_format::fixed);
    if (parsed.ec != std::errc() || parsed.ptr != last) return std::nullopt;
    return value;
}

// Two steps to each side of `bound`: the bound and its two nearest
// neighbours count as equal.
bool equalWithinTwoSteps(double value, double bound) {
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const double below = std::nextafter(std::nextafter(bound, -kInfinity), -kInfinity);
    const double above = std::nextafter(std::nextafter(bound, kInfinity), kInfinity);
    return below < value && value < above;
}

icu::UnicodeString folded(const std::string& text) {
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(text);
    unicode.foldCase(U_FOLD_CASE_DEFAULT);
    return unicode;
}

// An empty expression is found nowhere, as a platform string search finds it.
bool matchesCaseSensitive(std::int32_t type, const std::string& value, const std::string& expression) {
    switch (type) {
    case kBeginsWith: return !expression.empty() && value.starts_with(expression);
    case kEndsWith: return !expression.empty() && value.ends_with(expression);
    case kContains: return !expression.empty() && value.find(expression) != std::string::npos;
    default: return value == expression;
    }
}

bool matchesCaseInsensitive(std::int32_t type, const std::string& value, const icu::UnicodeString& foldedValue,
                            const std::string& expression, const icu::UnicodeString& foldedExpression) {
    if (expression.empty()) return type == kExact && value.empty();
    switch (type) {
    case kBeginsWith: return foldedValue.startsWith(foldedExpression);
    case kEndsWith: return foldedValue.endsWith(foldedExpression);
    case kContains: return foldedValue.indexOf(foldedExpression) >= 0;
    default:
        // The whole texts match and have the same length in UTF-16 units.
        return foldedValue == foldedExpression &&
               icu::UnicodeString::fromUTF8(value).length() == icu::UnicodeString::fromUTF8(expression).length();
    }
}

APMAudienceVerdict evaluateNumber(const std::optional<APMAudiencePreparedNumberFilter>& filter,
                                  const APMAudienceDecimal& value) {
    if (!filter) return std::nullopt;
    return compareAs(filter->comparisonType, value, filter->value, filter->minimum, filter->maximum);
}

APMAudienceVerdict evaluateNumber(const std::optional<APMAudiencePreparedNumberFilter>& filter, double value) {
    if (!filter) return std::nullopt;
    if (filter->comparisonType == kEqual) return equalWithinTwoSteps(value, filter->doubleValue);
    return compareAs(filter->comparisonType, value, filter->doubleValue, filter->doubleMinimum,
                     filter->doubleMaximum);
}

APMAudienceVerdict evaluateString(const std::optional<APMAudiencePreparedStringFilter>& filter,
                                  const std::string* value, APMAudienceRegexBudget* budget = nullptr) {
    if (value == nullptr) {
        log(1, 9005, "Evaluation string is nil. Audience filter will not be evaluated");
        return std::nullopt;
    }
    if (!filter) {
        log(1, 9006, "String filter is invalid. Audience filter will not be evaluated");
        return std::nullopt;
    }
    const std::int32_t type = filter->matchType;
    if (type == kRegularExpression) {
        if (!filter->regex) {
            log(1, 9008, "Parsed regex is nil. Audience filter will not be evaluated");
            return std::nullopt;
        }
        platform::RegexError error;
        bool matched = false;
        const auto search = [&] { matched = filter->regex->firstMatch(*value, error).has_value(); };
        if (!budget) {
            search();
        } else if (!budget->run(search)) {
            return std::nullopt;  // the bundle's time for regular expressions is spent
        }
        if (error) {
            // The pattern comes from outside: a search that hit the engine's
            // time or stack limit decides nothing.
            log(1, 9007, "Regular expression evaluation exceeded its limits. Audience filter will not be evaluated",
                error.message);
            return std::nullopt;
        }
        return matched;
    }
    if (type < kRegularExpression || type > kInList) return false;
    const bool listed = type == kInList;
    const std::int32_t comparison = listed ? kExact : type;
    if (filter->caseSensitive) {
        if (!listed) return matchesCaseSensitive(comparison, *value, filter->expression);
        for (const std::string& entry : filter->expressionList) {
            if (matchesCaseSensitive(kExact, *value, entry)) return true;
        }
        return false;
    }
    const icu::UnicodeString foldedValue = folded(*value);
    if (!listed) {
        return matchesCaseInsensitive(comparison, *value, foldedValue, filter->expression, filter->foldedExpression);
    }
    for (std::size_t index = 0; index < filter->expressionList.size(); ++index) {
        if (matchesCaseInsensitive(kExact, *value, foldedValue, filter->expressionList[index],
                                   filter->foldedExpressionList[index])) {
            return true;
        }
    }
    return false;
}

}  // namespace

// --- Preparing ----------------------------------------------------------------

APMAudienceComparisonValues APMAudienceParseComparisonValues(const APMPBNumberFilter& filter) {
    APMAudienceComparisonValues values;
    values.valid = true;
    if (APMPBGetInt32(filter, NumberFilterSlot::ComparisonType) != kBetween) {
        std::optional<std::string> text = APMPBGetString(filter, NumberFilterSlot::ComparisonValue);
        if (!text) {
            log(1, 8001, "Number filter has no comparison value");
            values.valid = false;
        } else if (!(values.comparisonValue = APMAudienceDecimal::fromString(*text))) {
            log(1, 8002, "Number filter comparison value is not a number", *text);
            values.valid = false;
        }
        return values;
    }
    std::optional<std::string> minimum = APMPBGetString(filter, NumberFilterSlot::MinComparisonValue);
    std::optional<std::string> maximum = APMPBGetString(filter, NumberFilterSlot::MaxComparisonValue);
    if (!minimum || !maximum) {
        log(1, 8003, "Number filter does not have both min and max comparison values");
        values.valid = false;
        return values;
    }
    if (!(values.minComparisonValue = APMAudienceDecimal::fromString(*minimum))) {
        log(1, 8004, "Number filter min comparison value is not a number", *minimum);
        values.valid = false;
    }
    if (!(values.maxComparisonValue = APMAudienceDecimal::fromString(*maximum))) {
        log(1, 8005, "Number filter max comparison value is not a number", *maximum);
        values.valid = false;
    }
    return values;
}

std::optional<APMAudiencePreparedNumberFilter> APMAudiencePrepareNumberFilter(const APMPBNumberFilter& filter) {
    if (!APMAudienceIsValidNumberFilter(filter)) return std::nullopt;
    const APMAudienceComparisonValues values = APMAudienceParseComparisonValues(filter);
    if (!values.isValid()) {
        log(1, 8015, "Parsed decimal number comparison values are not valid. Audience filter will not be evaluated. "
                     "Filter",
            filterDescription(filter));
        return std::nullopt;
    }
    APMAudiencePreparedNumberFilter prepared;
    prepared.comparisonType = APMPBGetInt32(filter, NumberFilterSlot::ComparisonType);
    std::optional<double> bound, minimum, maximum;
    if (prepared.comparisonType == kBetween) {
        prepared.minimum = *values.minComparisonValue;
        prepared.maximum = *values.maxComparisonValue;
        minimum = doubleFromDecimalText(APMPBGetString(filter, NumberFilterSlot::MinComparisonValue));
        maximum = doubleFromDecimalText(APMPBGetString(filter, NumberFilterSlot::MaxComparisonValue));
    } else {
        prepared.value = *values.comparisonValue;
        bound = doubleFromDecimalText(APMPBGetString(filter, NumberFilterSlot::ComparisonValue));
    }
    if (prepared.comparisonType == kBetween ? !(minimum && maximum) : !bound) {
        log(1, 8012, "Number filter is invalid, the comparison filter is not valid. Audience filter will not be "
                     "evaluated");
        return std::nullopt;
    }
    prepared.doubleValue = bound.value_or(0);
    prepared.doubleMinimum = minimum.value_or(0);
    prepared.doubleMaximum = maximum.value_or(0);
    return prepared;
}

std::optional<APMAudiencePreparedStringFilter> APMAudiencePrepareStringFilter(const APMPBStringFilter& filter) {
    APMAudiencePreparedStringFilter prepared;
    if (!APMAudienceIsValidStringFilter(filter, &prepared.regex)) return std::nullopt;
    prepared.matchType = APMPBGetInt32(filter, StringFilterSlot::MatchType);
    prepared.caseSensitive = APMPBGetBool(filter, StringFilterSlot::CaseSensitive);
    prepared.expression = APMPBGetString(filter, StringFilterSlot::Expression).value_or("");
    prepared.foldedExpression = folded(prepared.expression);
    for (const APMPBObject& entry : APMPBGetArray(filter, StringFilterSlot::ExpressionList).value_or(APMPBArray{})) {
        if (const auto* text = std::get_if<std::string>(&entry)) {
            prepared.expressionList.push_back(*text);
            prepared.foldedExpressionList.push_back(folded(*text));
        }
    }
    return prepared;
}

APMAudiencePreparedFilter APMAudiencePrepareFilter(const APMPBFilter& filter) {
    APMAudiencePreparedFilter prepared;
    auto number = APMPBGetMessage<APMPBNumberFilter>(filter, FilterSlot::NumberFilter);
    auto text = APMPBGetMessage<APMPBStringFilter>(filter, FilterSlot::StringFilter);
    prepared.hasNumberFilter = number != nullptr;
    prepared.hasStringFilter = text != nullptr;
    // The number test wins when both are present.
    if (number) {
        prepared.numberFilter = APMAudiencePrepareNumberFilter(*number);
    } else if (text) {
        prepared.stringFilter = APMAudiencePrepareStringFilter(*text);
    }
    prepared.complement = APMPBGetBool(filter, FilterSlot::Complement);
    prepared.parameterName = APMPBGetString(filter, FilterSlot::ParamName);
    return prepared;
}

bool APMAudiencePreparedEventFilter::isComplete() const {
    if (hasCountFilter && !countFilter) return false;
    for (const auto& filter : parameterFilters) {
        if (!filter.isComplete()) return false;
    }
    return true;
}

APMAudiencePreparedEventFilter APMAudiencePrepareEventFilter(const APMPBEventFilter& filter) {
    APMAudiencePreparedEventFilter prepared;
    prepared.eventName = APMPBGetString(filter, EventFilterSlot::EventName);
    if (auto count = APMPBGetMessage<APMPBNumberFilter>(filter, EventFilterSlot::EventCountFilter)) {
        prepared.hasCountFilter = true;
        prepared.countFilter = APMAudiencePrepareNumberFilter(*count);
    }
    prepared.sessionScoped = APMPBGetBool(filter, EventFilterSlot::SessionScoped);
    for (const auto& parameterFilter : APMPBGetMessages<APMPBFilter>(filter, EventFilterSlot::Filters)) {
        prepared.parameterFilters.push_back(APMAudiencePrepareFilter(*parameterFilter));
    }
    return prepared;
}

APMAudiencePreparedPropertyFilter APMAudiencePreparePropertyFilter(const APMPBPropertyFilter& filter) {
    APMAudiencePreparedPropertyFilter prepared;
    prepared.propertyName = APMPBGetString(filter, PropertyFilterSlot::PropertyName);
    if (auto test = APMPBGetMessage<APMPBFilter>(filter, PropertyFilterSlot::Filter)) {
        prepared.filter = APMAudiencePrepareFilter(*test);
    }
    return prepared;
}

// --- Evaluating ---------------------------------------------------------------

APMAudienceVerdict APMAudienceEvaluateNumberFilterWithDecimal(const APMPBNumberFilter& filter,
                                                              const APMAudienceDecimal& value) {
    return evaluateNumber(APMAudiencePrepareNumberFilter(filter), value);
}

APMAudienceVerdict APMAudienceEvaluateNumberFilterWithInteger(const APMPBNumberFilter& filter, std::int64_t value) {
    return APMAudienceEvaluateNumberFilterWithDecimal(filter, APMAudienceDecimal::fromInt64(value));
}

APMAudienceVerdict APMAudienceEvaluateNumberFilterWithDouble(const APMPBNumberFilter& filter, double value) {
    return evaluateNumber(APMAudiencePrepareNumberFilter(filter), value);
}

APMAudienceVerdict APMAudienceEvaluateStringFilter(const APMPBStringFilter& filter, const std::string* value) {
    if (value == nullptr) return evaluateString(std::nullopt, value);
    return evaluateString(APMAudiencePrepareStringFilter(filter), value);
}

APMAudienceVerdict APMAudienceEvaluatePreparedFilterValue(const APMAudiencePreparedFilter& filter,
                                                          const APMValue& value, APMAudienceRegexBudget* budget) {
    APMAudienceVerdict verdict;
    if (filter.hasNumberFilter) {
        if (const std::string* text = value.stringValue()) {
            if (!APMIsDecimalNumberString(*text)) {
                log(3, 7001,
                    "String value is not a numeric value. Audience filter will not be evaluated. Value, filter",
                    *text, filter.parameterName.value_or(""));
                return std::nullopt;
            }
            std::optional<APMAudienceDecimal> decimal = APMAudienceDecimal::fromString(*text);
            if (!decimal) return std::nullopt;
            verdict = evaluateNumber(filter.numberFilter, *decimal);
        } else if (value.isDouble()) {
            if (!std::isfinite(value.doubleValue())) {
                log(3, 7002, "Value is not within double range. Audience filter will not be evaluated");
                return std::nullopt;
            }
            verdict = evaluateNumber(filter.numberFilter, value.doubleValue());
        } else if (value.isInt64()) {
            verdict = evaluateNumber(filter.numberFilter, APMAudienceDecimal::fromInt64(value.int64Value()));
        } else {
            return std::nullopt;
        }
    } else if (filter.hasStringFilter) {
        const std::string* text = value.stringValue();
        if (text == nullptr) {
            log(3, 7003, "Value is not a string. Audience filter will not be evaluated");
            return std::nullopt;
        }
        verdict = evaluateString(filter.stringFilter, text, budget);
    } else {
        log(1, 7000, "Filter has neither a number nor string filter. Audience filter will not be evaluated");
        return std::nullopt;
    }
    if (verdict && filter.complement) verdict = !*verdict;
    return verdict;
}

APMAudienceVerdict APMAudienceEvaluateFilterValue(const APMPBFilter& filter, const APMValue& value) {
    return APMAudienceEvaluatePreparedFilterValue(APMAudiencePrepareFilter(filter), value);
}

APMAudienceVerdict APMAudienceEvaluatePreparedEventFilter(const APMAudiencePreparedEventFilter& filter,
                                                          const std::string& eventName,
                                                          const APMParameters& parameters,
                                                          const APMEventAggregates* aggregates,
                                                          APMAudienceRegexBudget* budget) {
    if (eventName.empty()) {
        log(1, 7005, "Event name is nil. Audience filter will not be evaluated");
        return std::nullopt;
    }
    if (filter.eventName != eventName) {
        log(1, 7006, "Event filter name does not match event name. Audience filter will not be evaluated");
        return std::nullopt;
    }
    if (!filter.hasCountFilter && filter.parameterFilters.empty()) return true;
    if (filter.hasCountFilter) {
        if (aggregates == nullptr || aggregates->name() != eventName) {
            log(1, 7007, "Event aggregates name does not match event name. Audience filter will not be evaluated");
            return std::nullopt;
        }
        const std::int64_t count =
            filter.sessionScoped ? aggregates->currentSessionCount() : aggregates->lifetimeCount();
        APMAudienceVerdict verdict = evaluateNumber(filter.countFilter, APMAudienceDecimal::fromInt64(count));
        if (verdict != true) return verdict;
    }
    for (const APMAudiencePreparedFilter& parameterFilter : filter.parameterFilters) {
        if (!parameterFilter.parameterName) {
            log(1, 7008, "Event filter does not have parameter name. Audience filter will not be evaluated");
            return std::nullopt;
        }
        const APMValue* value = parameters.find(*parameterFilter.parameterName);
        if (value == nullptr) {
            log(3, 7009, "Event does not have parameter required by filter. Audience filter will not be evaluated",
                *parameterFilter.parameterName);
            return std::nullopt;
        }
        if (value->isString() && !parameterFilter.hasStringFilter) {
            log(3, 7010, "Event param is a string and the filter does not have a string filter. Audience filter will "
                         "not be evaluated. Event name, event params, filter",
                eventName, APMObjectDescription(parameters), *parameterFilter.parameterName);
            return std::nullopt;
        }
        APMAudienceVerdict verdict = APMAudienceEvaluatePreparedFilterValue(parameterFilter, *value, budget);
        if (verdict != true) return verdict;
    }
    return true;
}

APMAudienceVerdict APMAudienceEvaluateEventFilter(const APMPBEventFilter& filter, const std::string& eventName,
                                                  const APMParameters& parameters,
                                                  const APMEventAggregates* aggregates) {
    return APMAudienceEvaluatePreparedEventFilter(APMAudiencePrepareEventFilter(filter), eventName, parameters,
                                                  aggregates);
}

APMAudienceVerdict APMAudienceEvaluatePreparedPropertyFilter(const APMAudiencePreparedPropertyFilter& filter,
                                                             const APMUserAttribute& property,
                                                             APMAudienceRegexBudget* budget) {
    if (filter.propertyName != property.name()) {
        log(1, 7013, "User property name does not match property filter name. Audience filter will not be evaluated");
        return std::nullopt;
    }
    if (!filter.filter) {
        log(1, 7014, "Property filter does not have filter. Audience filter will not be evaluated");
        return std::nullopt;
    }
    const APMValue& value = property.value();
    if (!value.isString() && !value.isInt64() && !value.isDouble()) {
        log(1, 7015, "Unknown user property type. Audience filter will not be evaluated. Property Name",
            property.name());
        return std::nullopt;
    }
    return APMAudienceEvaluatePreparedFilterValue(*filter.filter, value, budget);
}

APMAudienceVerdict APMAudienceEvaluatePropertyFilter(const APMPBPropertyFilter& filter,
                                                     const APMUserAttribute& property) {
    return APMAudienceEvaluatePreparedPropertyFilter(APMAudiencePreparePropertyFilter(filter), property);
}
