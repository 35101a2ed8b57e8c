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
//
// The list operations below serve the array methods (ArrayMethods.h); new
// arrays handed to programs are made through the object manager instead.

#include <memory>
#include <string>
#include <vector>

#include "measurement/rules/APMPPropertyMap.h"
#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

class APMPFunctionValue;

class APMPArrayValue : public APMPRuntimeValue, public std::enable_shared_from_this<APMPArrayValue> {
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
    [[nodiscard]] bool setLength(std::size_t count, ErrorSlot& error);
    // "length" takes a non-negative integer number or string (code 11).
    [[nodiscard]] bool setValueForProperty(ValuePtr value, const APMPRuntimeValue& key, ErrorSlot& error);
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

    // Removes up to `deleteCount` slots at `start` (both clamped to the
    // array) and inserts `values` there; answers the removed slots.
    ValueList spliceFrom(std::size_t start, std::size_t deleteCount, const ValueList& values, ErrorSlot& error);
    // Appends an array's slots (holes kept) or any other value as one slot;
    // a control value fails with code 10.
    [[nodiscard]] bool concat(const ValuePtr& value, ErrorSlot& error);
    void reverse();
    // The removed slot, undefined for a hole or an empty array.
    ValuePtr removeFirstElement();
    ValuePtr removeLastElement();
    // Prepending keeps the list's order; false (code 20) past kMaxArrayLength.
    [[nodiscard]] bool appendElements(const ValueList& values, ErrorSlot& error);
    [[nodiscard]] bool prependElements(const ValueList& values, ErrorSlot& error);
    // The first slot at or after `from` (the last at or before it) strictly
    // equal to `value`; -1 when none.
    double indexOfValue(const APMPRuntimeValue& value, std::size_t from, ErrorSlot& error) const;
    double lastIndexOfValue(const APMPRuntimeValue& value, std::size_t from, ErrorSlot& error) const;
    // Sorts in place: holes last, undefined before them, the rest by the
    // comparison function (a negative number puts a first) or, without one,
    // by string form in code units. After an error the remaining comparisons
    // answer equal and the first error is reported. The sort orders the
    // slots as they were when it began (ArraySort.cpp).
    void sortUsingFunctionValue(APMPFunctionValue* compare, const ScopePtr& scope, ErrorSlot& error);

    void appendReferences(std::vector<const Collectable*>& out) const override;
    void detachReferences(std::vector<CollectablePtr>& out) override;

private:
    APMPPropertyMap properties_;
    ValueList slots_;
};

}  // namespace measurement::rules
