// Arithmetic opcodes: + (numbers add, anything string-like concatenates),
// /, %, *, unary -, binary -, and the pass-throughs 32 to 35.

#include <cmath>

#include "measurement/rules/APMPEvaluator.h"
#include "measurement/rules/APMPScope.h"
#include "measurement/rules/CommandTable.h"
#include "measurement/rules/ExecutionBudget.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {
namespace {

ValuePtr add(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (!checkArgumentCount(args, 2, error)) return undefinedValue();
    if (!isStringLikeValue(*args[0]) && !isStringLikeValue(*args[1])) {
        const double a = args[0]->doubleValueOrError(error);
        if (error) return undefinedValue();
        const double b = args[1]->doubleValueOrError(error);
        if (error) return undefinedValue();
        return APMPNumberValue::make(a + b);
    }
    std::u16string text = args[0]->stringValueOrError(error);
    if (error) return undefinedValue();
    const std::u16string tail = args[1]->stringValueOrError(error);
    if (error) return undefinedValue();
    if (text.size() + tail.size() > kMaxStringLength) {
        fail(error, PixieErrorCode::SizeLimitExceeded);
        return undefinedValue();
    }
    text += tail;
    return scope->budget().newString(std::move(text), error);
}

// Applies `op` to the number forms of exactly two arguments.
template <typename Op>
ValuePtr binary(const ValueList& args, ErrorSlot& error, Op op) {
    if (!checkArgumentCount(args, 2, error)) return undefinedValue();
    const double a = args[0]->doubleValueOrError(error);
    if (error) return undefinedValue();
    const double b = args[1]->doubleValueOrError(error);
    if (error) return undefinedValue();
    return APMPNumberValue::make(op(a, b));
}

ValuePtr divide(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    return binary(args, error, [](double a, double b) { return a / b; });
}

// Truncating remainder with the dividend's sign; fmod is exact and gives NaN
// for a zero divisor or an infinite dividend, the dividend for an infinite
// divisor.
ValuePtr remainder(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    return binary(args, error, [](double a, double b) { return std::fmod(a, b); });
}

ValuePtr multiply(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    return binary(args, error, [](double a, double b) { return a * b; });
}

ValuePtr subtract(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    return binary(args, error, [](double a, double b) { return a - b; });
}

ValuePtr negate(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    if (!checkArgumentCount(args, 1, error)) return undefinedValue();
    const double a = args[0]->doubleValueOrError(error);
    if (error) return undefinedValue();
    return APMPNumberValue::make(-a);
}

ValuePtr passFirstOfTwo(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    if (!checkArgumentCount(args, 2, error)) return undefinedValue();
    return args[0];
}

ValuePtr passOnlyArgument(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    if (!checkArgumentCount(args, 1, error)) return undefinedValue();
    return args[0];
}

constexpr auto E = ArgumentPolicy::Evaluated;
constexpr CommandHandler kMath[] = {
    {u"0", E, add},          {u"10", E, divide},        {u"25", E, remainder},
    {u"26", E, multiply},    {u"27", E, negate},        {u"37", E, subtract},
    {u"34", E, passOnlyArgument}, {u"35", E, passOnlyArgument},
    {u"32", E, passFirstOfTwo},   {u"33", E, passFirstOfTwo},
};

}  // namespace

std::span<const CommandHandler> mathCommands() { return kMath; }

}  // namespace measurement::rules
