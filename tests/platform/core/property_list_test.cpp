#include "platform/core/PropertyList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

using platform::parsePropertyList;
using platform::PropertyArray;
using platform::PropertyData;
using platform::PropertyDate;
using platform::PropertyDictionary;
using platform::PropertyListFormat;
using platform::PropertyValue;
using platform::serializePropertyList;
using Kind = PropertyValue::Kind;

PropertyData bytesOf(const std::string& text) { return PropertyData(text.begin(), text.end()); }

PropertyData xmlDocument(const std::string& body) {
    return bytesOf("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body + "</plist>");
}

std::optional<PropertyValue> roundTrip(const PropertyValue& value, PropertyListFormat format) {
    auto bytes = serializePropertyList(value, format);
    if (!bytes) return std::nullopt;
    return parsePropertyList(*bytes);
}

PropertyValue nestedArrays(int depth) {
    PropertyValue value = PropertyArray{};
    for (int i = 1; i < depth; ++i) {
        PropertyArray outer;
        outer.push_back(std::move(value));  // a braced list would deep-copy every level
        value = std::move(outer);
    }
    return value;
}

// Builds binary property lists object by object, so tests can state exactly
// the bytes a foreign writer (or an attacker) would produce.
class BinaryListBuilder {
public:
    std::uint32_t add(PropertyData object) {
        objects_.push_back(std::move(object));
        return static_cast<std::uint32_t>(objects_.size() - 1);
    }
    // An array (or, with `marker` 0xD0, a dictionary) referring to `references`.
    static PropertyData container(const std::vector<std::uint32_t>& references, std::uint8_t marker = 0xA0) {
        const std::size_t count = marker == 0xD0 ? references.size() / 2 : references.size();
        PropertyData object;
        if (count < 15) {
            object.push_back(static_cast<std::uint8_t>(marker | count));
        } else {
            object = {static_cast<std::uint8_t>(marker | 0x0F), 0x12};
            appendBigEndian(object, count, 4);
        }
        for (auto reference : references) appendBigEndian(object, reference, 4);
        return object;
    }
    PropertyData build(std::uint32_t top) const {
        PropertyData out = bytesOf("bplist00");
        std::vector<std::uint64_t> offsets;
        for (const auto& object : objects_) {
            offsets.push_back(out.size());
            out.insert(out.end(), object.begin(), object.end());
        }
        const std::uint64_t table = out.size();
        for (auto offset : offsets) appendBigEndian(out, offset, 4);
        out.insert(out.end(), 6, 0);
        out.push_back(4);  // offset width
        out.push_back(4);  // reference width
        appendBigEndian(out, objects_.size(), 8);
        appendBigEndian(out, top, 8);
        appendBigEndian(out, table, 8);
        return out;
    }

private:
    static void appendBigEndian(PropertyData& out, std::uint64_t value, int width) {
        for (int shift = (width - 1) * 8; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
    std::vector<PropertyData> objects_;
};

PropertyDictionary everyKind() {
    PropertyData bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<std::uint8_t>(i));
    return PropertyDictionary{
        {"true", true},
        {"false", false},
        {"zero", 0},
        {"minusOne", -1},
        {"large", 1LL << 40},
        {"max", std::numeric_limits<std::int64_t>::max()},
        {"min", std::numeric_limits<std::int64_t>::min()},
        {"real", 3.25},
        {"negativeReal", -1e-7},
        {"string", "h\xC3\xA9llo \xE2\x9C\x93 <&> ]]> \"quoted\""},
        {"emptyString", ""},
        {"data", bytes},
        {"zeros", PropertyData{0, 0, 0}},
        {"emptyData", PropertyData{}},
        {"date", PropertyDate{1700000000}},
        {"emptyArray", PropertyArray{}},
        {"emptyDictionary", PropertyDictionary{}},
        {"nested", PropertyArray{PropertyArray{1, "two", PropertyDictionary{{"three", PropertyArray{3.0}}}},
                                 PropertyDictionary{{"", "empty key"}, {"k\xC3\xA9y", true}}}},
    };
}

class PropertyListRoundTrip : public ::testing::TestWithParam<PropertyListFormat> {};

TEST_P(PropertyListRoundTrip, KeepsEveryKindAndValue) {
    const PropertyValue original = everyKind();
    auto back = roundTrip(original, GetParam());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, original);
}

TEST_P(PropertyListRoundTrip, KeepsBooleanIntegerRealAndStringApart) {
    auto back = roundTrip(PropertyDictionary{{"b", true}, {"i", 1}, {"r", 1.0}, {"s", "1"}}, GetParam());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->find("b")->kind(), Kind::Boolean);
    EXPECT_EQ(back->find("i")->kind(), Kind::Integer);
    EXPECT_EQ(back->find("r")->kind(), Kind::Real);
    EXPECT_EQ(back->find("s")->kind(), Kind::String);
    EXPECT_FALSE(back->find("s")->asBoolean());
    EXPECT_FALSE(back->find("b")->asInteger());
}

