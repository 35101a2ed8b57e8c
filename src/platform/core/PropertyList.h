#pragma once
// A property-list value: Boolean, integer, real, string, data, date, array or
// dictionary. Boolean, number and string stay distinct kinds, so a value
// stored as the string "1" is never read back as a Boolean.
// Reading and writing binary and XML property lists goes through libplist.
//
// Integers are signed 64-bit. A stored unsigned integer above INT64_MAX reads
// as a Real (the nearest double) rather than wrapping to a negative number.
// Dates are kept in seconds since 1970; the files count from 2001. The XML
// format holds whole seconds only (fractions are truncated toward zero).
// A keyed-archive UID reads as the dictionary {"CF$UID": integer}, the shape
// XML property lists give it. Nesting deeper than kMaxPropertyListDepth
// containers is refused both ways.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace platform {

struct PropertyDate {
    double secondsSince1970 = 0;
    bool operator==(const PropertyDate&) const = default;
};

using PropertyData = std::vector<std::uint8_t>;

class PropertyValue;
using PropertyArray = std::vector<PropertyValue>;
using PropertyDictionary = std::map<std::string, PropertyValue>;

class PropertyValue {
public:
    enum class Kind { Boolean, Integer, Real, String, Data, Date, Array, Dictionary };

    PropertyValue();  // an empty dictionary
    PropertyValue(bool value);
    PropertyValue(int value);
    PropertyValue(long value);
    PropertyValue(long long value);
    PropertyValue(unsigned value);
    PropertyValue(double value);
    PropertyValue(const char* value);
    PropertyValue(std::string value);
    PropertyValue(PropertyData value);
    PropertyValue(PropertyDate value);
    PropertyValue(PropertyArray value);
    PropertyValue(PropertyDictionary value);

    Kind kind() const;
    bool isBoolean() const { return kind() == Kind::Boolean; }
    bool isNumber() const { return kind() == Kind::Integer || kind() == Kind::Real; }
    bool isString() const { return kind() == Kind::String; }

    // Typed reads: nullopt / nullptr when the value is of another kind.
    // asInteger and asReal read either numeric kind (a real truncates toward
    // zero, saturating); neither reads Booleans or strings.
    std::optional<bool> asBoolean() const;
    std::optional<std::int64_t> asInteger() const;
    std::optional<double> asReal() const;
    const std::string* asString() const;
    const PropertyData* asData() const;
    std::optional<PropertyDate> asDate() const;
    const PropertyArray* asArray() const;
    const PropertyDictionary* asDictionary() const;
    PropertyArray* asArray();
    PropertyDictionary* asDictionary();

    // Member of a dictionary value, or nullptr.
    const PropertyValue* find(const std::string& key) const;

    bool operator==(const PropertyValue& other) const;

private:
    std::variant<bool, std::int64_t, double, std::string, PropertyData, PropertyDate, PropertyArray,
                 PropertyDictionary>
        value_;
};

inline constexpr int kMaxPropertyListDepth = 512;

// The kind's name as logs show it: "Boolean", "Integer", "Real", "String",
// "Data", "Date", "Array" or "Dictionary".
const char* propertyKindName(PropertyValue::Kind kind);

// Parses a binary or XML property list; nullopt when the bytes are neither,
// are truncated, nest too deeply or would expand beyond a sane size.
[[nodiscard]] std::optional<PropertyValue> parsePropertyList(const std::uint8_t* bytes, std::size_t size);
[[nodiscard]] std::optional<PropertyValue> parsePropertyList(const PropertyData& bytes);
[[nodiscard]] std::optional<PropertyValue> readPropertyListFile(const std::string& path);

enum class PropertyListFormat { Binary, Xml };
// nullopt when the value cannot be represented faithfully: a string or key
// that is not valid UTF-8 or holds a NUL, a date that is not finite, or
// nesting deeper than kMaxPropertyListDepth.
[[nodiscard]] std::optional<PropertyData> serializePropertyList(const PropertyValue& value, PropertyListFormat format);

}  // namespace platform
