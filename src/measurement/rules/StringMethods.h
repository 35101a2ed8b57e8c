#pragma once
// The methods programs call on string values ("a,b".split(",")): "charAt",
// "concat", "hasOwnProperty", "indexOf", "lastIndexOf", "match", "replace",
// "search", "slice", "split", "substring", "toLowerCase",
// "toLocaleLowerCase", "toUpperCase", "toLocaleUpperCase", "toString" and
// "trim". Positions and lengths count UTF-16 code units. Plain searches
// ("indexOf", "replace", "split") match text literally; "match" and "search"
// take a regular expression (RegularExpressionSearch.h). An unknown name
// fails with code 17, a wrong argument count with code 9. New texts and
// arrays are charged to the run; arrays are tracked by the object manager.

#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {

ValuePtr applyStringMethod(APMPStringValue& receiver, std::u16string_view name,
                           const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error);

}  // namespace measurement::rules
