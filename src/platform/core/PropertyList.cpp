#include "platform/core/PropertyList.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_map>

namespace platform {

// ---------------------------------------------------------------------------
// PropertyValue

PropertyValue::PropertyValue() : value_(PropertyDictionary{}) {}
PropertyValue::PropertyValue(bool value) : value_(value) {}
PropertyValue::PropertyValue(int value) : value_(std::int64_t{value}) {}
PropertyValue::PropertyValue(long value) : value_(std::int64_t{value}) {}
PropertyValue::PropertyValue(long long value) : value_(std::int64_t{value}) {}
PropertyValue::PropertyValue(unsigned value) : value_(std::int64_t{value}) {}
PropertyValue::PropertyValue(double value) : value_(value) {}
PropertyValue::PropertyValue(const char* value) : value_(std::string(value)) {}
PropertyValue::PropertyValue(std::string value) : value_(std::move(value)) {}
PropertyValue::PropertyValue(PropertyData value) : value_(std::move(value)) {}
PropertyValue::PropertyValue(PropertyDate value) : value_(value) {}
PropertyValue::PropertyValue(PropertyArray value) : value_(std::move(value)) {}
PropertyValue::PropertyValue(PropertyDictionary value) : value_(std::move(value)) {}

PropertyValue::Kind PropertyValue::kind() const {
    // The variant's alternatives are listed in the order of Kind.
    return static_cast<Kind>(value_.index());
}

std::optional<bool> PropertyValue::asBoolean() const {
    if (const auto* value = std::get_if<bool>(&value_)) return *value;
    return std::nullopt;
}

std::optional<std::int64_t> PropertyValue::asInteger() const {
    if (const auto* value = std::get_if<std::int64_t>(&value_)) return *value;
    const auto* real = std::get_if<double>(&value_);
    if (real == nullptr || std::isnan(*real)) return std::nullopt;
    // 2^63 is exactly representable; anything at or beyond it saturates.
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (*real >= kTwoTo63) return std::numeric_limits<std::int64_t>::max();
    if (*real < -kTwoTo63) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(*real);
}

std::optional<double> PropertyValue::asReal() const {
    if (const auto* value = std::get_if<double>(&value_)) return *value;
    if (const auto* value = std::get_if<std::int64_t>(&value_)) return static_cast<double>(*value);
    return std::nullopt;
}

const std::string* PropertyValue::asString() const { return std::get_if<std::string>(&value_); }
const PropertyData* PropertyValue::asData() const { return std::get_if<PropertyData>(&value_); }

std::optional<PropertyDate> PropertyValue::asDate() const {
    if (const auto* value = std::get_if<PropertyDate>(&value_)) return *value;
    return std::nullopt;
}

const PropertyArray* PropertyValue::asArray() const { return std::get_if<PropertyArray>(&value_); }
const PropertyDictionary* PropertyValue::asDictionary() const { return std::get_if<PropertyDictionary>(&value_); }
PropertyArray* PropertyValue::asArray() { return std::get_if<PropertyArray>(&value_); }
PropertyDictionary* PropertyValue::asDictionary() { return std::get_if<PropertyDictionary>(&value_); }

const PropertyValue* PropertyValue::find(const std::string& key) const {
    const auto* dictionary = asDictionary();
    if (dictionary == nullptr) return nullptr;
    auto it = dictionary->find(key);
    return it == dictionary->end() ? nullptr : &it->second;
}

bool PropertyValue::operator==(const PropertyValue& other) const { return value_ == other.value_; }

namespace {

// Seconds between 1970-01-01 and 2001-01-01, the origin of property-list dates.
constexpr double kSecondsFrom1970To2001 = 978307200.0;
// Upper bound on the objects a binary property list may expand to. Binary
// lists share objects by reference, so a few hundred bytes can describe a
// tree of billions of nodes; the parser would build every one of them.
constexpr std::uint64_t kMaxExpandedObjects = 1u << 20;

struct PlistDeleter {
    void operator()(void* node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// ---------------------------------------------------------------------------
// Guards run before the bytes reach libplist, whose parsers recurse without a
// depth limit and expand shared binary objects without a size limit.

std::uint64_t readBigEndian(const std::uint8_t* bytes, unsigned width) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < width; ++i) value = (value << 8) | bytes[i];
    return value;
}

class BinaryShapeCheck {
public:
    BinaryShapeCheck(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    bool withinLimits() {
        constexpr std::size_t kHeader = 8, kTrailer = 32;
        if (size_ < kHeader + kTrailer) return false;
        const std::uint8_t* trailer = bytes_ + size_ - kTrailer;
        offsetWidth_ = trailer[6];
        referenceWidth_ = trailer[7];
        objectCount_ = readBigEndian(trailer + 8, 8);
        const std::uint64_t top = readBigEndian(trailer + 16, 8);
        tableOffset_ = readBigEndian(trailer + 24, 8);
        objectsEnd_ = size_ - kTrailer;
        if (offsetWidth_ < 1 || offsetWidth_ > 8 || referenceWidth_ < 1 || referenceWidth_ > 8) return false;
        if (objectCount_ == 0 || top >= objectCount_) return false;
        if (tableOffset_ < kHeader || tableOffset_ >= objectsEnd_) return false;
        if (objectCount_ > (objectsEnd_ - tableOffset_) / offsetWidth_) return false;
        Shape shape;
        return visit(top, 0, shape) && shape.height <= kMaxPropertyListDepth;
    }

private:
    struct Shape {
        int height = 0;             // containers on the longest path down, this one included
        std::uint64_t expanded = 0; // nodes once every reference is copied out
        bool done = false;
    };

    bool visit(std::uint64_t object, int depth, Shape& out) {
        if (depth > kMaxPropertyListDepth) return false;
        auto [it, inserted] = shapes_.try_emplace(object);
        if (!inserted) {
            if (!it->second.done) return false;  // a reference cycle
            out = it->second;
            return depth + out.height <= kMaxPropertyListDepth;
        }
        std::uint64_t offset = 0;
        if (!offsetOf(object, offset)) return false;
        Shape shape{0, 1, false};
        const std::uint8_t marker = bytes_[offset];
        const unsigned type = marker >> 4;
        if (type == 0xA || type == 0xC || type == 0xD) {
            std::uint64_t position = offset + 1;
            std::uint64_t count = marker & 0x0F;
            if (count == 0x0F && !readExtendedCount(position, count)) return false;
            const std::uint64_t references = type == 0xD ? count * 2 : count;
            if (count > objectsEnd_ || references > (objectsEnd_ - position) / referenceWidth_) return false;
            for (std::uint64_t i = 0; i < references; ++i) {
                const std::uint64_t child = readBigEndian(bytes_ + position + i * referenceWidth_, referenceWidth_);
                if (child >= objectCount_) return false;
                if (type == 0xD && i < count && !isPlainStringKey(child)) return false;
                Shape childShape;
                if (!visit(child, depth + 1, childShape)) return false;
                shape.height = std::max(shape.height, childShape.height);
                shape.expanded += childShape.expanded;
                if (shape.expanded > kMaxExpandedObjects) return false;
            }
            shape.height += 1;
        }
        shape.done = true;
        shapes_[object] = shape;  // the map may have rehashed during the children
        out = shape;
        return true;
    }

    bool offsetOf(std::uint64_t object, std::uint64_t& offset) const {
        offset = readBigEndian(bytes_ + tableOffset_ + object * offsetWidth_, offsetWidth_);
        return offset >= 8 && offset < objectsEnd_;
    }

    // Dictionary keys must be strings without NUL characters: libplist aborts
    // the process on a key whose length disagrees with its C string.
    bool isPlainStringKey(std::uint64_t object) const {
        std::uint64_t offset = 0;
        if (!offsetOf(object, offset)) return false;
        const std::uint8_t marker = bytes_[offset];
        const unsigned type = marker >> 4;
        if (type != 0x5 && type != 0x6) return false;
        std::uint64_t position = offset + 1;
        std::uint64_t count = marker & 0x0F;
        if (count == 0x0F && !readExtendedCount(position, count)) return false;
        const unsigned unitWidth = type == 0x6 ? 2 : 1;
        if (count > (objectsEnd_ - position) / unitWidth) return false;
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint8_t* unit = bytes_ + position + i * unitWidth;
            if (readBigEndian(unit, unitWidth) == 0) return false;
        }
        return true;
    }

