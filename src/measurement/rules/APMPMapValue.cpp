#include "measurement/rules/APMPMapValue.h"

#include <limits>

#include "measurement/rules/MethodCall.h"

namespace measurement::rules {

APMPMapValue::APMPMapValue() : APMPRuntimeValue(kKind) {}

APMPMapValue::~APMPMapValue() { releaseReferencesOf(*this); }

std::u16string APMPMapValue::stringValueOrError(ErrorSlot&) const { return u"[object Object]"; }

double APMPMapValue::doubleValueOrError(ErrorSlot&) const {
    return std::numeric_limits<double>::quiet_NaN();
}

bool APMPMapValue::booleanValueOrError(ErrorSlot&) const { return true; }

ValuePtr APMPMapValue::applyWithName(std::u16string_view name, const ValueList& arguments,
                                     const ScopePtr& scope, ErrorSlot& error) {
    return applyWithOwnProperties(*this, properties_, name, arguments, scope, error);
}

void APMPMapValue::appendReferences(std::vector<const Collectable*>& out) const {
    properties_.appendReferences(out);
}

void APMPMapValue::detachReferences(std::vector<CollectablePtr>& out) {
    properties_.detachReferences(out);
}

}  // namespace measurement::rules