TEST_P(PropertyListRoundTrip, KeepsScalarTopLevels) {
    for (const PropertyValue& value : {PropertyValue(true), PropertyValue(-7), PropertyValue("text"),
                                       PropertyValue(PropertyData{0, 1}), PropertyValue(PropertyArray{})}) {
        auto back = roundTrip(value, GetParam());
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, value);
    }
}

TEST_P(PropertyListRoundTrip, KeepsWholeSecondDatesOnBothSidesOf2001AndFarAway) {
    const double dates[] = {0, 978307200, 978307200 - 86400 * 365.0, 1700000000,
                            -5364662400,    // 1800-01-01
                            64092211200,    // 4001-01-01, the customary far-future sentinel
                            3000000000};    // past 2038
    for (double seconds : dates) {
        auto back = roundTrip(PropertyDate{seconds}, GetParam());
        ASSERT_TRUE(back) << seconds;
        ASSERT_TRUE(back->asDate()) << seconds;
        EXPECT_DOUBLE_EQ(back->asDate()->secondsSince1970, seconds);
    }
}

TEST_P(PropertyListRoundTrip, KeepsInfiniteReals) {
    for (double value : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        auto back = roundTrip(value, GetParam());
        ASSERT_TRUE(back);
        EXPECT_EQ(back->asReal(), value);
    }
}

TEST_P(PropertyListRoundTrip, AcceptsTheDeepestAllowedNestingAndRefusesOneMore) {
    auto deepest = roundTrip(nestedArrays(platform::kMaxPropertyListDepth), GetParam());
    ASSERT_TRUE(deepest);
    EXPECT_EQ(*deepest, nestedArrays(platform::kMaxPropertyListDepth));
    EXPECT_FALSE(serializePropertyList(nestedArrays(platform::kMaxPropertyListDepth + 1), GetParam()));
}

TEST_P(PropertyListRoundTrip, RefusesValuesItCannotStoreFaithfully) {
    const std::string withNul("a\0b", 3);
    EXPECT_FALSE(serializePropertyList(PropertyValue(withNul), GetParam()));
    EXPECT_FALSE(serializePropertyList(PropertyValue("bad \xFF\xFE utf-8"), GetParam()));
    EXPECT_FALSE(serializePropertyList(PropertyDictionary{{"\xC3", 1}}, GetParam()));
    EXPECT_FALSE(serializePropertyList(PropertyArray{PropertyDate{std::nan("")}}, GetParam()));
}

INSTANTIATE_TEST_SUITE_P(PropertyList, PropertyListRoundTrip,
                         ::testing::Values(PropertyListFormat::Binary, PropertyListFormat::Xml),
                         [](const auto& info) { return info.param == PropertyListFormat::Binary ? "Binary" : "Xml"; });

