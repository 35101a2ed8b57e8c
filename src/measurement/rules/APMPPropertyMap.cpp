#include "measurement/rules/APMPPropertyMap.h"

#include <algorithm>

#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {

bool APMPPropertyMap::hasName(std::u16string_view name) const {
    return entries_.find(name) != entries_.end();
}

const ValuePtr& APMPPropertyMap::valueForName(std::u16string_view name) const {
    const ValuePtr* value = find(name);
    return value ? *value : undefinedValue();
}

const ValuePtr* APMPPropertyMap::find(std::u16string_view name) const {
    const auto it = entries_.find(name);
    return it == entries_.end() ? nullptr : &it->second.value;
}

bool APMPPropertyMap::acceptsChangeOf(std::u16string_view name) const {
    if (immutable_) return false;
    const auto it = entries_.find(name);
    return it == entries_.end() || !it->second.immutable;
}

void APMPPropertyMap::setValue(ValuePtr value, std::u16string_view name) {
    if (!acceptsChangeOf(name)) return;
    const auto it = entries_.find(name);
    if (it != entries_.end()) {
        it->second.value = std::move(value);
    } else {
        entries_.emplace(std::u16string(name), Entry{std::move(value), false});
    }
}

void APMPPropertyMap::setImmutableValue(ValuePtr value, std::u16string_view name) {
    if (!acceptsChangeOf(name)) return;
    entries_.insert_or_assign(std::u16string(name), Entry{std::move(value), true});
}

void APMPPropertyMap::removeValueForName(std::u16string_view name) {
    if (!acceptsChangeOf(name)) return;
    const auto it = entries_.find(name);
    if (it != entries_.end()) entries_.erase(it);
}

std::vector<std::u16string> APMPPropertyMap::allNames() const {
    std::vector<std::u16string> names;
    names.reserve(entries_.size());
    for (const auto& [name, entry] : entries_) names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

bool APMPPropertyMap::holdsSoleReference() const {
    for (const auto& [name, entry] : entries_) {
        if (entry.value.use_count() == 1) return true;
    }
    return false;
}

void APMPPropertyMap::appendReferences(std::vector<const Collectable*>& out) const {
    for (const auto& [name, entry] : entries_) out.push_back(entry.value.get());
}

void APMPPropertyMap::detachReferences(std::vector<CollectablePtr>& out) {
    for (auto& [name, entry] : entries_) out.push_back(std::move(entry.value));
    entries_.clear();
}

}  // namespace measurement::rules
