// Comparison opcodes: ==, !=, ===, !==, <, <=, >, >=. Exactly two
// arguments, both evaluated; the result is a boolean value.

#include "measurement/rules/CommandTable.h"
#include "measurement/rules/ScalarValues.h"
#include "measurement/rules/ValueComparison.h"

namespace measurement::rules {
namespace {

template <typename Test>
ValuePtr compare(const ValueList& args, ErrorSlot& error, Test test) {
    const bool result = test(*args[0], *args[1], error);
    return error ? undefinedValue() : booleanValue(result);
}

ValuePtr equal(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    return compare(args, error, looseEquals);
}

ValuePtr notEqual(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    return compare(args, error, [](auto& a, auto& b, ErrorSlot& e) { return !looseEquals(a, b, e); });
}

ValuePtr strictEqual(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    return compare(args, error, strictEquals);
}

ValuePtr strictNotEqual(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    return compare(args, error, [](auto& a, auto& b, ErrorSlot& e) { return !strictEquals(a, b, e); });
}

ValuePtr less(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    return compare(args, error, [](auto& a, auto& b, ErrorSlot& e) { return compareValues(a, b, e) == -1; });
}

ValuePtr lessOrEqual(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    return compare(args, error, [](auto& a, auto& b, ErrorSlot& e) { return compareValues(a, b, e) <= 0; });
}

ValuePtr greater(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    return compare(args, error, [](auto& a, auto& b, ErrorSlot& e) { return compareValues(b, a, e) == -1; });
}

ValuePtr greaterOrEqual(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    return compare(args, error, [](auto& a, auto& b, ErrorSlot& e) { return compareValues(b, a, e) <= 0; });
}

constexpr auto T = ArgumentPolicy::TwoEvaluated;
constexpr CommandHandler kComparison[] = {
    {u"12", T, equal},     {u"18", T, greater},        {u"19", T, greaterOrEqual}, {u"20", T, strictEqual},
    {u"21", T, strictNotEqual}, {u"23", T, less},      {u"24", T, lessOrEqual},    {u"29", T, notEqual},
};

}  // namespace

std::span<const CommandHandler> comparisonCommands() { return kComparison; }

}  // namespace measurement::rules
