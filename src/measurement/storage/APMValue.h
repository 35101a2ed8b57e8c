#pragma once
// APMValue: the typed value of event parameters and user properties, one of
// a double (kind 0), a signed 64-bit integer (1), a string (2) or an array of
// parameter dictionaries (3). APMParameters: a parameter dictionary, name to
// value, keeping insertion order (setting an existing name replaces its value
// in place). APMObject: an object handed in from outside the layer, either a
// property-list value (number, string, array, ...) or an APMValue.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/core/PropertyList.h"

class APMValue;

class APMParameters {
public:
    using Entry = std::pair<std::string, APMValue>;

    APMParameters() = default;
    APMParameters(std::initializer_list<Entry> entries);

    // Defined after APMValue: some standard libraries instantiate the vector's
    // members at once, which needs APMValue complete.
    std::size_t size() const;
    bool empty() const;
    bool contains(const std::string& name) const { return find(name) != nullptr; }
    const APMValue* find(const std::string& name) const;
    void set(std::string name, APMValue value);
    bool erase(const std::string& name);

    std::vector<Entry>::const_iterator begin() const;
    std::vector<Entry>::const_iterator end() const;

    // Equal when both map the same names to equal values, in any order.
    bool operator==(const APMParameters& other) const;

private:
    std::vector<Entry> entries_;
};

class APMValue {
public:
    enum class Kind { Double = 0, Int64 = 1, String = 2, Array = 3 };

    explicit APMValue(double value) : value_(value) {}
    template <std::integral I>
        requires(!std::same_as<I, bool>)
    explicit APMValue(I value) : value_(static_cast<std::int64_t>(value)) {}
    explicit APMValue(std::string value) : value_(std::move(value)) {}
    explicit APMValue(const char* value) : value_(std::string(value)) {}
    explicit APMValue(std::vector<APMParameters> items) : value_(std::move(items)) {}

    // From a number (a real gives a double; an integer or a Boolean an int64),
    // a string or, when `allowArray`, an array of dictionaries (an array
    // element that is no dictionary, and a member that is neither number nor
    // string, is left out); an APMValue is returned as it is. A missing object
    // logs 35000 and any other object 35001 (both level 0) and gives none.
    using Object = std::variant<platform::PropertyValue, APMValue>;
    [[nodiscard]] static std::optional<APMValue> valueFromObject(const Object* object, bool allowArray = false);

    Kind kind() const { return static_cast<Kind>(value_.index()); }
    bool isDouble() const { return kind() == Kind::Double; }
    bool isInt64() const { return kind() == Kind::Int64; }
    bool isString() const { return kind() == Kind::String; }
    bool isArray() const { return kind() == Kind::Array; }

    // A double as it is, an int64 converted, 0 otherwise.
    double doubleValue() const;
    // An int64 as it is, a double truncated toward zero (saturating), 0 otherwise.
    std::int64_t int64Value() const;
    // Null unless a string / an array.
    const std::string* stringValue() const;
    const std::vector<APMParameters>* arrayValue() const;

    // The value for log lines: numbers in decimal, strings as they are,
    // arrays as APMObjectDescription prints them.
    std::string description() const;

    bool operator==(const APMValue& other) const { return value_ == other.value_; }

private:
    std::variant<double, std::int64_t, std::string, std::vector<APMParameters>> value_;
};

inline std::size_t APMParameters::size() const { return entries_.size(); }
inline bool APMParameters::empty() const { return entries_.empty(); }
inline std::vector<APMParameters::Entry>::const_iterator APMParameters::begin() const { return entries_.begin(); }
inline std::vector<APMParameters::Entry>::const_iterator APMParameters::end() const { return entries_.end(); }

using APMObject = APMValue::Object;

// An indented description of a parameter dictionary or an array of them, for
// log lines: "{\n    name = value;\n}" and "(\n    {...},\n)".
std::string APMObjectDescription(const APMParameters& parameters);
std::string APMObjectDescription(const std::vector<APMParameters>& items);
