#pragma once
// The methods programs call on string values ("abc".toString()).

#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {

ValuePtr applyStringMethod(APMPStringValue& receiver, std::u16string_view name,
                           const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error);

}  // namespace measurement::rules
