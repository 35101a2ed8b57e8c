#pragma once
// Small rules on parameter dictionaries: the value-and-currency rule of
// conversions and purchases, screen parameters, "vad_" parameters, and the
// effective size of an event.

#include <cstdint>

#include "measurement/interface/APMObjectParameters.h"
#include "measurement/storage/APMValue.h"

class APMEvent;

// True when "value" may stay: it is absent and not required, or it is
// numeric and "currency" is a valid currency code. Otherwise "value" is
// removed, error 18 (not numeric; "_ev" "value") or 19 (currency; "_ev"
// "currency") is recorded, and the answer is false.
bool APMCheckValueAndCurrency(APMParameters& parameters, bool valueRequired);

// Any of "_si", "_sc", "_sn" is present.
bool APMHasScreenParameters(const APMObjectParameters& parameters);
bool APMHasScreenParameters(const APMParameters& parameters);
// Only those of "_sn", "_sc", "_si" that are present.
APMObjectParameters APMExtractScreenParameters(const APMObjectParameters& parameters);

// A copy without the names that begin with "vad_".
APMParameters APMParametersByRemovingVadParameters(const APMParameters& parameters);

// The elements of the event's array parameters together (0 without any).
std::int64_t APMEffectiveEventCount(const APMEvent& event);
