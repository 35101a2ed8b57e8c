#include "measurement/rules/StringMethods.h"

namespace measurement::rules {

ValuePtr applyStringMethod(APMPStringValue& receiver, std::u16string_view name,
                           const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error) {
    // Only the methods every value answers, for now: the string method table
    // ("charAt", "split", ...) is not part of this library yet.
    return receiver.APMPRuntimeValue::applyWithName(name, arguments, scope, error);
}

}  // namespace measurement::rules