TEST(PropertyListBinary, KeepsFractionalDatesIncludingBefore2001) {
    for (double seconds : {1700000000.25, 978307200 - 4.5, 978307200 - 0.5, 978307200 + 0.75}) {
        auto back = roundTrip(PropertyDate{seconds}, PropertyListFormat::Binary);
        ASSERT_TRUE(back && back->asDate()) << seconds;
        EXPECT_NEAR(back->asDate()->secondsSince1970, seconds, 1e-6);
    }
}

TEST(PropertyListBinary, WritesTheBinaryFormat) {
    auto bytes = serializePropertyList(PropertyDictionary{{"a", 1}}, PropertyListFormat::Binary);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 8), "bplist00");
}

TEST(PropertyListBinary, CountsDatesFrom2001) {
    BinaryListBuilder builder;
    PropertyData date{0x33, 0x41, 0xD9, 0x46, 0x21, 0x40, 0, 0, 0};  // 1696105728.0 seconds after 2001
    const auto top = builder.add(date);
    auto value = parsePropertyList(builder.build(top));
    ASSERT_TRUE(value && value->asDate());
    EXPECT_DOUBLE_EQ(value->asDate()->secondsSince1970, 1696105728.0 + 978307200.0);
}

TEST(PropertyListBinary, ReadsKeyedArchiveUidsAsTheirDictionaryForm) {
    BinaryListBuilder builder;
    const auto top = builder.add({0x80, 0x07});
    auto value = parsePropertyList(builder.build(top));
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, PropertyValue(PropertyDictionary{{"CF$UID", 7}}));
}

TEST(PropertyListBinary, ReadsUnsignedIntegersAboveInt64AsReals) {
    BinaryListBuilder builder;
    PropertyData unsignedMax{0x14};
    unsignedMax.insert(unsignedMax.end(), 8, 0);
    unsignedMax.insert(unsignedMax.end(), 8, 0xFF);
    PropertyData minusOne{0x13};
    minusOne.insert(minusOne.end(), 8, 0xFF);
    const auto a = builder.add(unsignedMax);
    const auto b = builder.add(minusOne);
    const auto top = builder.add(BinaryListBuilder::container({a, b}));
    auto value = parsePropertyList(builder.build(top));
    ASSERT_TRUE(value && value->asArray());
    const auto& items = *value->asArray();
    EXPECT_EQ(items[0].kind(), Kind::Real);
    EXPECT_DOUBLE_EQ(*items[0].asReal(), 18446744073709551615.0);
    EXPECT_EQ(items[1], PropertyValue(-1));
}

TEST(PropertyListXml, ReadsEachElementAsItsKind) {
    auto value = parsePropertyList(xmlDocument(
        "<dict><key>t</key><true/><key>f</key><false/><key>i</key><integer>-12</integer>"
        "<key>r</key><real>2.5</real><key>s</key><string>1</string><key>d</key><data>AAEA</data>"
        "<key>when</key><date>2001-01-01T00:00:00Z</date><key>a</key><array><integer>1</integer></array>"
        "<key>big</key><integer>18446744073709551615</integer></dict>"));
    ASSERT_TRUE(value);
    EXPECT_EQ(value->find("t")->asBoolean(), true);
    EXPECT_EQ(value->find("f")->asBoolean(), false);
    EXPECT_EQ(value->find("i")->asInteger(), -12);
    EXPECT_EQ(value->find("r")->asReal(), 2.5);
    EXPECT_EQ(*value->find("s")->asString(), "1");
    EXPECT_EQ(*value->find("d")->asData(), (PropertyData{0, 1, 0}));
    EXPECT_EQ(value->find("when")->asDate(), PropertyDate{978307200});
    EXPECT_EQ(*value->find("a"), PropertyValue(PropertyArray{1}));
    EXPECT_EQ(value->find("big")->kind(), Kind::Real);
}

