#pragma once
// A table of the methods programs call on one kind of receiver (strings,
// arrays). A call looks the name up (code 17 when absent), evaluates the
// arguments left to right (the first error ends the call), checks their
// count against the method's range (code 9), then runs the method.
// Tables are built once per process and never change.

#include <cstddef>
#include <limits>
#include <span>
#include <string_view>
#include <unordered_map>

#include "measurement/rules/APMPEvaluator.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {

inline constexpr std::size_t kAnyArgumentCount = std::numeric_limits<std::size_t>::max();

template <typename Receiver>
class MethodTable {
public:
    // `values` are the evaluated arguments, their count already checked.
    using Routine = ValuePtr (*)(Receiver& receiver, const ValueList& values, const ScopePtr& scope,
                                 ErrorSlot& error);
    struct Method {
        std::u16string_view name;
        std::size_t minArguments;
        std::size_t maxArguments;
        Routine run;
    };

    explicit MethodTable(std::span<const Method> methods) {
        for (const Method& method : methods) byName_.emplace(method.name, &method);
    }

    ValuePtr apply(Receiver& receiver, std::u16string_view name, const ValueList& arguments,
                   const ScopePtr& scope, ErrorSlot& error) const {
        const auto found = byName_.find(name);
        if (found == byName_.end()) {
            fail(error, PixieErrorCode::NotAFunction);
            return undefinedValue();
        }
        const Method& method = *found->second;
        const ValueList values = evaluateArguments(arguments, scope, error);
        if (error) return undefinedValue();
        if (!checkArgumentCountAtLeast(values, method.minArguments, error) ||
            !checkArgumentCountAtMost(values, method.maxArguments, error)) {
            return undefinedValue();
        }
        return method.run(receiver, values, scope, error);
    }

private:
    std::unordered_map<std::u16string_view, const Method*> byName_;
};

// The argument at `index`, or null when fewer were given.
inline const APMPRuntimeValue* optionalArgument(const ValueList& values, std::size_t index) {
    return index < values.size() ? values[index].get() : nullptr;
}

}  // namespace measurement::rules
