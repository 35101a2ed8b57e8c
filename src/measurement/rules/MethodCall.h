#pragma once
// Pieces of method calls shared by maps, arrays and function values.

#include <functional>
#include <string_view>

#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

// Calls an own property as a method: a function value is invoked with the
// (unevaluated) arguments in the caller's scope; any other value fails with
// code 17.
ValuePtr invokeAsMethod(const ValuePtr& property, const ValueList& arguments,
                        const ScopePtr& scope, ErrorSlot& error);

// "hasOwnProperty": evaluates the arguments, requires exactly one (code 9),
// and answers whether `has` holds for its string form.
ValuePtr hasOwnPropertyMethod(const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error,
                              const std::function<bool(std::u16string_view)>& has);

}  // namespace measurement::rules