TEST(PropertyListMalformed, RefusesGarbageAndEmptyInput) {
    EXPECT_FALSE(parsePropertyList(PropertyData{}));
    EXPECT_FALSE(parsePropertyList(nullptr, 10));
    EXPECT_FALSE(parsePropertyList(bytesOf("hello, world")));
    EXPECT_FALSE(parsePropertyList(bytesOf("{\"json\": true}")));
    EXPECT_FALSE(parsePropertyList(bytesOf("bplist00")));
    EXPECT_FALSE(parsePropertyList(bytesOf("bplist00" + std::string(64, '\xFF'))));
    EXPECT_FALSE(parsePropertyList(xmlDocument("<dict><key>a</key></dict")));
    EXPECT_FALSE(parsePropertyList(xmlDocument("<integer>12</string>")));
}

TEST(PropertyListMalformed, RefusesEveryTruncationOfABinaryList) {
    auto bytes = serializePropertyList(everyKind(), PropertyListFormat::Binary);
    ASSERT_TRUE(bytes);
    for (std::size_t length = 0; length < bytes->size(); ++length) {
        EXPECT_FALSE(parsePropertyList(bytes->data(), length)) << "length " << length;
    }
}

TEST(PropertyListMalformed, SurvivesEveryTruncationOfAnXmlList) {
    auto bytes = serializePropertyList(everyKind(), PropertyListFormat::Xml);
    ASSERT_TRUE(bytes);
    const std::string text(bytes->begin(), bytes->end());
    const std::size_t rootClosed = text.rfind("</dict>");
    for (std::size_t length = 0; length < rootClosed; ++length) {
        // An exact-size copy lets the sanitizer catch any read past the end.
        PropertyData prefix(bytes->begin(), bytes->begin() + length);
        EXPECT_FALSE(parsePropertyList(prefix)) << "length " << length;
    }
}

TEST(PropertyListMalformed, SurvivesRandomlyDamagedBinaryLists) {
    auto original = serializePropertyList(everyKind(), PropertyListFormat::Binary);
    ASSERT_TRUE(original);
    std::mt19937 random(12345);
    for (int round = 0; round < 3000; ++round) {
        PropertyData damaged = *original;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i) damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
        (void)parsePropertyList(damaged);  // must answer without crashing; any answer is fine
    }
}

TEST(PropertyListMalformed, RefusesDictionaryKeysHoldingNul) {
    BinaryListBuilder ascii;
    const auto key = ascii.add({0x53, 'a', 0, 'b'});
    const auto value = ascii.add({0x09});
    const auto top = ascii.add(BinaryListBuilder::container({key, value}, 0xD0));
    EXPECT_FALSE(parsePropertyList(ascii.build(top)));

    BinaryListBuilder utf16;
    const auto wideKey = utf16.add({0x62, 0, 'a', 0, 0});
    const auto wideValue = utf16.add({0x09});
    const auto wideTop = utf16.add(BinaryListBuilder::container({wideKey, wideValue}, 0xD0));
    EXPECT_FALSE(parsePropertyList(utf16.build(wideTop)));

    EXPECT_FALSE(parsePropertyList(xmlDocument(std::string("<dict><key>a\0b</key><true/></dict>", 34))));
}

TEST(PropertyListMalformed, RefusesNonStringDictionaryKeys) {
    BinaryListBuilder builder;
    const auto key = builder.add({0x10, 0x01});
    const auto value = builder.add({0x09});
    const auto top = builder.add(BinaryListBuilder::container({key, value}, 0xD0));
    EXPECT_FALSE(parsePropertyList(builder.build(top)));
}

TEST(PropertyListMalformed, RefusesXmlNestedBeyondTheLimit) {
    const int depth = 100000;
    std::string body;
    for (int i = 0; i < depth; ++i) body += "<array>";
    for (int i = 0; i < depth; ++i) body += "</array>";
    EXPECT_FALSE(parsePropertyList(xmlDocument(body)));
}

TEST(PropertyListMalformed, CommentsCannotHideXmlNesting) {
    const int depth = platform::kMaxPropertyListDepth + 10;
    std::string body = "<!--";
    for (int i = 0; i < depth; ++i) body += "</array>";
    body += "-->";
    for (int i = 0; i < depth; ++i) body += "<array>";
    for (int i = 0; i < depth; ++i) body += "</array>";
    EXPECT_FALSE(parsePropertyList(xmlDocument(body)));
}

