#include "measurement/rules/APMPArrayValue.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "measurement/rules/ArrayMethods.h"
#include "measurement/rules/ExecutionLimits.h"
#include "measurement/rules/MethodCall.h"
#include "measurement/rules/NumberConversion.h"
#include "measurement/rules/ScalarValues.h"
#include "measurement/rules/ValueComparison.h"
#include "measurement/rules/ValueIndex.h"

namespace measurement::rules {
namespace {

bool isLengthKey(const APMPRuntimeValue& key) {
    const auto* text = valueAs<APMPStringValue>(key);
    return text && text->value() == u"length";
}

// Joins the slots of `array`; `path` holds the arrays being joined further
// up, so that an array containing itself contributes an empty piece instead
// of recursing forever.
bool appendJoined(const APMPArrayValue& array, std::u16string_view separator,
                  std::vector<const APMPArrayValue*>& path, std::u16string& out, ErrorSlot& error) {
    if (path.size() >= static_cast<std::size_t>(kMaxNestingDepth)) {
        return fail(error, PixieErrorCode::NestingTooDeep);
    }
    path.push_back(&array);
    const ValueList& slots = array.slots();
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (i > 0) out += separator;
        const APMPRuntimeValue& slot = *slots[i];
        switch (slot.kind()) {
            case ValueKind::Hole:
            case ValueKind::Undefined:
            case ValueKind::Null:
                break;
            case ValueKind::Array: {
                const auto& nested = static_cast<const APMPArrayValue&>(slot);
                if (std::find(path.begin(), path.end(), &nested) != path.end()) break;
                if (!appendJoined(nested, u",", path, out, error)) return false;
                break;
            }
            default:
                out += slot.stringValueOrError(error);
                if (error) return false;
        }
        if (out.size() > kMaxStringLength) return fail(error, PixieErrorCode::SizeLimitExceeded);
    }
    path.pop_back();
    return true;
}

}  // namespace

APMPArrayValue::APMPArrayValue() : APMPRuntimeValue(kKind) {}

APMPArrayValue::APMPArrayValue(ValueList slots) : APMPRuntimeValue(kKind), slots_(std::move(slots)) {}

APMPArrayValue::~APMPArrayValue() { releaseReferencesOf(*this); }

bool APMPArrayValue::isHole(const ValuePtr& slot) { return slot->kind() == ValueKind::Hole; }

std::u16string APMPArrayValue::stringValueWithSeparator(std::u16string_view separator,
                                                        ErrorSlot& error) const {
    std::vector<const APMPArrayValue*> path;
    std::u16string out;
    if (!appendJoined(*this, separator, path, out, error)) return {};
    return out;
}

std::u16string APMPArrayValue::stringValueOrError(ErrorSlot& error) const {
    return stringValueWithSeparator(u",", error);
}

double APMPArrayValue::doubleValueOrError(ErrorSlot& error) const {
    const std::u16string text = stringValueOrError(error);
    if (error) return std::numeric_limits<double>::quiet_NaN();
    return stringToNumber(text);
}

bool APMPArrayValue::booleanValueOrError(ErrorSlot&) const { return true; }

ValuePtr APMPArrayValue::applyWithName(std::u16string_view name, const ValueList& arguments,
                                       const ScopePtr& scope, ErrorSlot& error) {
    if (const ValuePtr* property = properties_.find(name)) {
        return invokeAsMethod(*property, arguments, scope, error);
    }
    return applyArrayMethod(*this, name, arguments, scope, error);
}

bool APMPArrayValue::setLength(std::size_t count, ErrorSlot& error) {
    if (count > kMaxArrayLength) return fail(error, PixieErrorCode::SizeLimitExceeded);
    if (count < slots_.size()) {
        // Dropped slots may head deep structures: release them iteratively.
        std::vector<CollectablePtr> dropped(std::make_move_iterator(slots_.begin() + static_cast<std::ptrdiff_t>(count)),
                                            std::make_move_iterator(slots_.end()));
        slots_.resize(count);
        releaseIteratively(std::move(dropped));
    } else {
        slots_.resize(count, emptyValue());
    }
    return true;
}

bool APMPArrayValue::setValueForProperty(ValuePtr value, const APMPRuntimeValue& key,
                                         ErrorSlot& error) {
    const std::u16string name = key.stringValueOrError(error);
    if (error) return false;
    if (isLengthKey(key)) {
        const auto length = (value->kind() == ValueKind::Number || value->kind() == ValueKind::String)
                                ? indexFromKey(*value)
                                : std::nullopt;
        if (!length) return fail(error, PixieErrorCode::InvalidArrayLength);
        return setLength(*length, error);
    }
    if (const std::optional<std::size_t> index = indexFromKey(key)) {
        if (*index >= kMaxArrayLength) return fail(error, PixieErrorCode::SizeLimitExceeded);
        if (*index >= slots_.size() && !setLength(*index + 1, error)) return false;
        slots_[*index] = std::move(value);
        return true;
    }
    properties_.setValue(std::move(value), name);
    return true;
}

ValuePtr APMPArrayValue::valueForProperty(const APMPRuntimeValue& key, ErrorSlot& error) const {
    const std::u16string name = key.stringValueOrError(error);
    if (error) return undefinedValue();
    if (isLengthKey(key)) return APMPNumberValue::make(static_cast<double>(slots_.size()));
    if (const std::optional<std::size_t> index = indexFromKey(key)) {
        if (*index >= slots_.size() || isHole(slots_[*index])) return undefinedValue();
        return slots_[*index];
    }
    return properties_.valueForName(name);
}

