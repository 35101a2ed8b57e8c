#pragma once
// APMObjectParameters: parameters as a caller hands them in, name to object
// (a property-list value or an APMValue), in the caller's order. The rules
// that turn them into APMParameters walk them in exactly this order, so the
// first failing entry in it is the one an event's "_err", "_ev" and "_el"
// describe. A name given twice counts once, at its first place, with its
// last value (as APMParameters::set keeps it).

#include <string>
#include <utility>
#include <vector>

#include "measurement/storage/APMValue.h"
#include "platform/core/PropertyList.h"

using APMObjectParameters = std::vector<std::pair<std::string, APMObject>>;

// The typed parameters as objects, in their order.
APMObjectParameters APMObjectParametersFrom(const APMParameters& parameters);
// A property-list dictionary as objects, in key order (how array items and
// screen parameters from a property list are walked).
APMObjectParameters APMObjectParametersFrom(const platform::PropertyDictionary& dictionary);

// The value of `name` (its last entry), or null.
const APMObject* APMFindObject(const APMObjectParameters& parameters, const std::string& name);
// The entries with every repeated name folded into its first place.
APMObjectParameters APMUniqueObjectParameters(const APMObjectParameters& parameters);

// The name of an object's type for log lines and error details: "APMValue",
// or the property-list kind ("String", "Integer", "Array", "Dictionary", ...).
std::string APMObjectClassName(const APMObject& object);
// The name a text stands under when it is not UTF-8 and so is not a string.
inline constexpr const char* kAPMNonStringClassName = "Data";
