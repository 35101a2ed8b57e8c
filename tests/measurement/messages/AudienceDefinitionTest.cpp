// Audience, EventFilter, PropertyFilter, Filter, NumberFilter, StringFilter:
// validity of fetched definitions and the internal names they are stored with.
#include <gtest/gtest.h>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/AudienceNameRewriting.h"
#include "measurement/messages/AudienceValidation.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/SemanticsTestSupport.h"
#include "measurement/messages/WireWriter.h"

namespace {

WireWriter stringTest(std::uint64_t matchType, const char* expression) {
    WireWriter filter;
    filter.varint(1, matchType);
    if (expression != nullptr) filter.string(2, expression);
    return filter;
}

WireWriter numberTest(std::uint64_t type, const char* value) {
    WireWriter filter;
    filter.varint(1, type);
    if (value != nullptr) filter.string(3, value);
    return filter;
}

WireWriter paramFilter(const char* name, const WireWriter& stringFilter) {
    return std::move(WireWriter().message(1, stringFilter).string(4, name));
}

WireWriter eventFilter(std::uint64_t filterID, const char* eventName) {
    return std::move(WireWriter().varint(1, filterID).string(2, eventName));
}

WireWriter propertyFilter(std::uint64_t filterID, const char* name, const WireWriter& test) {
    return std::move(WireWriter().varint(1, filterID).string(2, name).message(3, test));
}

WireWriter audienceWithEventFilters(std::uint64_t audienceID, int count) {
    WireWriter audience;
    audience.varint(1, audienceID);
    for (int index = 0; index < count; ++index) audience.message(3, eventFilter(index, "purchase"));
    return audience;
}

template <class Wrapper>
std::shared_ptr<Wrapper> decode(const WireWriter& bytes) {
    auto message = Wrapper::initWithBuffer(bytes.bytes());
    EXPECT_NE(message, nullptr);
    return message;
}

// The validation error of an audience; none when it is valid.
std::optional<APMError> validate(const WireWriter& audience, std::set<std::int32_t> accepted = {}) {
    APMError error;
    if (APMAudienceValidateAudience(*decode<APMPBAudience>(audience), accepted, APMAudienceLimits{}, &error)) {
        return std::nullopt;
    }
    return error;
}

APMError audienceError(long code, const char* description) {
    return APMError{kAPMErrorDomain, code, description};
}

}  // namespace

TEST(AudienceValidation, FilterCountMustBeBetweenOneAndTheLimit) {
    EXPECT_EQ(validate(audienceWithEventFilters(1, 10)), std::nullopt);
    EXPECT_EQ(validate(audienceWithEventFilters(1, 11)), audienceError(9, "Audience filter count out of range"));
    EXPECT_EQ(validate(audienceWithEventFilters(1, 0)), audienceError(9, "Audience filter count out of range"));
}

TEST(AudienceValidation, AudienceIDsMustBePresentPositiveAndNew) {
    EXPECT_EQ(validate(audienceWithEventFilters(1, 1), {1}), audienceError(9, "Duplicate audience ID"));
    EXPECT_EQ(validate(audienceWithEventFilters(1, 1), {2}), std::nullopt);
    WireWriter withoutID;
    withoutID.message(3, eventFilter(0, "purchase"));
    EXPECT_EQ(validate(withoutID), audienceError(9, "Missing audience ID"));
    EXPECT_EQ(validate(audienceWithEventFilters(0xFFFFFFFFFFFFFFFFull, 1)), audienceError(9, "Audience ID is negative"));
}

TEST(AudienceValidation, FilterIDsAreBoundedAndUniquePerKind) {
    WireWriter audience;
    audience.varint(1, 1).message(3, eventFilter(9, "a"));
    EXPECT_EQ(validate(audience), std::nullopt);
    audience.message(3, eventFilter(10, "b"));
    EXPECT_EQ(validate(audience), audienceError(10, "Event filter ID is out of range"));

    WireWriter shared;
    shared.varint(1, 1).message(3, eventFilter(3, "a")).message(2, propertyFilter(3, "p", WireWriter().message(1, stringTest(5, "x"))));
    EXPECT_EQ(validate(shared), std::nullopt);
    shared.message(3, eventFilter(3, "b"));
    EXPECT_EQ(validate(shared), audienceError(10, "Duplicate event filter ID"));
}

