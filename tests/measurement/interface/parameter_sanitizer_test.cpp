#include "measurement/interface/APMParameterSanitizer.h"

#include <cstdio>

#include "EventTestSupport.h"

using event_test::expectOneLine;
using event_test::intParameter;
using event_test::LimitsOverride;
using event_test::MonitorCapture;
using event_test::object;
using event_test::stringParameter;
using platform::PropertyArray;
using platform::PropertyDictionary;
using platform::PropertyValue;

namespace {

APMParameters sanitized(const APMObjectParameters& input, APMOptionalText event = "my_event", bool isPublic = true,
                        APMDiagnosticsCounts* counts = nullptr) {
    return APMSanitizedEventParameters(input, event, isPublic, false, counts).value();
}

std::string numbered(const char* prefix, int i) {
    char name[16];
    std::snprintf(name, sizeof name, "%s%03d", prefix, i);
    return name;
}

PropertyValue itemWith(std::size_t customCount) {
    PropertyDictionary item{{"item_id", "sku"}, {"price", 2.5}};
    for (std::size_t i = 0; i < customCount; ++i) item.emplace(numbered("c", static_cast<int>(i)), 1);
    return item;
}

std::int64_t counted(const APMDiagnosticsCounts& counts, const std::string& name) {
    auto all = counts.allCounts();
    return all.contains(name) ? all.at(name) : 0;
}

}  // namespace

TEST(ParameterLimit, TrimsTheNamesThatSortLast) {
    MonitorCapture capture;
    APMObjectParameters input = {{"zzz", APMValue(1)}, {"value", APMValue(1.5)}, {"currency", object("EUR")}};
    for (int i = 0; i < 98; ++i) input.emplace_back(numbered("p", i), APMValue(i));
    input.emplace_back("_internal", APMValue(1));  // never counted
    APMDiagnosticsCounts counts;
    const APMParameters result = sanitized(input, "my_event", false, &counts);
    EXPECT_FALSE(result.contains("zzz"));
    EXPECT_TRUE(result.contains("value") && result.contains("currency") && result.contains("p097"));
    EXPECT_TRUE(result.contains("_internal"));
    EXPECT_EQ(intParameter(result, "_err"), 5);
    EXPECT_EQ(counted(counts, "too_many_params"), 1);
    expectOneLine(capture, 18017, "ERROR Event cannot contain more than 100 parameters");
}

TEST(ParameterLimit, FollowsTheRemoteLimitAndSparesTheNeverTrimmed) {
    LimitsOverride limits({.maxPublicEventParams = 2});
    APMParameters parameters{{"b", APMValue(1)}, {"value", APMValue(1)}, {"a", APMValue(1)},
                             {"transaction_id", APMValue("t")}, {"_x", APMValue(1)}};
    EXPECT_EQ(APMCountPublicParameters(parameters, false), 4u);
    APMTrimPublicParametersToLimit(parameters, 2);
    EXPECT_EQ(parameters, (APMParameters{{"value", APMValue(1)}, {"transaction_id", APMValue("t")},
                                         {"_x", APMValue(1)}}));
    const APMParameters result = sanitized({{"b", APMValue(1)}, {"a", APMValue(1)}, {"c", APMValue(1)}});
    EXPECT_EQ(result, (APMParameters{{"a", APMValue(1)}, {"b", APMValue(1)}, {"_err", APMValue(5)}}));
}

TEST(ParameterLimit, ItemKeepsItsEcommerceParametersAndTheFirstCustomOnes) {
    MonitorCapture capture;
    APMDiagnosticsCounts counts;
    const APMParameters result =
        sanitized({{"items", object(PropertyArray{itemWith(30)})}}, "purchase", true, &counts);
    const auto& item = result.find("items")->arrayValue()->front();
    EXPECT_EQ(APMCountPublicParameters(item, true), 27u);
    EXPECT_TRUE(item.contains("item_id") && item.contains("price") && item.contains("c026"));
    EXPECT_FALSE(item.contains("c027"));
    EXPECT_EQ(intParameter(item, "_err"), 28);
    EXPECT_FALSE(result.contains("_err"));
    EXPECT_EQ(counted(counts, "too_many_params"), 3);
    expectOneLine(capture, 18016, "ERROR Item cannot contain custom parameters");
}

