#pragma once
// The array kind: ordered slots (holes included; the count is "length") and
// named properties beside them.
//
// Keys: an index key (see ValueIndex.h) addresses a slot; the string value
// "length" is the length; any other key names a property by its string form.
// Holes (the shared emptyValue marker) come from growing or deleting; every
// read turns them into undefined and they are never handed to a program.
//
// String form: the slots joined by ",", with holes, undefined and null as
// empty pieces; an array already being joined further up (a cycle) is an
// empty piece too. Growing past kMaxArrayLength fails with code 20.

#include <string>
#include <vector>

#include "measurement/rules/APMPPropertyMap.h"
#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

class APMPArrayValue : public APMPRuntimeValue {
public:
    static constexpr ValueKind kKind = ValueKind::Array;

    APMPArrayValue();
    explicit APMPArrayValue(ValueList slots);
    ~APMPArrayValue() override;

    std::size_t count() const { return slots_.size(); }
    // The raw slots, holes included.
    const ValueList& slots() const { return slots_; }
    static bool isHole(const ValuePtr& slot);

    std::u16string stringValueWithSeparator(std::u16string_view separator, ErrorSlot& error) const;
    std::u16string stringValueOrError(ErrorSlot& error) const override;
    double doubleValueOrError(ErrorSlot& error) const override;
    bool booleanValueOrError(ErrorSlot& error) const override;

    // Own property holding a function, else the array method table.
    ValuePtr applyWithName(std::u16string_view name, const ValueList& arguments,
                           const ScopePtr& scope, ErrorSlot& error) override;

    // Shrinks, or grows with holes; false (code 20) beyond the cap.
    bool setLength(std::size_t count, ErrorSlot& error);
    // "length" takes a non-negative integer number or string (code 11).
    bool setValueForProperty(ValuePtr value, const APMPRuntimeValue& key, ErrorSlot& error);
    ValuePtr valueForProperty(const APMPRuntimeValue& key, ErrorSlot& error) const;
    // An index turns its slot into a hole; the count never changes.
    void removeValueForProperty(const APMPRuntimeValue& key, ErrorSlot& error);
    bool hasProperty(const APMPRuntimeValue& key, ErrorSlot& error) const;
    // Property names first, then the indexes of present slots, ascending.
    std::vector<std::u16string> allPropertyNames() const;
    // The slots with holes read as undefined.
    ValueList allElements() const;
    // The slots in [location, location + length), clamped, holes kept,
    // without named properties.
    std::shared_ptr<APMPArrayValue> subarrayWithRange(std::size_t location, std::size_t length) const;

    void appendReferences(std::vector<const Collectable*>& out) const override;
    void detachReferences(std::vector<CollectablePtr>& out) override;

private:
    APMPPropertyMap properties_;
    ValueList slots_;
};

}  // namespace measurement::rules
