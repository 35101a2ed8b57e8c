#pragma once
// Validity of the audience definitions of a remote configuration. The
// number- and string-filter checks are also run before every evaluation.
//
// An invalid audience fails with an error of the measurement domain whose
// description says why: code 9 for the audience itself, 10 for one of its
// event filters, 11 for one of its property filters. The filter checks log
// their own refusals (level 1, codes 8006-8011 and 9000-9004).

#include <cstdint>
#include <optional>
#include <set>

#include "measurement/messages/APMPBMessages.h"
#include "measurement/storage/APMError.h"
#include "platform/core/Unicode.h"

// The remote configuration's bounds on one audience.
struct APMAudienceLimits {
    std::int32_t maxFiltersPerAudience = 10;
    std::int32_t maxParametersPerFilter = 25;
};

// `acceptedAudienceIDs`: the IDs of the audiences of this configuration
// accepted so far; a repeated ID is invalid.
[[nodiscard]]
bool APMAudienceValidateAudience(const APMPBAudience& audience, const std::set<std::int32_t>& acceptedAudienceIDs,
                                 const APMAudienceLimits& limits, APMError* error);

bool APMAudienceIsValidNumberFilter(const APMPBNumberFilter& filter);

// For a regular-expression filter, `compiledExpression` (when given) receives
// the compiled expression: case-insensitive unless the filter is case
// sensitive, with a bounded search time since patterns come from outside.
bool APMAudienceIsValidStringFilter(const APMPBStringFilter& filter,
                                    std::optional<platform::Regex>* compiledExpression = nullptr);
