#include "measurement/rules/StructuralEquality.h"

#include <algorithm>
#include <utility>

#include "measurement/rules/APMPArrayValue.h"
#include "measurement/rules/APMPControlValue.h"
#include "measurement/rules/APMPFunctionValue.h"
#include "measurement/rules/APMPMapValue.h"
#include "measurement/rules/APMPStatementValue.h"
#include "measurement/rules/ExecutionLimits.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {
namespace {

using Pair = std::pair<const APMPRuntimeValue*, const APMPRuntimeValue*>;

bool equal(const APMPRuntimeValue& a, const APMPRuntimeValue& b, std::vector<Pair>& path);

bool listsEqual(const ValueList& a, const ValueList& b, std::vector<Pair>& path) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!equal(*a[i], *b[i], path)) return false;
    }
    return true;
}

bool mapsEqual(const APMPMapValue& a, const APMPMapValue& b, std::vector<Pair>& path) {
    if (a.properties().count() != b.properties().count()) return false;
    for (const std::u16string& name : a.allPropertyNames()) {
        const ValuePtr* other = b.properties().find(name);
        if (!other || !equal(*a.valueForProperty(name), **other, path)) return false;
    }
    return true;
}

// Compares two containers; a pair already under comparison further up is
// taken as equal (the rest of the walk decides).
template <typename Compare>
bool containersEqual(const APMPRuntimeValue& a, const APMPRuntimeValue& b, std::vector<Pair>& path,
                     Compare compare) {
    const Pair pair{&a, &b};
    if (std::find(path.begin(), path.end(), pair) != path.end()) return true;
    if (path.size() >= static_cast<std::size_t>(kMaxNestingDepth)) return false;
    path.push_back(pair);
    const bool result = compare();
    path.pop_back();
    return result;
}

bool equal(const APMPRuntimeValue& a, const APMPRuntimeValue& b, std::vector<Pair>& path) {
    if (&a == &b) return true;
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case ValueKind::Hole:
            return false;
        case ValueKind::Undefined:
        case ValueKind::Null:
            return true;
        case ValueKind::Boolean:
            return static_cast<const APMPBooleanValue&>(a).value() ==
                   static_cast<const APMPBooleanValue&>(b).value();
        case ValueKind::Number: {
            const double x = static_cast<const APMPNumberValue&>(a).value();
            const double y = static_cast<const APMPNumberValue&>(b).value();
            return x == y || (x != x && y != y);
        }
        case ValueKind::String:
            return static_cast<const APMPStringValue&>(a).value() ==
                   static_cast<const APMPStringValue&>(b).value();
        case ValueKind::Function: {
            const std::u16string& name = static_cast<const APMPFunctionValue&>(a).functionName();
            return !name.empty() && name == static_cast<const APMPFunctionValue&>(b).functionName();
        }
        case ValueKind::Map:
            return containersEqual(a, b, path, [&] {
                return mapsEqual(static_cast<const APMPMapValue&>(a),
                                 static_cast<const APMPMapValue&>(b), path);
            });
        case ValueKind::Array:
            return containersEqual(a, b, path, [&] {
                return listsEqual(static_cast<const APMPArrayValue&>(a).slots(),
                                  static_cast<const APMPArrayValue&>(b).slots(), path);
            });
        case ValueKind::Statement: {
            const auto& x = static_cast<const APMPStatementValue&>(a);
            const auto& y = static_cast<const APMPStatementValue&>(b);
            return x.functionName() == y.functionName() &&
                   containersEqual(a, b, path, [&] { return listsEqual(x.arguments(), y.arguments(), path); });
        }
        case ValueKind::Control: {
            const auto& x = static_cast<const APMPControlValue&>(a);
            const auto& y = static_cast<const APMPControlValue&>(b);
            return x.type() == y.type() &&
                   containersEqual(a, b, path, [&] { return equal(*x.data(), *y.data(), path); });
        }
    }
    return false;
}

}  // namespace

bool structurallyEqual(const APMPRuntimeValue& a, const APMPRuntimeValue& b) {
    std::vector<Pair> path;
    return equal(a, b, path);
}

}  // namespace measurement::rules
