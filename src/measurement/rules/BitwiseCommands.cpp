// Bitwise opcodes on the 32-bit forms of the operands' numbers: &, <<, ~, |,
// >> (sign-filling), >>> (zero-filling, unsigned result) and ^.

#include <cstdint>

#include "measurement/rules/APMPEvaluator.h"
#include "measurement/rules/CommandTable.h"
#include "measurement/rules/NumberConversion.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {
namespace {

// Applies `op` to the number forms (a before b) of exactly two arguments.
template <typename Op>
ValuePtr bitwise(const ValueList& args, ErrorSlot& error, Op op) {
    if (!checkArgumentCount(args, 2, error)) return undefinedValue();
    const double a = args[0]->doubleValueOrError(error);
    if (error) return undefinedValue();
    const double b = args[1]->doubleValueOrError(error);
    if (error) return undefinedValue();
    return APMPNumberValue::make(static_cast<double>(op(a, b)));
}

std::uint32_t shiftCount(double b) { return toUint32(b) & 31u; }

ValuePtr bitAnd(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    return bitwise(args, error, [](double a, double b) { return toInt32(a) & toInt32(b); });
}

ValuePtr bitOr(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    return bitwise(args, error, [](double a, double b) { return toInt32(a) | toInt32(b); });
}

ValuePtr bitXor(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    return bitwise(args, error, [](double a, double b) { return toInt32(a) ^ toInt32(b); });
}

ValuePtr shiftLeft(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    return bitwise(args, error, [](double a, double b) {
        return static_cast<std::int32_t>(toUint32(a) << shiftCount(b));
    });
}

ValuePtr shiftRight(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    return bitwise(args, error, [](double a, double b) { return toInt32(a) >> shiftCount(b); });
}

ValuePtr shiftRightUnsigned(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    return bitwise(args, error, [](double a, double b) { return toUint32(a) >> shiftCount(b); });
}

ValuePtr bitNot(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    if (!checkArgumentCount(args, 1, error)) return undefinedValue();
    const double a = args[0]->doubleValueOrError(error);
    if (error) return undefinedValue();
    return APMPNumberValue::make(static_cast<double>(~toInt32(a)));
}

constexpr auto E = ArgumentPolicy::Evaluated;
constexpr CommandHandler kBitwise[] = {
    {u"56", E, bitAnd},     {u"57", E, shiftLeft},          {u"58", E, bitNot}, {u"59", E, bitOr},
    {u"60", E, shiftRight}, {u"61", E, shiftRightUnsigned}, {u"62", E, bitXor},
};

}  // namespace

std::span<const CommandHandler> bitwiseCommands() { return kBitwise; }

}  // namespace measurement::rules
