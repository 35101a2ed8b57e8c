#pragma once
// The verdict of one audience filter for one event or user property: true,
// false, or none when the filter cannot be evaluated (a mismatched name, a
// missing parameter, an unusable value or comparison, a regular expression
// that ran out of its time or stack limits). A filter with no verdict leaves
// the audience's stored bit as it was. Every refusal is logged on the
// measurement monitor with its code.
//
// Numbers compare by the value's type: text and integers exactly as decimals,
// doubles as doubles, where "equal" also admits the two representable doubles
// on either side of the bound. Strings compare case-insensitively (full
// Unicode case folding) unless the filter is case sensitive.

#include <cstdint>
#include <optional>
#include <string>

#include "measurement/audiences/APMAudienceDecimal.h"
#include "measurement/audiences/APMAudiencePreparedFilter.h"
#include "measurement/audiences/APMAudienceRegexBudget.h"
#include "measurement/messages/APMPBMessages.h"
#include "measurement/storage/APMEventAggregates.h"
#include "measurement/storage/APMUserAttribute.h"
#include "measurement/storage/APMValue.h"

using APMAudienceVerdict = std::optional<bool>;

// The parsed bounds of one number filter; `valid` is false when a bound its
// comparison type needs is missing or no number.
struct APMAudienceComparisonValues {
    std::optional<APMAudienceDecimal> comparisonValue;
    std::optional<APMAudienceDecimal> minComparisonValue;
    std::optional<APMAudienceDecimal> maxComparisonValue;
    bool valid = false;

    bool isValid() const { return valid; }
};

APMAudienceComparisonValues APMAudienceParseComparisonValues(const APMPBNumberFilter& filter);

APMAudienceVerdict APMAudienceEvaluateNumberFilterWithDecimal(const APMPBNumberFilter& filter,
                                                              const APMAudienceDecimal& value);
APMAudienceVerdict APMAudienceEvaluateNumberFilterWithDouble(const APMPBNumberFilter& filter, double value);
APMAudienceVerdict APMAudienceEvaluateNumberFilterWithInteger(const APMPBNumberFilter& filter, std::int64_t value);
// `value` null: no string to evaluate (9005).
APMAudienceVerdict APMAudienceEvaluateStringFilter(const APMPBStringFilter& filter, const std::string* value);
// The number or string test of `filter` against `value`, negated when the
// filter is a complement.
APMAudienceVerdict APMAudienceEvaluateFilterValue(const APMPBFilter& filter, const APMValue& value);

// `aggregates` null: the event has no aggregates (a count filter is then not
// evaluable).
APMAudienceVerdict APMAudienceEvaluateEventFilter(const APMPBEventFilter& filter, const std::string& eventName,
                                                  const APMParameters& parameters,
                                                  const APMEventAggregates* aggregates);
APMAudienceVerdict APMAudienceEvaluatePropertyFilter(const APMPBPropertyFilter& filter,
                                                     const APMUserAttribute& property);

// The same on prepared filters; the message forms prepare and call these.
// With a budget, regular expressions search only while it lasts.
APMAudienceVerdict APMAudienceEvaluatePreparedFilterValue(const APMAudiencePreparedFilter& filter,
                                                          const APMValue& value,
                                                          APMAudienceRegexBudget* budget = nullptr);
APMAudienceVerdict APMAudienceEvaluatePreparedEventFilter(const APMAudiencePreparedEventFilter& filter,
                                                          const std::string& eventName,
                                                          const APMParameters& parameters,
                                                          const APMEventAggregates* aggregates,
                                                          APMAudienceRegexBudget* budget = nullptr);
APMAudienceVerdict APMAudienceEvaluatePreparedPropertyFilter(const APMAudiencePreparedPropertyFilter& filter,
                                                             const APMUserAttribute& property,
                                                             APMAudienceRegexBudget* budget = nullptr);
