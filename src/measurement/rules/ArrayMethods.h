#pragma once
// The methods programs call on array values ([1, 2].push(3)): "concat",
// "every", "filter", "forEach", "hasOwnProperty", "indexOf", "join",
// "lastIndexOf", "map", "pop", "push", "reduce", "reduceRight", "reverse",
// "shift", "slice", "some", "sort", "splice", "toString" and "unshift".
// An unknown name fails with code 17, a wrong argument count with code 9,
// a callback that is not a function with code 10. New arrays are tracked
// by the scope's object manager; new slots and texts are charged to the run.

#include "measurement/rules/APMPArrayValue.h"

namespace measurement::rules {

ValuePtr applyArrayMethod(APMPArrayValue& receiver, std::u16string_view name,
                          const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error);

}  // namespace measurement::rules
