#pragma once
// The parameter rules every event passes when its event object is built:
// names and values are checked (APMDataTypeValidator), objects become
// APMValues, ecommerce "items" arrays are sanitised item by item, and the
// public-parameter limits are enforced by trimming. Invalid parameters are
// dropped, counted in the diagnostics counters ("invalid_param_name",
// "invalid_param_value", "too_many_params") and the first failure is recorded
// as "_err", "_ev", "_el". Parameters are walked in the caller's order
// (APMObjectParameters.h); item dictionaries from a property list in key order.

#include <cstddef>
#include <optional>
#include <string_view>

#include "measurement/interface/APMDataTypeValidator.h"
#include "measurement/interface/APMObjectParameters.h"
#include "measurement/storage/APMDiagnosticsCounts.h"
#include "measurement/storage/APMValue.h"

// The valid parameters as values, with any error parameters; none for empty
// input. `eventName` none: no event (parameters applied later). `isItem`:
// the parameters of one element of an "items" array.
std::optional<APMParameters> APMSanitizedEventParameters(const APMObjectParameters& parameters,
                                                         APMOptionalText eventName, bool isPublic, bool isItem,
                                                         APMDiagnosticsCounts* counts);

// The sanitised items of the array parameter `paramName`, or none when the
// array may not be there. More than 200 elements keep the first 200 (with
// `failure` TooManyArrayElements); an element that is no dictionary is
// dropped with error 4 recorded in `errorParameters`, the enclosing
// parameters' error entries.
std::optional<APMValue> APMSanitizedArrayParameter(const platform::PropertyArray& elements, std::string_view paramName,
                                                   APMOptionalText eventName, APMParameters& errorParameters,
                                                   bool isItem, bool isPublic, APMValidationFailure* failure,
                                                   APMDiagnosticsCounts* counts);

// Public events: the public and then the internal name rule; others the
// internal rule. A refusal records error 14 (reserved prefix) or 3.
bool APMIsValidEventParameterName(std::string_view name, bool isPublic, APMParameters& errorParameters);

// Names that are public (not beginning with "_"); with `isItem` ecommerce
// parameter names do not count.
std::size_t APMCountPublicParameters(const APMParameters& parameters, bool isItem);

// Removes public parameters until at most `limit` remain: those whose names
// sort last go first; "currency", "transaction_id" and "value" stay.
void APMTrimPublicParametersToLimit(APMParameters& parameters, std::size_t limit);
