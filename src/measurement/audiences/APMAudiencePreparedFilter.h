#pragma once
// Audience filters read once from their messages and checked, ready to be
// evaluated many times: the bounds of number filters parsed (exactly, and as
// doubles), the expressions of string filters case-folded and their regular
// expressions compiled with the engine's limits. A filter that fails its
// check has no prepared form, so preparing it again logs the refusal again.
// Immutable once made; evaluated on the measurement worker queue.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unicode/unistr.h>

#include "measurement/audiences/APMAudienceDecimal.h"
#include "measurement/messages/APMPBMessages.h"
#include "platform/core/Unicode.h"

// A number filter that passed its check (bounds present and decimal).
struct APMAudiencePreparedNumberFilter {
    std::int32_t comparisonType = 0;
    APMAudienceDecimal value = APMAudienceDecimal::fromInt64(0);
    APMAudienceDecimal minimum = APMAudienceDecimal::fromInt64(0);
    APMAudienceDecimal maximum = APMAudienceDecimal::fromInt64(0);
    double doubleValue = 0;
    double doubleMinimum = 0;
    double doubleMaximum = 0;
};

// A string filter that passed its check.
struct APMAudiencePreparedStringFilter {
    std::int32_t matchType = 0;
    bool caseSensitive = false;
    std::string expression;
    icu::UnicodeString foldedExpression;
    std::vector<std::string> expressionList;
    std::vector<icu::UnicodeString> foldedExpressionList;
    std::optional<platform::Regex> regex;  // for a regular expression
};

// A value test. The `has` flags tell a missing test from one that failed its
// check (then its prepared form is none); when both are present the number
// test is the one used.
struct APMAudiencePreparedFilter {
    bool hasNumberFilter = false;
    bool hasStringFilter = false;
    std::optional<APMAudiencePreparedNumberFilter> numberFilter;
    std::optional<APMAudiencePreparedStringFilter> stringFilter;
    bool complement = false;
    std::optional<std::string> parameterName;

    // The test in use passed its check.
    bool isComplete() const {
        return hasNumberFilter ? numberFilter.has_value() : (!hasStringFilter || stringFilter.has_value());
    }
};

struct APMAudiencePreparedEventFilter {
    std::optional<std::string> eventName;
    bool hasCountFilter = false;
    std::optional<APMAudiencePreparedNumberFilter> countFilter;
    bool sessionScoped = false;
    std::vector<APMAudiencePreparedFilter> parameterFilters;

    bool isComplete() const;
};

struct APMAudiencePreparedPropertyFilter {
    std::optional<std::string> propertyName;
    std::optional<APMAudiencePreparedFilter> filter;  // none: the message has no filter

    bool isComplete() const { return !filter || filter->isComplete(); }
};

// Each runs the checks of the configuration (logging their refusals).
std::optional<APMAudiencePreparedNumberFilter> APMAudiencePrepareNumberFilter(const APMPBNumberFilter& filter);
std::optional<APMAudiencePreparedStringFilter> APMAudiencePrepareStringFilter(const APMPBStringFilter& filter);
APMAudiencePreparedFilter APMAudiencePrepareFilter(const APMPBFilter& filter);
APMAudiencePreparedEventFilter APMAudiencePrepareEventFilter(const APMPBEventFilter& filter);
APMAudiencePreparedPropertyFilter APMAudiencePreparePropertyFilter(const APMPBPropertyFilter& filter);
