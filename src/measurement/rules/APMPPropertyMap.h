#pragma once
// Names to values, with per-name and whole-table immutability: the contents
// of scopes, maps, arrays and function values. A refused change (an
// immutable name, a frozen table) is silent. allNames is sorted by code
// units, so every walk over a table is deterministic.

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

class APMPPropertyMap {
public:
    bool hasName(std::u16string_view name) const;
    // The value, or undefined when the name is absent.
    const ValuePtr& valueForName(std::u16string_view name) const;
    // Null when absent (for lookups that must tell absent from undefined).
    const ValuePtr* find(std::u16string_view name) const;

    void setValue(ValuePtr value, std::u16string_view name);
    void setImmutableValue(ValuePtr value, std::u16string_view name);
    void removeValueForName(std::u16string_view name);

    void makeImmutable() { immutable_ = true; }
    bool isImmutable() const { return immutable_; }

    std::vector<std::u16string> allNames() const;
    std::size_t count() const { return entries_.size(); }

    // True when some value is owned by this table alone.
    bool holdsSoleReference() const;

    // For the collector.
    void appendReferences(std::vector<const Collectable*>& out) const;
    void detachReferences(std::vector<CollectablePtr>& out);

private:
    struct Entry {
        ValuePtr value;
        bool immutable = false;
    };
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::u16string_view name) const noexcept {
            return std::hash<std::u16string_view>{}(name);
        }
    };
    bool acceptsChangeOf(std::u16string_view name) const;

    std::unordered_map<std::u16string, Entry, Hash, std::equal_to<>> entries_;
    bool immutable_ = false;
};

}  // namespace measurement::rules
