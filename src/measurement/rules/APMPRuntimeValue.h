#pragma once
// The root of the rule engine's values. Every datum a program computes with
// is an APMPRuntimeValue shared through ValuePtr; the kind never changes.
// Conversions and method calls report failures through an ErrorSlot and
// answer a fallback (the empty string, NaN, false, undefined).
//
// A bare root instance is the array hole marker (emptyValue): it has no
// string, number or truthiness (codes 5, 4, 3) and is never handed to a
// program.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "measurement/rules/Collectable.h"
#include "measurement/rules/PixieError.h"

namespace measurement::rules {

class APMPRuntimeValue;
class APMPScope;
using ValuePtr = std::shared_ptr<APMPRuntimeValue>;
using ValueList = std::vector<ValuePtr>;
using ScopePtr = std::shared_ptr<APMPScope>;

enum class ValueKind {
    Hole,
    Undefined,
    Null,
    Boolean,
    Number,
    String,
    Map,
    Array,
    Function,
    Statement,
    Control,
};

class APMPRuntimeValue : public Collectable {
public:
    static constexpr ValueKind kKind = ValueKind::Hole;

    APMPRuntimeValue();
    ValueKind kind() const { return kind_; }

    virtual std::u16string stringValueOrError(ErrorSlot& error) const;
    virtual double doubleValueOrError(ErrorSlot& error) const;
    virtual bool booleanValueOrError(ErrorSlot& error) const;

    // A method call from a program. `arguments` may still be unevaluated
    // statements; each method evaluates what it uses. The base answers
    // "toString" (arguments ignored) and fails with code 17 otherwise.
    virtual ValuePtr applyWithName(std::u16string_view name, const ValueList& arguments,
                                   const ScopePtr& scope, ErrorSlot& error);

    // Structural equality (the program's own == and === are elsewhere).
    bool isEqualToRuntimeValue(const APMPRuntimeValue& other) const;

    // The shared hole marker.
    static const ValuePtr& emptyValue();

protected:
    explicit APMPRuntimeValue(ValueKind kind);

private:
    ValueKind kind_;
};

// The value as T when it is of T's kind, else null.
template <typename T>
T* valueAs(const ValuePtr& value) {
    return value && value->kind() == T::kKind ? static_cast<T*>(value.get()) : nullptr;
}
template <typename T>
const T* valueAs(const APMPRuntimeValue& value) {
    return value.kind() == T::kKind ? static_cast<const T*>(&value) : nullptr;
}
template <typename T>
std::shared_ptr<T> sharedValueAs(const ValuePtr& value) {
    return value && value->kind() == T::kKind ? std::static_pointer_cast<T>(value) : nullptr;
}

// String-like values (strings, arrays, maps, functions) join by text in
// addition and ordering.
bool isStringLikeValue(const APMPRuntimeValue& value);

}  // namespace measurement::rules
