#include "measurement/rules/ValueComparison.h"

namespace measurement::rules {
namespace {

int looseEqualityClass(const APMPRuntimeValue& value) {
    switch (value.kind()) {
        case ValueKind::Undefined:
        case ValueKind::Null:
            return 0;
        case ValueKind::Number:
        case ValueKind::Boolean:
            return 1;
        case ValueKind::String:
            return 2;
        default:
            return 3;
    }
}

}  // namespace

bool stringValuesEqual(const APMPRuntimeValue& a, const APMPRuntimeValue& b, ErrorSlot& error) {
    const std::u16string x = a.stringValueOrError(error);
    if (error) return false;
    const std::u16string y = b.stringValueOrError(error);
    return !error && x == y;
}

bool numberValuesEqual(const APMPRuntimeValue& a, const APMPRuntimeValue& b, ErrorSlot& error) {
    const double x = a.doubleValueOrError(error);
    if (error) return false;
    const double y = b.doubleValueOrError(error);
    return !error && x == y;
}

bool strictEquals(const APMPRuntimeValue& a, const APMPRuntimeValue& b, ErrorSlot& error) {
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case ValueKind::Number:
        case ValueKind::Boolean:
            return numberValuesEqual(a, b, error);
        case ValueKind::String:
            return stringValuesEqual(a, b, error);
        default:
            return &a == &b;
    }
}

bool looseEquals(const APMPRuntimeValue& a, const APMPRuntimeValue& b, ErrorSlot& error) {
    const bool aFirst = looseEqualityClass(a) <= looseEqualityClass(b);
    const APMPRuntimeValue& x = aFirst ? a : b;
    const APMPRuntimeValue& y = aFirst ? b : a;
    switch (looseEqualityClass(x)) {
        case 0:
            return looseEqualityClass(y) == 0;
        case 1:
            return numberValuesEqual(x, y, error);
        case 2:
            return stringValuesEqual(x, y, error);
        default:
            return &x == &y;
    }
}

int compareValues(const APMPRuntimeValue& x, const APMPRuntimeValue& y, ErrorSlot& error) {
    if (isStringLikeValue(x) && isStringLikeValue(y)) {
        const std::u16string a = x.stringValueOrError(error);
        if (error) return 1;
        const std::u16string b = y.stringValueOrError(error);
        if (error) return 1;
        const int order = a.compare(b);
        return order < 0 ? -1 : (order > 0 ? 1 : 0);
    }
    const double a = x.doubleValueOrError(error);
    if (error) return 1;
    const double b = y.doubleValueOrError(error);
    if (error) return 1;
    if (a < b) return -1;
    if (a == b) return 0;
    return 1;
}

}  // namespace measurement::rules