TEST(ParameterFailures, RecordTheFirstFailureInTheCallersOrder) {
    struct Case {
        const char* label;
        APMObjectParameters input;
        APMOptionalText event;
        std::int64_t err;
        std::string ev;
        std::int64_t el;  // -1: absent
        std::size_t keptParameters;  // besides the error parameters
    };
    const std::string longName(45, 'n');
    const Case cases[] = {
        {"reserved prefix", {{"veredoda_x", APMValue(1)}, {"ok", APMValue(1)}}, "my_event", 14, "veredoda_x", -1, 1},
        {"long name", {{longName, APMValue(1)}}, "my_event", 3, std::string(40, 'n') + "...", 45, 0},
        {"long value", {{"p", object(std::string(600, 'v'))}}, "my_event", 4, "p", 600, 0},
        {"name first", {{"a-b", APMValue(1)}, {"p", object(std::string(600, 'v'))}}, "my_event", 3, "a-b", -1, 0},
        {"value first", {{"p", object(std::string(600, 'v'))}, {"a-b", APMValue(1)}}, "my_event", 4, "p", 600, 0},
        {"items on another event", {{"items", object(PropertyArray{itemWith(0)})}}, "my_event", 21, "my_event", -1, 0},
        {"array under another name", {{"products", object(PropertyArray{itemWith(0)})}}, "purchase", 20, "products",
         -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const APMParameters result = sanitized(c.input, c.event);
        EXPECT_EQ(intParameter(result, "_err"), c.err);
        EXPECT_EQ(stringParameter(result, "_ev"), c.ev);
        EXPECT_EQ(intParameter(result, "_el"), c.el);
        EXPECT_EQ(result.size(), c.keptParameters + (c.el < 0 ? 2 : 3));
    }
}

TEST(ParameterFailures, CountsAndConvertsObjects) {
    MonitorCapture capture;
    APMDiagnosticsCounts counts;
    const APMParameters result = sanitized({{"a-b", APMValue(1)},
                                            {"blob", object(platform::PropertyData{1, 2})},
                                            {"flag", object(true)},
                                            {"ratio", object(0.5)},
                                            {"label", object("x")},
                                            {"label", object("y")}},
                                           "my_event", true, &counts);
    EXPECT_EQ(result, (APMParameters{{"flag", APMValue(1)},
                                     {"ratio", APMValue(0.5)},
                                     {"label", APMValue("y")},
                                     {"_err", APMValue(3)},
                                     {"_ev", APMValue("a-b")}}));
    EXPECT_EQ(counted(counts, "invalid_param_name"), 1);
    EXPECT_EQ(counted(counts, "invalid_param_value"), 1);
    expectOneLine(capture, 18015, "WARNING Event parameter value must be of type NSString, NSNumber or NSArray. Type, Data");
    EXPECT_FALSE(APMSanitizedEventParameters({}, "my_event", true, false, nullptr).has_value());
}

TEST(ParameterFailures, InternalValueLimitAppliesOnlyToNamedEvents) {
    const APMObjectParameters longValue = {{"p", object(std::string(501, 'v'))}};
    EXPECT_TRUE(sanitized(longValue, "my_event", false).contains("p"));
    EXPECT_EQ(intParameter(sanitized(longValue, "_vs", false), "_err"), 4);
    EXPECT_EQ(intParameter(sanitized(longValue, "screen_view", false), "_err"), 4);
}

TEST(ParameterFailures, AnOverlongErrorNameIsCutNotDropped) {
    const std::string trimmed = std::string(500, 'e') + "...";
    const APMParameters cut = sanitized({{"_ev", object(std::string(600, 'e'))}}, "_err", false);
    EXPECT_EQ(stringParameter(cut, "_ev"), trimmed);
    EXPECT_EQ(intParameter(cut, "_el"), 600);
    const APMParameters again = sanitized({{"_ev", object(trimmed)}}, "_err", false);
    EXPECT_EQ(again, (APMParameters{{"_ev", APMValue(trimmed)}}));
}

TEST(ArrayParameters, ItemsAreSanitisedOneByOne) {
    PropertyArray many(250, itemWith(0));
    const APMParameters cut = sanitized({{"items", object(many)}}, "purchase");
    EXPECT_EQ(cut.find("items")->arrayValue()->size(), 200u);
    EXPECT_EQ(intParameter(cut, "_err"), 17);
    EXPECT_EQ(stringParameter(cut, "_ev"), "items");

    PropertyDictionary nested{{"item_id", "sku"}, {"inner", PropertyArray{PropertyDictionary{{"a", 1}}}}};
    PropertyArray mixed{itemWith(0), nested, itemWith(1), "not a dictionary"};
    const APMParameters result = sanitized({{"items", object(mixed)}}, "purchase");
    const auto& items = *result.find("items")->arrayValue();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1], (APMParameters{{"item_id", APMValue("sku")}, {"_err", APMValue(22)}, {"_ev", APMValue("inner")}}));
    EXPECT_EQ(intParameter(result, "_err"), 4);
    EXPECT_EQ(stringParameter(result, "_ev"), "items[3]");
    EXPECT_FALSE(result.contains("_el"));
}

TEST(ArrayParameters, ValuesGivenAsArraysPassAsTheyAre) {
    const APMValue items(std::vector<APMParameters>{{{"anything", APMValue(1)}}});
    EXPECT_EQ(sanitized({{"list", items}}, "my_event", false), (APMParameters{{"list", items}}));
}

TEST(ParameterNames, PublicAndInternalRules) {
    APMParameters errors;
    EXPECT_TRUE(APMIsValidEventParameterName("_x", false, errors));
    EXPECT_FALSE(APMIsValidEventParameterName("_x", true, errors));
    EXPECT_EQ(errors, (APMParameters{{"_err", APMValue(3)}, {"_ev", APMValue("_x")}}));
}