TEST(AudienceValidation, AParameterFilterNeedsExactlyOneTest) {
    WireWriter both;
    both.message(1, stringTest(5, "x")).message(2, numberTest(1, "3")).string(4, "value");
    WireWriter neither;
    neither.string(4, "value");
    for (const WireWriter* filter : {&both, &neither}) {
        WireWriter audience;
        audience.varint(1, 1).message(3, std::move(eventFilter(0, "purchase").message(3, *filter)));
        EXPECT_EQ(validate(audience), audienceError(10, "Event filter must have exactly one of number or string filter"));
    }
}

TEST(AudienceValidation, EventCountFiltersMustBeIntegerAndValid) {
    WireWriter floating;
    floating.varint(1, 1).message(3, std::move(eventFilter(0, "e").message(5, numberTest(1, "3").varint(2, 1))));
    EXPECT_EQ(validate(floating), audienceError(10, "Event filter has float event count filter"));
    MonitorCapture monitor;
    WireWriter invalid;
    invalid.varint(1, 1).message(3, std::move(eventFilter(0, "e").message(5, numberTest(2, "three"))));
    EXPECT_EQ(validate(invalid), audienceError(10, "Event filter has invalid event count filter"));
    EXPECT_EQ(monitor.linesWithCode(8008).size(), 1u);
}

TEST(AudienceValidation, PropertyFiltersNeedANameAndATest) {
    WireWriter noTest;
    noTest.varint(1, 1).message(2, WireWriter().varint(1, 0).string(2, "tier"));
    EXPECT_EQ(validate(noTest), audienceError(11, "Property filter has no filter"));
    WireWriter noName;
    noName.varint(1, 1).message(2, propertyFilter(0, "", WireWriter().message(1, stringTest(5, "x"))));
    EXPECT_EQ(validate(noName), audienceError(11, "Property filter missing property name"));
    WireWriter badString;
    badString.varint(1, 1).message(2, propertyFilter(0, "tier", WireWriter().message(1, stringTest(2, nullptr))));
    EXPECT_EQ(validate(badString), audienceError(11, "Property filter has invalid string filter"));
}

TEST(NumberFilterCheck, BetweenNeedsBothBoundsAndReportsEach) {
    MonitorCapture monitor;
    EXPECT_FALSE(APMAudienceIsValidNumberFilter(*decode<APMPBNumberFilter>(WireWriter().varint(1, 4).string(4, "1"))));
    EXPECT_EQ(monitor.linesWithCode(8010).size(), 1u);
    EXPECT_EQ(monitor.linesWithCode(8009).size(), 0u);
    monitor.clear();
    EXPECT_FALSE(APMAudienceIsValidNumberFilter(*decode<APMPBNumberFilter>(WireWriter().varint(1, 4))));
    EXPECT_EQ(monitor.linesWithCode(8009).size(), 1u);
    EXPECT_EQ(monitor.linesWithCode(8010).size(), 1u);
    EXPECT_TRUE(APMAudienceIsValidNumberFilter(
        *decode<APMPBNumberFilter>(WireWriter().varint(1, 4).string(4, "-1.5").string(5, ".5"))));
}

TEST(NumberFilterCheck, ComparisonTypesAndOperands) {
    MonitorCapture monitor;
    EXPECT_FALSE(APMAudienceIsValidNumberFilter(*decode<APMPBNumberFilter>(WireWriter().string(3, "1"))));
    EXPECT_FALSE(APMAudienceIsValidNumberFilter(*decode<APMPBNumberFilter>(numberTest(0, "1"))));
    EXPECT_FALSE(APMAudienceIsValidNumberFilter(*decode<APMPBNumberFilter>(numberTest(5, "1"))));
    EXPECT_FALSE(APMAudienceIsValidNumberFilter(*decode<APMPBNumberFilter>(numberTest(3, "1e5"))));
    EXPECT_TRUE(APMAudienceIsValidNumberFilter(*decode<APMPBNumberFilter>(numberTest(3, "+12."))));
    for (long code : {8006L, 8007L, 8011L, 8008L}) {
        ASSERT_EQ(monitor.linesWithCode(code).size(), 1u) << code;
        EXPECT_NE(monitor.linesWithCode(code)[0].find("ERROR"), std::string::npos);
    }
}

