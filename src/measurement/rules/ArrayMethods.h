#pragma once
// The methods programs call on array values ([1, 2].toString()).

#include "measurement/rules/APMPArrayValue.h"

namespace measurement::rules {

ValuePtr applyArrayMethod(APMPArrayValue& receiver, std::u16string_view name,
                          const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error);

}  // namespace measurement::rules