TEST(PropertyListMalformed, RefusesBinaryNestedBeyondTheLimit) {
    const std::uint32_t depth = 100000;
    BinaryListBuilder builder;
    for (std::uint32_t i = 0; i + 1 < depth; ++i) builder.add(BinaryListBuilder::container({i + 1}));
    builder.add(BinaryListBuilder::container({}));
    EXPECT_FALSE(parsePropertyList(builder.build(0)));
}

TEST(PropertyListMalformed, RefusesBinaryReferenceCycles) {
    BinaryListBuilder builder;
    builder.add(BinaryListBuilder::container({1}));
    builder.add(BinaryListBuilder::container({0}));
    EXPECT_FALSE(parsePropertyList(builder.build(0)));
}

TEST(PropertyListMalformed, RefusesSharedReferencesThatExpandExponentially) {
    // Each array holds its successor twice: 64 levels describe 2^64 nodes.
    const std::uint32_t levels = 64;
    BinaryListBuilder builder;
    for (std::uint32_t i = 0; i + 1 < levels; ++i) builder.add(BinaryListBuilder::container({i + 1, i + 1}));
    builder.add({0x10, 0x05});
    EXPECT_FALSE(parsePropertyList(builder.build(0)));
}

TEST(PropertyListMalformed, AcceptsModestSharing) {
    // Writers share equal objects; a thousand references to one string is normal.
    BinaryListBuilder builder;
    const auto text = builder.add({0x51, 'x'});
    const auto top = builder.add(BinaryListBuilder::container(std::vector<std::uint32_t>(1000, text)));
    auto value = parsePropertyList(builder.build(top));
    ASSERT_TRUE(value && value->asArray());
    EXPECT_EQ(value->asArray()->size(), 1000u);
    EXPECT_EQ(value->asArray()->back(), PropertyValue("x"));
}

TEST(PropertyListFile, MissingFileOrFolderReadsAsNothing) {
    EXPECT_FALSE(platform::readPropertyListFile("/nonexistent/folder/file.plist"));
    EXPECT_FALSE(platform::readPropertyListFile("/"));
}

TEST(PropertyValue, DefaultIsAnEmptyDictionary) {
    PropertyValue value;
    ASSERT_NE(value.asDictionary(), nullptr);
    EXPECT_TRUE(value.asDictionary()->empty());
}

TEST(PropertyValue, TypedReadsRefuseOtherKinds) {
    const PropertyValue text("1"), flag(true), number(1), data(PropertyData{1});
    EXPECT_FALSE(text.asBoolean());
    EXPECT_FALSE(text.asInteger());
    EXPECT_FALSE(flag.asInteger());
    EXPECT_FALSE(flag.asReal());
    EXPECT_FALSE(number.asBoolean());
    EXPECT_EQ(number.asString(), nullptr);
    EXPECT_EQ(data.asString(), nullptr);
    EXPECT_FALSE(data.asDate());
    EXPECT_EQ(number.find("x"), nullptr);
    EXPECT_NE(PropertyValue(true), PropertyValue(1));
    EXPECT_NE(PropertyValue(1), PropertyValue(1.0));
}

TEST(PropertyValue, NumbersReadAcrossIntegerAndReal) {
    EXPECT_EQ(PropertyValue(7).asReal(), 7.0);
    EXPECT_EQ(PropertyValue(2.9).asInteger(), 2);
    EXPECT_EQ(PropertyValue(-2.9).asInteger(), -2);
    EXPECT_EQ(PropertyValue(1e300).asInteger(), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(PropertyValue(-1e300).asInteger(), std::numeric_limits<std::int64_t>::min());
    EXPECT_FALSE(PropertyValue(std::nan("")).asInteger());
}

}  // namespace
