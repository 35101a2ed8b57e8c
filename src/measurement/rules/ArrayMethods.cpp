#include "measurement/rules/ArrayMethods.h"

#include <cmath>

#include "measurement/rules/APMPFunctionValue.h"
#include "measurement/rules/APMPObjectManager.h"
#include "measurement/rules/APMPScope.h"
#include "measurement/rules/ExecutionBudget.h"
#include "measurement/rules/MethodTable.h"
#include "measurement/rules/NumberConversion.h"
#include "measurement/rules/ValueIndex.h"

namespace measurement::rules {
namespace {

using Table = MethodTable<APMPArrayValue>;

ValuePtr number(double value) { return APMPNumberValue::make(value); }

ValuePtr self(APMPArrayValue& array) { return array.shared_from_this(); }

// A new tracked array holding `slots`, charged to the run.
ValuePtr newArray(ValueList slots, const ScopePtr& scope, ErrorSlot& error) {
    if (!scope->budget().chargeArraySlots(slots.size(), error)) return undefinedValue();
    return APMPObjectManager::arrayValueWithArray(std::move(slots), *scope);
}

// ToInteger of an argument's number form; `absent` when it was not given.
double integerArgument(const ValueList& values, std::size_t index, double absent, ErrorSlot& error) {
    const APMPRuntimeValue* value = optionalArgument(values, index);
    if (!value) return absent;
    return toInteger(value->doubleValueOrError(error));
}

APMPFunctionValue* functionArgument(const ValueList& values, std::size_t index, ErrorSlot& error) {
    auto* function = valueAs<APMPFunctionValue>(values[index]);
    if (!function) fail(error, PixieErrorCode::WrongArgumentKind);
    return function;
}

bool isPresent(const APMPArrayValue& array, std::size_t index) {
    return index < array.count() && !APMPArrayValue::isHole(array.slots()[index]);
}

// Calls the callback with (element, index, array) for each present slot
// among those there at the start; `step` answers whether to go on.
template <typename Step>
void iterate(APMPArrayValue& array, const ValueList& values, const ScopePtr& scope, ErrorSlot& error, Step step) {
    APMPFunctionValue* callback = functionArgument(values, 0, error);
    if (!callback) return;
    const ValuePtr receiver = self(array);
    const std::size_t count = array.count();
    for (std::size_t i = 0; i < count; ++i) {
        if (!isPresent(array, i)) continue;
        const ValuePtr element = array.slots()[i];
        const ValuePtr result = callback->invokeWithArguments({element, number(static_cast<double>(i)), receiver},
                                                              scope, error);
        if (error) return;
        const bool goOn = step(i, element, result);
        if (error || !goOn) return;
    }
}

ValuePtr every(APMPArrayValue& array, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    bool stopped = false;
    iterate(array, values, scope, error, [&](std::size_t, const ValuePtr&, const ValuePtr& result) {
        stopped = !result->booleanValueOrError(error);
        return !stopped;
    });
    return booleanValue(!stopped);
}

ValuePtr some(APMPArrayValue& array, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    bool stopped = false;
    iterate(array, values, scope, error, [&](std::size_t, const ValuePtr&, const ValuePtr& result) {
        stopped = result->booleanValueOrError(error);
        return !stopped;
    });
    return booleanValue(stopped);
}

ValuePtr filter(APMPArrayValue& array, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    const auto kept = APMPObjectManager::arrayValueWithScope(*scope);
    iterate(array, values, scope, error, [&](std::size_t, const ValuePtr& element, const ValuePtr& result) {
        if (!result->booleanValueOrError(error)) return !error;
        return scope->budget().chargeArraySlots(1, error) && kept->appendElements({element}, error);
    });
    return kept;
}

ValuePtr forEach(APMPArrayValue& array, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    iterate(array, values, scope, error, [](std::size_t, const ValuePtr&, const ValuePtr&) { return true; });
    return undefinedValue();
}

ValuePtr map(APMPArrayValue& array, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    const auto mapped = APMPObjectManager::arrayValueWithScope(*scope);
    iterate(array, values, scope, error, [&](std::size_t i, const ValuePtr&, const ValuePtr& result) {
        const std::size_t before = mapped->count();
        return mapped->setValueForProperty(result, *number(static_cast<double>(i)), error) &&
               scope->budget().chargeArraySlots(mapped->count() - before, error);
    });
    return mapped;
}

// "reduce" walks forward, "reduceRight" backward.
ValuePtr reduceInDirection(APMPArrayValue& array, const ValueList& values, const ScopePtr& scope, ErrorSlot& error,
                           bool forward) {
    APMPFunctionValue* callback = functionArgument(values, 0, error);
    if (!callback) return undefinedValue();
    const long long count = static_cast<long long>(array.count());
    const long long step = forward ? 1 : -1;
    const long long end = forward ? count : -1;
    long long i = forward ? 0 : count - 1;
    ValuePtr accumulator;
    if (values.size() == 2) {
        if (values[1]->kind() == ValueKind::Control) {
            fail(error, PixieErrorCode::WrongArgumentKind);
            return undefinedValue();
        }
        accumulator = values[1];
    } else {
        for (; i != end && !isPresent(array, static_cast<std::size_t>(i)); i += step) {
        }
        if (i == end) {
            fail(error, PixieErrorCode::ReduceOfEmptyArray);
            return undefinedValue();
        }
        accumulator = array.slots()[static_cast<std::size_t>(i)];
        i += step;
    }
    const ValuePtr receiver = self(array);
    for (; i != end; i += step) {
        if (!isPresent(array, static_cast<std::size_t>(i))) continue;
        const ValuePtr element = array.slots()[static_cast<std::size_t>(i)];
        accumulator = callback->invokeWithArguments(
            {accumulator, element, number(static_cast<double>(i)), receiver}, scope, error);
        if (error) return undefinedValue();
    }
    return accumulator;
}

ValuePtr reduce(APMPArrayValue& array, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    return reduceInDirection(array, values, scope, error, true);
}

ValuePtr reduceRight(APMPArrayValue& array, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    return reduceInDirection(array, values, scope, error, false);
}

ValuePtr concat(APMPArrayValue& array, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    const auto joined = std::make_shared<APMPArrayValue>(array.slots());
    for (const ValuePtr& value : values) {
        if (!joined->concat(value, error)) return undefinedValue();
    }
    return newArray(joined->slots(), scope, error);
}

ValuePtr hasOwnProperty(APMPArrayValue& array, const ValueList& values, const ScopePtr&, ErrorSlot& error) {
    const std::u16string key = values[0]->stringValueOrError(error);
    if (error) return undefinedValue();
    if (key == u"length") return booleanValue(true);
    const bool has = array.hasProperty(*values[0], error);
    return error ? undefinedValue() : booleanValue(has);
}

ValuePtr indexOf(APMPArrayValue& array, const ValueList& values, const ScopePtr&, ErrorSlot& error) {
    const ValuePtr& searched = values.empty() ? undefinedValue() : values[0];
    double start = integerArgument(values, 1, 0, error);
    if (error) return undefinedValue();
    const double count = static_cast<double>(array.count());
    if (start >= count) return number(-1);
    if (start < 0) start = std::max(count + start, 0.0);
    const double found = array.indexOfValue(*searched, static_cast<std::size_t>(start), error);
    return error ? undefinedValue() : number(found);
}

ValuePtr lastIndexOf(APMPArrayValue& array, const ValueList& values, const ScopePtr&, ErrorSlot& error) {
    const ValuePtr& searched = values.empty() ? undefinedValue() : values[0];
    const double count = static_cast<double>(array.count());
    double start = count - 1;
    if (values.size() == 2) {
        const double given = values[1]->doubleValueOrError(error);
        if (error) return undefinedValue();
        if (!std::isnan(given)) {
            start = toInteger(given);
            if (start < 0) start += count;
        }
    }
    if (start < 0) return number(-1);
    start = std::min(start, count - 1);
    const double found = array.lastIndexOfValue(*searched, static_cast<std::size_t>(start), error);
    return error ? undefinedValue() : number(found);
}

ValuePtr join(APMPArrayValue& array, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    std::u16string separator = u",";
    if (!values.empty()) {
        const ValueKind kind = values[0]->kind();
        separator = (kind == ValueKind::Undefined || kind == ValueKind::Null) ? std::u16string()
                                                                               : values[0]->stringValueOrError(error);
        if (error) return undefinedValue();
    }
    std::u16string text = array.stringValueWithSeparator(separator, error);
    if (error) return undefinedValue();
    return scope->budget().newString(std::move(text), error);
}

ValuePtr toString(APMPArrayValue& array, const ValueList&, const ScopePtr& scope, ErrorSlot& error) {
    std::u16string text = array.stringValueOrError(error);
    if (error) return undefinedValue();
    return scope->budget().newString(std::move(text), error);
}

ValuePtr pop(APMPArrayValue& array, const ValueList&, const ScopePtr&, ErrorSlot&) {
    return array.removeLastElement();
}

ValuePtr shift(APMPArrayValue& array, const ValueList&, const ScopePtr&, ErrorSlot&) {
    return array.removeFirstElement();
}

ValuePtr push(APMPArrayValue& array, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    if (!scope->budget().chargeArraySlots(values.size(), error) || !array.appendElements(values, error)) {
        return undefinedValue();
    }
    return number(static_cast<double>(array.count()));
}

ValuePtr unshift(APMPArrayValue& array, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    if (!scope->budget().chargeArraySlots(values.size(), error) || !array.prependElements(values, error)) {
        return undefinedValue();
    }
    return number(static_cast<double>(array.count()));
}

ValuePtr reverse(APMPArrayValue& array, const ValueList&, const ScopePtr&, ErrorSlot&) {
    array.reverse();
    return self(array);
}

ValuePtr slice(APMPArrayValue& array, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    const std::size_t count = array.count();
    const double startArgument = integerArgument(values, 0, 0, error);
    if (error) return undefinedValue();
    const double endArgument = integerArgument(values, 1, static_cast<double>(count), error);
    if (error) return undefinedValue();
    const std::size_t start = relativePosition(startArgument, count);
    const std::size_t end = std::max(start, relativePosition(endArgument, count));
    if (!scope->budget().chargeArraySlots(end - start, error)) return undefinedValue();
    return APMPObjectManager::subarrayWithArray(array, start, end - start, *scope);
}

ValuePtr sort(APMPArrayValue& array, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    if (array.count() < 2) return self(array);
    APMPFunctionValue* compare = nullptr;
    if (!values.empty() && !(compare = functionArgument(values, 0, error))) return self(array);
    array.sortUsingFunctionValue(compare, scope, error);
    return self(array);
}

ValuePtr splice(APMPArrayValue& array, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    if (values.empty()) return newArray({}, scope, error);
    const std::size_t count = array.count();
    const double startArgument = integerArgument(values, 0, 0, error);
    if (error) return undefinedValue();
    const std::size_t start = relativePosition(startArgument, count);
    std::size_t deleteCount = count - start;
    if (values.size() >= 2) {
        const double given = integerArgument(values, 1, 0, error);
        if (error) return undefinedValue();
        deleteCount = clampedPosition(given, count - start);
    }
    const ValueList inserted(values.begin() + std::min<std::ptrdiff_t>(2, static_cast<std::ptrdiff_t>(values.size())),
                             values.end());
    if (!scope->budget().chargeArraySlots(inserted.size(), error)) return undefinedValue();
    ValueList removed = array.spliceFrom(start, deleteCount, inserted, error);
    if (error) return undefinedValue();
    return newArray(std::move(removed), scope, error);
}

constexpr std::size_t N = kAnyArgumentCount;
constexpr Table::Method kMethods[] = {
    {u"concat", 0, N, concat},        {u"every", 1, 1, every},
    {u"filter", 1, 1, filter},        {u"forEach", 1, 1, forEach},
    {u"hasOwnProperty", 1, 1, hasOwnProperty},
    {u"indexOf", 0, 2, indexOf},      {u"join", 0, 1, join},
    {u"lastIndexOf", 0, 2, lastIndexOf},
    {u"map", 1, 1, map},              {u"pop", 0, 0, pop},
    {u"push", 0, N, push},            {u"reduce", 1, 2, reduce},
    {u"reduceRight", 1, 2, reduceRight},
    {u"reverse", 0, 0, reverse},      {u"shift", 0, 0, shift},
    {u"slice", 0, 2, slice},          {u"some", 1, 1, some},
    {u"sort", 0, 1, sort},            {u"splice", 0, N, splice},
    {u"toString", 0, 0, toString},    {u"unshift", 0, N, unshift},
};

}  // namespace

ValuePtr applyArrayMethod(APMPArrayValue& receiver, std::u16string_view name,
                          const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error) {
    static const Table table(kMethods);
    return table.apply(receiver, name, arguments, scope, error);
}

}  // namespace measurement::rules
