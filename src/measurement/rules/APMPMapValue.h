#pragma once
// The program's plain object: named properties in a property table. Its
// string form is "[object Object]", its number NaN, its truthiness true.
// Method calls: an own property holding a function is invoked; then
// "hasOwnProperty"; then the methods every value has.

#include <string>
#include <vector>

#include "measurement/rules/APMPPropertyMap.h"
#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

class APMPMapValue : public APMPRuntimeValue {
public:
    static constexpr ValueKind kKind = ValueKind::Map;

    APMPMapValue();
    ~APMPMapValue() override;

    std::u16string stringValueOrError(ErrorSlot& error) const override;
    double doubleValueOrError(ErrorSlot& error) const override;
    bool booleanValueOrError(ErrorSlot& error) const override;
    ValuePtr applyWithName(std::u16string_view name, const ValueList& arguments,
                           const ScopePtr& scope, ErrorSlot& error) override;

    bool hasProperty(std::u16string_view name) const { return properties_.hasName(name); }
    const ValuePtr& valueForProperty(std::u16string_view name) const {
        return properties_.valueForName(name);
    }
    void setValue(ValuePtr value, std::u16string_view name) { properties_.setValue(std::move(value), name); }
    void removeValueForProperty(std::u16string_view name) { properties_.removeValueForName(name); }
    std::vector<std::u16string> allPropertyNames() const { return properties_.allNames(); }
    const APMPPropertyMap& properties() const { return properties_; }

    void appendReferences(std::vector<const Collectable*>& out) const override;
    void detachReferences(std::vector<CollectablePtr>& out) override;

private:
    APMPPropertyMap properties_;
};

}  // namespace measurement::rules