TEST(StringFilterCheck, ListsAndExpressionsMustBePresent) {
    MonitorCapture monitor;
    EXPECT_FALSE(APMAudienceIsValidStringFilter(*decode<APMPBStringFilter>(stringTest(6, nullptr))));
    EXPECT_EQ(monitor.linesWithCode(9003).size(), 1u);
    EXPECT_TRUE(APMAudienceIsValidStringFilter(*decode<APMPBStringFilter>(stringTest(6, nullptr).string(4, "a"))));
    EXPECT_FALSE(APMAudienceIsValidStringFilter(*decode<APMPBStringFilter>(stringTest(2, nullptr))));
    EXPECT_EQ(monitor.linesWithCode(9002).size(), 1u);
    EXPECT_FALSE(APMAudienceIsValidStringFilter(*decode<APMPBStringFilter>(stringTest(0, "x"))));
    EXPECT_EQ(monitor.linesWithCode(9001).size(), 1u);
    EXPECT_FALSE(APMAudienceIsValidStringFilter(*decode<APMPBStringFilter>(WireWriter().string(2, "x"))));
    EXPECT_EQ(monitor.linesWithCode(9000).size(), 1u);
    EXPECT_TRUE(APMAudienceIsValidStringFilter(*decode<APMPBStringFilter>(stringTest(9, "x"))));
}

TEST(StringFilterCheck, RegularExpressionsCompileCaseInsensitiveUnlessAsked) {
    MonitorCapture monitor;
    EXPECT_FALSE(APMAudienceIsValidStringFilter(*decode<APMPBStringFilter>(stringTest(1, "pur[chase"))));
    EXPECT_EQ(monitor.linesWithCode(9004).size(), 1u);

    std::optional<platform::Regex> compiled;
    ASSERT_TRUE(APMAudienceIsValidStringFilter(*decode<APMPBStringFilter>(stringTest(1, "^purchase$")), &compiled));
    ASSERT_TRUE(compiled.has_value());
    platform::RegexError error;
    EXPECT_TRUE(compiled->firstMatch("PURCHASE", error).has_value());

    ASSERT_TRUE(APMAudienceIsValidStringFilter(
        *decode<APMPBStringFilter>(stringTest(1, "^purchase$").varint(3, 1)), &compiled));
    EXPECT_FALSE(compiled->firstMatch("PURCHASE", error).has_value());
}

TEST(AudienceNames, PublicNamesAreRewrittenToInternalOnes) {
    WireWriter audience;
    audience.varint(1, 1);
    audience.message(3, std::move(eventFilter(0, "screen_view").message(3, paramFilter("screen_name", stringTest(5, "x")))
                                      .message(3, paramFilter("custom", stringTest(5, "y")))));
    audience.message(3, eventFilter(1, "my_event"));
    audience.message(2, propertyFilter(0, "first_open_time", WireWriter().message(2, numberTest(2, "0"))));
    auto message = decode<APMPBAudience>(audience);
    APMAudienceRewriteNamesToInternal(*message);
    message = throughWire(*message);

    auto events = APMPBGetMessages<APMPBEventFilter>(*message, AudienceSlot::EventFilters);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(APMPBGetString(*events[0], EventFilterSlot::EventName), "_vs");
    EXPECT_EQ(APMPBGetString(*events[1], EventFilterSlot::EventName), "my_event");
    auto params = APMPBGetMessages<APMPBFilter>(*events[0], EventFilterSlot::Filters);
    ASSERT_EQ(params.size(), 2u);
    EXPECT_EQ(APMPBGetString(*params[0], FilterSlot::ParamName), "_sn");
    EXPECT_EQ(APMPBGetString(*params[1], FilterSlot::ParamName), "custom");
    auto properties = APMPBGetMessages<APMPBPropertyFilter>(*message, AudienceSlot::PropertyFilters);
    ASSERT_EQ(properties.size(), 1u);
    EXPECT_EQ(APMPBGetString(*properties[0], PropertyFilterSlot::PropertyName), "_fot");
}
