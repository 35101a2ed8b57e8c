#include "measurement/rules/APMPRuntimeValue.h"

#include <limits>

#include "measurement/rules/APMPScope.h"
#include "measurement/rules/ExecutionBudget.h"
#include "measurement/rules/ScalarValues.h"
#include "measurement/rules/StructuralEquality.h"

namespace measurement::rules {

APMPRuntimeValue::APMPRuntimeValue() : kind_(ValueKind::Hole) {}

APMPRuntimeValue::APMPRuntimeValue(ValueKind kind) : kind_(kind) {}

std::u16string APMPRuntimeValue::stringValueOrError(ErrorSlot& error) const {
    fail(error, PixieErrorCode::NoStringForm);
    return {};
}

double APMPRuntimeValue::doubleValueOrError(ErrorSlot& error) const {
    fail(error, PixieErrorCode::NoNumberForm);
    return std::numeric_limits<double>::quiet_NaN();
}

bool APMPRuntimeValue::booleanValueOrError(ErrorSlot& error) const {
    return fail(error, PixieErrorCode::NoTruthiness);
}

ValuePtr APMPRuntimeValue::applyWithName(std::u16string_view name, const ValueList&,
                                         const ScopePtr& scope, ErrorSlot& error) {
    if (name != u"toString") {
        fail(error, PixieErrorCode::NotAFunction);
        return undefinedValue();
    }
    std::u16string text = stringValueOrError(error);
    if (error) return undefinedValue();
    return scope->budget().newString(std::move(text), error);
}

bool APMPRuntimeValue::isEqualToRuntimeValue(const APMPRuntimeValue& other) const {
    return structurallyEqual(*this, other);
}

const ValuePtr& APMPRuntimeValue::emptyValue() {
    static const ValuePtr hole = std::make_shared<APMPRuntimeValue>();
    return hole;
}

bool isStringLikeValue(const APMPRuntimeValue& value) {
    switch (value.kind()) {
        case ValueKind::String:
        case ValueKind::Array:
        case ValueKind::Map:
        case ValueKind::Function:
            return true;
        default:
            return false;
    }
}

}  // namespace measurement::rules