    // A count of 15 or more follows the marker as an integer object.
    bool readExtendedCount(std::uint64_t& position, std::uint64_t& count) const {
        if (position >= objectsEnd_) return false;
        const std::uint8_t marker = bytes_[position];
        if ((marker >> 4) != 0x1 || (marker & 0x0F) > 3) return false;
        const unsigned width = 1u << (marker & 0x0F);
        if (width > objectsEnd_ - position - 1) return false;
        count = readBigEndian(bytes_ + position + 1, width);
        position += 1 + width;
        return true;
    }

    const std::uint8_t* bytes_;
    std::size_t size_;
    unsigned offsetWidth_ = 0;
    unsigned referenceWidth_ = 0;
    std::uint64_t objectCount_ = 0;
    std::uint64_t tableOffset_ = 0;
    std::uint64_t objectsEnd_ = 0;
    std::unordered_map<std::uint64_t, Shape> shapes_;
};

bool startsWith(const std::uint8_t* at, const std::uint8_t* end, const char* text) {
    const std::size_t length = std::strlen(text);
    return static_cast<std::size_t>(end - at) >= length && std::memcmp(at, text, length) == 0;
}

const std::uint8_t* skipPast(const std::uint8_t* at, const std::uint8_t* end, const char* terminator) {
    const std::size_t length = std::strlen(terminator);
    for (; at + length <= end; ++at) {
        if (std::memcmp(at, terminator, length) == 0) return at + length;
    }
    return end;
}

bool isNameCharacter(std::uint8_t c) {
    return std::isalnum(c) || c == '_' || c == '-' || c == '.' || c == ':';
}

// Counts open <array> and <dict> elements, skipping comments, CDATA sections,
// processing instructions and declarations, whose text the parser ignores.
// Over-counting only refuses odd input; under-counting would let it through.
bool xmlWithinLimits(const std::uint8_t* bytes, std::size_t size) {
    // XML has no NUL character; libplist would keep one inside a key and then
    // abort on the key's length.
    if (std::memchr(bytes, 0, size) != nullptr) return false;
    const std::uint8_t* at = bytes;
    const std::uint8_t* end = bytes + size;
    int depth = 0;
    while (at < end) {
        at = static_cast<const std::uint8_t*>(std::memchr(at, '<', end - at));
        if (at == nullptr) break;
        if (startsWith(at, end, "<!--")) {
            at = skipPast(at + 4, end, "-->");
        } else if (startsWith(at, end, "<![CDATA[")) {
            at = skipPast(at + 9, end, "]]>");
        } else if (startsWith(at, end, "<?")) {
            at = skipPast(at + 2, end, "?>");
        } else if (startsWith(at, end, "<!")) {
            at = skipPast(at + 2, end, ">");
        } else {
            const bool closing = at + 1 < end && at[1] == '/';
            const std::uint8_t* name = at + (closing ? 2 : 1);
            const std::uint8_t* nameEnd = name;
            while (nameEnd < end && isNameCharacter(*nameEnd)) ++nameEnd;
            const std::string tag(name, nameEnd);
            const std::uint8_t* tagEnd = static_cast<const std::uint8_t*>(std::memchr(nameEnd, '>', end - nameEnd));
            if (tagEnd == nullptr) tagEnd = end;
            const bool selfClosing = tagEnd < end && tagEnd > nameEnd && tagEnd[-1] == '/';
            if (tag == "array" || tag == "dict") {
                if (closing) {
                    depth = std::max(0, depth - 1);
                } else if (!selfClosing && ++depth > kMaxPropertyListDepth) {
                    return false;
                }
            }
            at = tagEnd;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Exact scalars. libplist's accessors pass dates as 32-bit seconds since 2001
// (with the fraction's sign lost) and integers without their signedness, but
// its binary encoding carries both exactly, so such scalars travel through a
// one-object binary list.

constexpr std::uint8_t kDateMarker = 0x33;           // 8-byte big-endian double
constexpr std::uint8_t kSixteenByteIntMarker = 0x14;  // written only for unsigned values above INT64_MAX
constexpr std::size_t kFirstObjectOffset = 8;         // right after "bplist00"

// The encoded bytes of a lone scalar node: marker first.
PropertyData encodedScalar(plist_t node) {
    PlistPtr copy(plist_copy(node));
    char* bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(copy.get(), &bytes, &length);
    if (bytes == nullptr) return {};
    PropertyData object;
    if (length > kFirstObjectOffset) object.assign(bytes + kFirstObjectOffset, bytes + length);
    plist_to_bin_free(bytes);
    return object;
}

std::optional<PropertyDate> readDate(plist_t node) {
    const PropertyData object = encodedScalar(node);
    if (object.size() < 9 || object[0] != kDateMarker) return std::nullopt;
    const std::uint64_t bits = readBigEndian(object.data() + 1, 8);
    double since2001 = 0;
    std::memcpy(&since2001, &bits, sizeof since2001);
    return PropertyDate{since2001 + kSecondsFrom1970To2001};
}

plist_t newDateNode(PropertyDate date) {
    if (!std::isfinite(date.secondsSince1970)) return nullptr;
    const double since2001 = date.secondsSince1970 - kSecondsFrom1970To2001;
    std::uint64_t bits = 0;
    std::memcpy(&bits, &since2001, sizeof bits);
    // "bplist00", the date object, a one-entry offset table and the trailer.
    std::uint8_t list[8 + 9 + 1 + 32] = {'b', 'p', 'l', 'i', 's', 't', '0', '0', kDateMarker};
    for (int i = 0; i < 8; ++i) list[9 + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    list[17] = kFirstObjectOffset;
    std::uint8_t* trailer = list + 18;
    trailer[6] = 1;    // offset width
    trailer[7] = 1;    // reference width
    trailer[15] = 1;   // one object; the top object is 0
    trailer[31] = 17;  // the offset table follows the object
    plist_t node = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(list), sizeof list, &node);
    if (node != nullptr && plist_get_node_type(node) != PLIST_DATE) {
        plist_free(node);
        return nullptr;
    }
    return node;
}

// ---------------------------------------------------------------------------
// libplist nodes -> PropertyValue

bool holdsUnsignedAboveInt64(plist_t node) {
    const PropertyData object = encodedScalar(node);
    return !object.empty() && object[0] == kSixteenByteIntMarker;
}

// `depth` counts the containers enclosing a node.
std::optional<PropertyValue> fromNode(plist_t node, int depth);

std::optional<PropertyValue> arrayFromNode(plist_t node, int depth) {
    if (depth >= kMaxPropertyListDepth) return std::nullopt;
    PropertyArray array;
    const std::uint32_t size = plist_array_get_size(node);
    array.reserve(size);
    for (std::uint32_t i = 0; i < size; ++i) {
        auto item = fromNode(plist_array_get_item(node, i), depth + 1);
        if (!item) return std::nullopt;
        array.push_back(std::move(*item));
    }
    return PropertyValue(std::move(array));
}

std::optional<PropertyValue> dictionaryFromNode(plist_t node, int depth) {
    if (depth >= kMaxPropertyListDepth) return std::nullopt;
    PropertyDictionary dictionary;
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(node, &iterator);
    if (iterator == nullptr) return std::nullopt;
    bool ok = true;
    while (ok) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, iterator, &key, &item);
        if (item == nullptr) {
            std::free(key);
            break;
        }
        auto value = fromNode(item, depth + 1);
        if (key == nullptr || !value) {
            ok = false;
        } else {
            dictionary.insert_or_assign(key, std::move(*value));
        }
        std::free(key);
    }
    std::free(iterator);
    if (!ok) return std::nullopt;
    return PropertyValue(std::move(dictionary));
}

std::optional<PropertyValue> fromNode(plist_t node, int depth) {
    if (node == nullptr) return std::nullopt;
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            std::uint8_t value = 0;
            plist_get_bool_val(node, &value);
            return PropertyValue(value != 0);
        }
        case PLIST_UINT: {
            std::uint64_t value = 0;
            plist_get_uint_val(node, &value);
            if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) &&
                holdsUnsignedAboveInt64(node)) {
                return PropertyValue(static_cast<double>(value));
            }
            return PropertyValue(static_cast<long long>(value));
        }
        case PLIST_REAL: {
            double value = 0;
            plist_get_real_val(node, &value);
            return PropertyValue(value);
        }
        case PLIST_STRING: {
            std::uint64_t length = 0;
            const char* text = plist_get_string_ptr(node, &length);
            return PropertyValue(text == nullptr ? std::string() : std::string(text, length));
        }
        case PLIST_DATA: {
            std::uint64_t length = 0;
            const char* bytes = plist_get_data_ptr(node, &length);
            const auto* begin = reinterpret_cast<const std::uint8_t*>(bytes);
            return PropertyValue(bytes == nullptr ? PropertyData() : PropertyData(begin, begin + length));
        }
        case PLIST_DATE: {
            auto date = readDate(node);
            if (!date) return std::nullopt;
            return PropertyValue(*date);
        }
        case PLIST_ARRAY:
            return arrayFromNode(node, depth);
        case PLIST_DICT:
            return dictionaryFromNode(node, depth);
        case PLIST_UID: {
            std::uint64_t value = 0;
            plist_get_uid_val(node, &value);
            return PropertyValue(PropertyDictionary{{"CF$UID", PropertyValue(static_cast<long long>(value))}});
        }
        default:
            return std::nullopt;
    }
}

