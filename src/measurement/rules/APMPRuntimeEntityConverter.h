#pragma once
// Conversions at the edges of the rule engine:
// - program entities (RuntimeEntity wire messages) to runtime values, eagerly
//   and whole: type 1 string (field absent: ""), 2 number (absent: NaN),
//   3 boolean (absent: false), 4 statement (a function name is required,
//   code 14; arguments converted in order); any other type fails with code
//   12. Nesting past kMaxNestingDepth fails with code 19.
// - programs are measured before they run: programEntityCount counts every
//   entity of a program (top-level statements, activity statements and all
//   their arguments), stopping once it is past `limit`.
// - plain objects (event parameters, module data) to runtime values: none is
//   null, Booleans stay booleans, numbers become numbers, strings strings,
//   dictionaries and arrays new tracked maps and arrays; data and dates fail
//   with code 13. New texts and slots are charged to the scope's run.
// - runtime values to plain objects: null is none, undefined "", maps
//   dictionaries, arrays arrays (none-valued members left out); any other
//   value its number when that is not NaN, else its string form. A container
//   that contains itself is left out where it recurs.
// Every failure answers undefined (or none, or the dictionary built so far).

#include <cstddef>
#include <optional>

#include "measurement/messages/APMPBMessages.h"
#include "measurement/rules/APMPRuntimeValue.h"
#include "platform/core/PropertyList.h"

namespace measurement::rules {

class APMPMapValue;

class APMPRuntimeEntityConverter {
public:
    static ValuePtr runtimeValueFromRuntimeEntity(const APMPBRuntimeEntity& entity, ErrorSlot& error);
    static ValuePtr stringValueFromRuntimeEntity(const APMPBRuntimeEntity& entity);
    static ValuePtr numberValueFromRuntimeEntity(const APMPBRuntimeEntity& entity);
    static ValuePtr booleanValueFromRuntimeEntity(const APMPBRuntimeEntity& entity);
    static ValuePtr statementValueFromRuntimeEntity(const APMPBRuntimeEntity& entity, ErrorSlot& error);
    static std::size_t programEntityCount(const APMPBProgram& program, std::size_t limit);

    // `object` null means none (nil).
    static ValuePtr runtimeValueFromNSObject(const platform::PropertyValue* object, const ScopePtr& scope,
                                             ErrorSlot& error);
    static std::optional<platform::PropertyValue> objectFromRuntimeValue(const APMPRuntimeValue& value,
                                                                         ErrorSlot& error);
    static platform::PropertyDictionary dictionaryFromMapValue(const APMPMapValue& map, ErrorSlot& error);
};

}  // namespace measurement::rules
