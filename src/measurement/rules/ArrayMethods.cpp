#include "measurement/rules/ArrayMethods.h"

namespace measurement::rules {

ValuePtr applyArrayMethod(APMPArrayValue& receiver, std::u16string_view name,
                          const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error) {
    // Only the methods every value answers, for now: the array method table
    // ("push", "map", "sort", ...) is not part of this library yet.
    return receiver.APMPRuntimeValue::applyWithName(name, arguments, scope, error);
}

}  // namespace measurement::rules
