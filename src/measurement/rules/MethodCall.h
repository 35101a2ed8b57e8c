#pragma once
// Pieces of method calls shared by maps, arrays and function values.

#include <functional>
#include <string_view>

#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

class APMPPropertyMap;

// Calls an own property as a method: a function value is invoked with the
// (unevaluated) arguments in the caller's scope; any other value fails with
// code 17.
ValuePtr invokeAsMethod(const ValuePtr& property, const ValueList& arguments,
                        const ScopePtr& scope, ErrorSlot& error);

// "hasOwnProperty": evaluates the arguments, requires exactly one (code 9),
// and answers whether `has` holds for its string form.
ValuePtr hasOwnPropertyMethod(const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error,
                              const std::function<bool(std::u16string_view)>& has);

// A method call on a value with properties of its own (maps, function
// values): an own property is invoked as a method, then "hasOwnProperty"
// asks `properties`, then the methods every value has.
ValuePtr applyWithOwnProperties(APMPRuntimeValue& value, const APMPPropertyMap& properties,
                                std::u16string_view name, const ValueList& arguments,
                                const ScopePtr& scope, ErrorSlot& error);

}  // namespace measurement::rules