void APMPArrayValue::removeValueForProperty(const APMPRuntimeValue& key, ErrorSlot& error) {
    const std::u16string name = key.stringValueOrError(error);
    if (error) return;
    if (!isLengthKey(key)) {
        if (const std::optional<std::size_t> index = indexFromKey(key)) {
            if (*index < slots_.size()) slots_[*index] = emptyValue();
            return;
        }
    }
    properties_.removeValueForName(name);
}

bool APMPArrayValue::hasProperty(const APMPRuntimeValue& key, ErrorSlot& error) const {
    const std::u16string name = key.stringValueOrError(error);
    if (error) return false;
    if (!isLengthKey(key)) {
        if (const std::optional<std::size_t> index = indexFromKey(key)) {
            return *index < slots_.size() && !isHole(slots_[*index]);
        }
    }
    return properties_.hasName(name);
}

std::vector<std::u16string> APMPArrayValue::allPropertyNames() const {
    std::vector<std::u16string> names = properties_.allNames();
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (!isHole(slots_[i])) names.push_back(numberToString(static_cast<double>(i)));
    }
    return names;
}

ValueList APMPArrayValue::allElements() const {
    ValueList elements;
    elements.reserve(slots_.size());
    for (const ValuePtr& slot : slots_) elements.push_back(isHole(slot) ? undefinedValue() : slot);
    return elements;
}

std::shared_ptr<APMPArrayValue> APMPArrayValue::subarrayWithRange(std::size_t location,
                                                                  std::size_t length) const {
    const std::size_t begin = std::min(location, slots_.size());
    const std::size_t end = begin + std::min(length, slots_.size() - begin);
    return std::make_shared<APMPArrayValue>(
        ValueList(slots_.begin() + static_cast<std::ptrdiff_t>(begin),
                  slots_.begin() + static_cast<std::ptrdiff_t>(end)));
}

ValueList APMPArrayValue::spliceFrom(std::size_t start, std::size_t deleteCount, const ValueList& values,
                                     ErrorSlot& error) {
    const std::size_t begin = std::min(start, slots_.size());
    const std::size_t removedCount = std::min(deleteCount, slots_.size() - begin);
    if (slots_.size() - removedCount + values.size() > kMaxArrayLength) {
        fail(error, PixieErrorCode::SizeLimitExceeded);
        return {};
    }
    const auto first = slots_.begin() + static_cast<std::ptrdiff_t>(begin);
    ValueList removed(first, first + static_cast<std::ptrdiff_t>(removedCount));
    slots_.erase(first, first + static_cast<std::ptrdiff_t>(removedCount));
    slots_.insert(slots_.begin() + static_cast<std::ptrdiff_t>(begin), values.begin(), values.end());
    return removed;
}

bool APMPArrayValue::concat(const ValuePtr& value, ErrorSlot& error) {
    if (value->kind() == ValueKind::Control) return fail(error, PixieErrorCode::WrongArgumentKind);
    if (const auto* other = valueAs<APMPArrayValue>(value)) {
        // A copy first: the array may be this one.
        const ValueList added = other->slots_;
        return appendElements(added, error);
    }
    return appendElements({value}, error);
}

void APMPArrayValue::reverse() { std::reverse(slots_.begin(), slots_.end()); }

ValuePtr APMPArrayValue::removeFirstElement() {
    if (slots_.empty()) return undefinedValue();
    ValuePtr removed = std::move(slots_.front());
    slots_.erase(slots_.begin());
    return isHole(removed) ? undefinedValue() : removed;
}

ValuePtr APMPArrayValue::removeLastElement() {
    if (slots_.empty()) return undefinedValue();
    ValuePtr removed = std::move(slots_.back());
    slots_.pop_back();
    return isHole(removed) ? undefinedValue() : removed;
}

bool APMPArrayValue::appendElements(const ValueList& values, ErrorSlot& error) {
    if (values.size() > kMaxArrayLength - slots_.size()) return fail(error, PixieErrorCode::SizeLimitExceeded);
    slots_.insert(slots_.end(), values.begin(), values.end());
    return true;
}

bool APMPArrayValue::prependElements(const ValueList& values, ErrorSlot& error) {
    if (values.size() > kMaxArrayLength - slots_.size()) return fail(error, PixieErrorCode::SizeLimitExceeded);
    slots_.insert(slots_.begin(), values.begin(), values.end());
    return true;
}

double APMPArrayValue::indexOfValue(const APMPRuntimeValue& value, std::size_t from, ErrorSlot& error) const {
    for (std::size_t i = from; i < slots_.size(); ++i) {
        const bool equal = strictEquals(*slots_[i], value, error);
        if (error) return -1;
        if (equal) return static_cast<double>(i);
    }
    return -1;
}

double APMPArrayValue::lastIndexOfValue(const APMPRuntimeValue& value, std::size_t from,
                                        ErrorSlot& error) const {
    if (slots_.empty()) return -1;
    for (std::size_t i = std::min(from, slots_.size() - 1) + 1; i-- > 0;) {
        const bool equal = strictEquals(*slots_[i], value, error);
        if (error) return -1;
        if (equal) return static_cast<double>(i);
    }
    return -1;
}

void APMPArrayValue::appendReferences(std::vector<const Collectable*>& out) const {
    properties_.appendReferences(out);
    for (const ValuePtr& slot : slots_) out.push_back(slot.get());
}

void APMPArrayValue::detachReferences(std::vector<CollectablePtr>& out) {
    properties_.detachReferences(out);
    for (ValuePtr& slot : slots_) out.push_back(std::move(slot));
    slots_.clear();
}

}  // namespace measurement::rules