// ---------------------------------------------------------------------------
// PropertyValue -> libplist nodes

bool isRepresentableText(const std::string& text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
    if (static_cast<std::size_t>(length) != text.size()) return false;
    for (std::int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c <= 0) return false;  // ill-formed (negative) or NUL, which C strings would cut off
    }
    return true;
}

// `depth` counts the containers enclosing a value.
PlistPtr toNode(const PropertyValue& value, int depth);

PlistPtr arrayToNode(const PropertyArray& array, int depth) {
    if (depth >= kMaxPropertyListDepth) return nullptr;
    PlistPtr node(plist_new_array());
    for (const auto& item : array) {
        auto child = toNode(item, depth + 1);
        if (!child) return nullptr;
        plist_array_append_item(node.get(), child.release());
    }
    return node;
}

PlistPtr dictionaryToNode(const PropertyDictionary& dictionary, int depth) {
    if (depth >= kMaxPropertyListDepth) return nullptr;
    PlistPtr node(plist_new_dict());
    for (const auto& [key, item] : dictionary) {
        if (!isRepresentableText(key)) return nullptr;
        auto child = toNode(item, depth + 1);
        if (!child) return nullptr;
        plist_dict_set_item(node.get(), key.c_str(), child.release());
    }
    return node;
}

PlistPtr toNode(const PropertyValue& value, int depth) {
    switch (value.kind()) {
        case PropertyValue::Kind::Boolean:
            return PlistPtr(plist_new_bool(*value.asBoolean() ? 1 : 0));
        case PropertyValue::Kind::Integer:
            return PlistPtr(plist_new_uint(static_cast<std::uint64_t>(*value.asInteger())));
        case PropertyValue::Kind::Real:
            return PlistPtr(plist_new_real(*value.asReal()));
        case PropertyValue::Kind::String:
            if (!isRepresentableText(*value.asString())) return nullptr;
            return PlistPtr(plist_new_string(value.asString()->c_str()));
        case PropertyValue::Kind::Data: {
            const auto& data = *value.asData();
            return PlistPtr(plist_new_data(reinterpret_cast<const char*>(data.data()), data.size()));
        }
        case PropertyValue::Kind::Date:
            return PlistPtr(newDateNode(*value.asDate()));
        case PropertyValue::Kind::Array:
            return arrayToNode(*value.asArray(), depth);
        case PropertyValue::Kind::Dictionary:
            return dictionaryToNode(*value.asDictionary(), depth);
    }
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Public entry points

std::optional<PropertyValue> parsePropertyList(const std::uint8_t* bytes, std::size_t size) {
    if (bytes == nullptr || size == 0 || size > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    const auto* text = reinterpret_cast<const char*>(bytes);
    const auto length = static_cast<std::uint32_t>(size);
    plist_t root = nullptr;
    if (startsWith(bytes, bytes + size, "bplist00")) {
        if (!BinaryShapeCheck(bytes, size).withinLimits()) return std::nullopt;
        plist_from_bin(text, length, &root);
    } else {
        if (!xmlWithinLimits(bytes, size)) return std::nullopt;
        // A NUL-terminated copy, in case the XML reader looks one byte past
        // the length it is given.
        const std::string terminated(text, size);
        plist_from_xml(terminated.c_str(), length, &root);
    }
    if (root == nullptr) return std::nullopt;
    PlistPtr owner(root);
    return fromNode(root, 0);
}

std::optional<PropertyValue> parsePropertyList(const PropertyData& bytes) {
    return parsePropertyList(bytes.data(), bytes.size());
}

std::optional<PropertyValue> readPropertyListFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    PropertyData bytes;
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
              static_cast<std::uint64_t>(info.st_size) <= std::numeric_limits<std::uint32_t>::max();
    if (ok) {
        bytes.resize(static_cast<std::size_t>(info.st_size));
        std::size_t filled = 0;
        while (ok && filled < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + filled, bytes.size() - filled);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ok = n == 0;  // the file shrank while being read: take what is there
                bytes.resize(filled);
                break;
            }
            filled += static_cast<std::size_t>(n);
        }
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    return parsePropertyList(bytes);
}

std::optional<PropertyData> serializePropertyList(const PropertyValue& value, PropertyListFormat format) {
    auto root = toNode(value, 0);
    if (!root) return std::nullopt;
    char* output = nullptr;
    std::uint32_t length = 0;
    if (format == PropertyListFormat::Binary) {
        plist_to_bin(root.get(), &output, &length);
    } else {
        plist_to_xml(root.get(), &output, &length);
    }
    if (output == nullptr) return std::nullopt;
    PropertyData bytes(output, output + length);
    if (format == PropertyListFormat::Binary) {
        plist_to_bin_free(output);
    } else {
        plist_to_xml_free(output);
    }
    return bytes;
}

const char* propertyKindName(PropertyValue::Kind kind) {
    using Kind = PropertyValue::Kind;
    switch (kind) {
        case Kind::Boolean: return "Boolean";
        case Kind::Integer: return "Integer";
        case Kind::Real: return "Real";
        case Kind::String: return "String";
        case Kind::Data: return "Data";
        case Kind::Date: return "Date";
        case Kind::Array: return "Array";
        case Kind::Dictionary: return "Dictionary";
    }
    return "Unknown";
}

}  // namespace platform
