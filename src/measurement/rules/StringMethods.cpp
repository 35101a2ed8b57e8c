#include "measurement/rules/StringMethods.h"

#include <cmath>
#include <limits>

#include "measurement/rules/APMPArrayValue.h"
#include "measurement/rules/APMPFunctionValue.h"
#include "measurement/rules/APMPObjectManager.h"
#include "measurement/rules/APMPScope.h"
#include "measurement/rules/ExecutionBudget.h"
#include "measurement/rules/ExecutionLimits.h"
#include "measurement/rules/MethodTable.h"
#include "measurement/rules/NumberConversion.h"
#include "measurement/rules/RegularExpressionSearch.h"
#include "measurement/rules/Utf16Text.h"
#include "measurement/rules/ValueIndex.h"

namespace measurement::rules {
namespace {

using Table = MethodTable<const APMPStringValue>;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

ValuePtr number(double value) { return APMPNumberValue::make(value); }

ValuePtr newString(std::u16string text, const ScopePtr& scope, ErrorSlot& error) {
    return scope->budget().newString(std::move(text), error);
}

// The string form of an argument, "undefined" when it was not given.
std::u16string textArgument(const ValueList& values, std::size_t index, ErrorSlot& error) {
    const APMPRuntimeValue* value = optionalArgument(values, index);
    return value ? value->stringValueOrError(error) : u"undefined";
}

// ToInteger of an argument's number form; `absent` when it was not given.
double integerArgument(const ValueList& values, std::size_t index, double absent, ErrorSlot& error) {
    const APMPRuntimeValue* value = optionalArgument(values, index);
    if (!value) return absent;
    return toInteger(value->doubleValueOrError(error));
}

// A plain, case-sensitive search; an empty text is never found.
std::size_t find(std::u16string_view text, std::u16string_view searched, std::size_t from) {
    return searched.empty() ? std::u16string_view::npos : text.find(searched, from);
}

ValuePtr position(std::size_t found) {
    return number(found == std::u16string_view::npos ? -1 : static_cast<double>(found));
}

// A new tracked array of new strings, one per piece, charged to the run.
ValuePtr arrayOfTexts(std::vector<std::u16string> pieces, const ScopePtr& scope, ErrorSlot& error) {
    if (!scope->budget().chargeArraySlots(pieces.size(), error)) return undefinedValue();
    ValueList slots;
    slots.reserve(pieces.size());
    for (std::u16string& piece : pieces) {
        slots.push_back(newString(std::move(piece), scope, error));
        if (error) return undefinedValue();
    }
    return APMPObjectManager::arrayValueWithArray(std::move(slots), *scope);
}

ValuePtr charAt(const APMPStringValue& receiver, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    const std::u16string& text = receiver.value();
    const double index = integerArgument(values, 0, 0, error);
    if (error) return undefinedValue();
    if (index < 0 || index >= static_cast<double>(text.size())) return newString({}, scope, error);
    return newString(std::u16string(1, text[static_cast<std::size_t>(index)]), scope, error);
}

ValuePtr concat(const APMPStringValue& receiver, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    std::u16string text = receiver.value();
    for (const ValuePtr& value : values) {
        text += value->stringValueOrError(error);
        if (error) return undefinedValue();
        // Checked as it grows: many long arguments must not build a huge text.
        if (text.size() > kMaxStringLength) {
            fail(error, PixieErrorCode::SizeLimitExceeded);
            return undefinedValue();
        }
    }
    return newString(std::move(text), scope, error);
}

ValuePtr hasOwnProperty(const APMPStringValue& receiver, const ValueList& values, const ScopePtr&, ErrorSlot& error) {
    const std::u16string key = values[0]->stringValueOrError(error);
    if (error) return undefinedValue();
    if (key == u"length") return booleanValue(true);
    const double index = values[0]->doubleValueOrError(error);
    if (error) return undefinedValue();
    return booleanValue(std::isfinite(index) && index == std::trunc(index) && index >= 0 &&
                        index < static_cast<double>(receiver.value().size()));
}

ValuePtr indexOf(const APMPStringValue& receiver, const ValueList& values, const ScopePtr&, ErrorSlot& error) {
    const std::u16string& text = receiver.value();
    const std::u16string searched = textArgument(values, 0, error);
    if (error) return undefinedValue();
    const double start = integerArgument(values, 1, 0, error);
    if (error) return undefinedValue();
    return position(find(text, searched, clampedPosition(start, text.size())));
}

ValuePtr lastIndexOf(const APMPStringValue& receiver, const ValueList& values, const ScopePtr&, ErrorSlot& error) {
    const std::u16string& text = receiver.value();
    const std::u16string searched = textArgument(values, 0, error);
    if (error) return undefinedValue();
    double start = kInfinity;
    if (values.size() == 2) {
        const double given = values[1]->doubleValueOrError(error);
        if (error) return undefinedValue();
        if (!std::isnan(given)) start = toInteger(given);
    }
    if (searched.empty()) return number(-1);
    return position(std::u16string_view(text).rfind(searched, clampedPosition(start, text.size())));
}

ValuePtr match(const APMPStringValue& receiver, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    const std::u16string pattern = values.empty() ? std::u16string() : values[0]->stringValueOrError(error);
    if (error) return undefinedValue();
    if (pattern.empty()) return arrayOfTexts({std::u16string()}, scope, error);
    const std::optional<TextRange> found = firstRegularExpressionMatch(pattern, receiver.value(), error);
    if (error) return undefinedValue();
    if (!found) return nullValue();
    return arrayOfTexts({receiver.value().substr(found->location, found->length)}, scope, error);
}

ValuePtr search(const APMPStringValue& receiver, const ValueList& values, const ScopePtr&, ErrorSlot& error) {
    const std::u16string pattern = textArgument(values, 0, error);
    if (error) return undefinedValue();
    if (pattern.empty()) return number(0);
    const std::optional<TextRange> found = firstRegularExpressionMatch(pattern, receiver.value(), error);
    if (error) return undefinedValue();
    return number(found ? static_cast<double>(found->location) : -1);
}

ValuePtr replace(const APMPStringValue& receiver, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    const std::u16string& text = receiver.value();
    const std::u16string pattern = textArgument(values, 0, error);
    if (error) return undefinedValue();
    const std::size_t found = pattern.empty() ? 0 : find(text, pattern, 0);
    if (found == std::u16string_view::npos) return newString(text, scope, error);
    std::u16string replacement = u"undefined";
    if (values.size() == 2) {
        ValuePtr given = values[1];
        if (auto* function = valueAs<APMPFunctionValue>(given)) {
            given = function->invokeWithArguments(
                {APMPStringValue::make(pattern), number(static_cast<double>(found)), APMPStringValue::make(text)},
                scope, error);
            if (error) return undefinedValue();
        }
        replacement = given->stringValueOrError(error);
        if (error) return undefinedValue();
    }
    std::u16string result = text.substr(0, found);
    result += replacement;
    result += std::u16string_view(text).substr(found + pattern.size());
    return newString(std::move(result), scope, error);
}

ValuePtr slice(const APMPStringValue& receiver, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    const std::u16string& text = receiver.value();
    const double startArgument = integerArgument(values, 0, 0, error);
    if (error) return undefinedValue();
    const double endArgument = integerArgument(values, 1, static_cast<double>(text.size()), error);
    if (error) return undefinedValue();
    const std::size_t start = relativePosition(startArgument, text.size());
    const std::size_t end = relativePosition(endArgument, text.size());
    return newString(end > start ? text.substr(start, end - start) : std::u16string(), scope, error);
}

ValuePtr substring(const APMPStringValue& receiver, const ValueList& values, const ScopePtr& scope,
                   ErrorSlot& error) {
    const std::u16string& text = receiver.value();
    const double startArgument = integerArgument(values, 0, 0, error);
    if (error) return undefinedValue();
    const double endArgument = integerArgument(values, 1, static_cast<double>(text.size()), error);
    if (error) return undefinedValue();
    std::size_t start = clampedPosition(startArgument, text.size());
    std::size_t end = clampedPosition(endArgument, text.size());
    if (start > end) std::swap(start, end);
    return newString(text.substr(start, end - start), scope, error);
}

ValuePtr split(const APMPStringValue& receiver, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    const std::u16string& text = receiver.value();
    if (text.empty() || values.empty()) return arrayOfTexts({text}, scope, error);
    const std::u16string separator = values[0]->stringValueOrError(error);
    if (error) return undefinedValue();
    std::size_t limit = std::numeric_limits<std::uint32_t>::max();
    if (values.size() == 2) {
        limit = toUint32(values[1]->doubleValueOrError(error));
        if (error) return undefinedValue();
    }
    std::vector<std::u16string> pieces;
    // Past the array cap the pieces could never be stored: stop there.
    const auto room = [&] {
        if (pieces.size() < kMaxArrayLength) return true;
        return fail(error, PixieErrorCode::SizeLimitExceeded);
    };
    if (separator.empty()) {
        for (std::size_t i = 0; i < text.size() && pieces.size() < limit && room(); ++i) {
            pieces.emplace_back(1, text[i]);
        }
    } else {
        std::size_t begin = 0;
        while (pieces.size() < limit && room()) {
            const std::size_t found = text.find(separator, begin);
            pieces.push_back(text.substr(begin, found == std::u16string::npos ? std::u16string::npos : found - begin));
            if (found == std::u16string::npos) break;
            begin = found + separator.size();
        }
    }
    if (error) return undefinedValue();
    return arrayOfTexts(std::move(pieces), scope, error);
}

ValuePtr toLowerCase(const APMPStringValue& receiver, const ValueList&, const ScopePtr& scope, ErrorSlot& error) {
    return newString(lowerCased(receiver.value(), CaseLocale::Default), scope, error);
}

ValuePtr toLocaleLowerCase(const APMPStringValue& receiver, const ValueList&, const ScopePtr& scope,
                           ErrorSlot& error) {
    return newString(lowerCased(receiver.value(), CaseLocale::Current), scope, error);
}

ValuePtr toUpperCase(const APMPStringValue& receiver, const ValueList&, const ScopePtr& scope, ErrorSlot& error) {
    return newString(upperCased(receiver.value(), CaseLocale::Default), scope, error);
}

ValuePtr toLocaleUpperCase(const APMPStringValue& receiver, const ValueList&, const ScopePtr& scope,
                           ErrorSlot& error) {
    return newString(upperCased(receiver.value(), CaseLocale::Current), scope, error);
}

ValuePtr toString(const APMPStringValue& receiver, const ValueList&, const ScopePtr& scope, ErrorSlot& error) {
    return newString(receiver.value(), scope, error);
}

ValuePtr trim(const APMPStringValue& receiver, const ValueList&, const ScopePtr& scope, ErrorSlot& error) {
    return newString(std::u16string(trimWhiteSpaceAndNewlines(receiver.value())), scope, error);
}

constexpr std::size_t N = kAnyArgumentCount;
constexpr Table::Method kMethods[] = {
    {u"charAt", 0, 1, charAt},
    {u"concat", 0, N, concat},
    {u"hasOwnProperty", 1, 1, hasOwnProperty},
    {u"indexOf", 0, 2, indexOf},
    {u"lastIndexOf", 0, 2, lastIndexOf},
    {u"match", 0, 1, match},
    {u"replace", 0, 2, replace},
    {u"search", 0, 1, search},
    {u"slice", 0, 2, slice},
    {u"split", 0, 2, split},
    {u"substring", 0, 2, substring},
    {u"toLowerCase", 0, 0, toLowerCase},
    {u"toLocaleLowerCase", 0, 0, toLocaleLowerCase},
    {u"toUpperCase", 0, 0, toUpperCase},
    {u"toLocaleUpperCase", 0, 0, toLocaleUpperCase},
    {u"toString", 0, 0, toString},
    {u"trim", 0, 0, trim},
};

}  // namespace

ValuePtr applyStringMethod(APMPStringValue& receiver, std::u16string_view name,
                           const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error) {
    static const Table table(kMethods);
    return table.apply(receiver, name, arguments, scope, error);
}

}  // namespace measurement::rules
