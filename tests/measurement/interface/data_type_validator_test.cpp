#include "measurement/interface/APMDataTypeValidator.h"

#include <functional>

#include "EventTestSupport.h"
#include "measurement/interface/APMEventNames.h"
#include "measurement/storage/APMNameMaps.h"

using event_test::expectOneLine;
using event_test::LimitsOverride;
using event_test::MonitorCapture;
using event_test::repeated;
using F = APMValidationFailure;
using V = APMDataTypeValidator;

namespace {

struct Case {
    std::string label;
    std::function<bool(APMValidationFailure*)> check;
    bool valid;
    F failure;
    long code;            // 0: nothing is logged
    std::string logLine;  // level word and message
};

void run(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        MonitorCapture capture;
        F failure = F::InvalidCurrency;  // anything but the answer
        EXPECT_EQ(c.check(&failure), c.valid);
        EXPECT_EQ(failure, c.failure);
        if (c.code == 0) {
            EXPECT_TRUE(capture.lines().empty()) << capture.lines().front();
        } else {
            expectOneLine(capture, c.code, c.logLine);
        }
    }
}

std::function<bool(F*)> publicEventName(std::string name) {
    return [name](F* f) { return V::isValidPublicEventName(name, f); };
}

std::function<bool(F*)> text(bool (*check)(APMOptionalText, F*), APMOptionalText subject) {
    std::optional<std::string> owned = subject ? std::optional<std::string>(*subject) : std::nullopt;
    return [check, owned](F* f) { return check(owned ? APMOptionalText(*owned) : std::nullopt, f); };
}

std::function<bool(F*)> value(bool (*check)(const APMValue*, F*), std::optional<APMValue> subject) {
    return [check, subject](F* f) { return check(subject ? &*subject : nullptr, f); };
}

std::function<bool(F*)> userValue(std::string name, std::size_t length) {
    return [name, length](F* f) {
        APMValue subject(std::string(length, 'v'));
        return V::isValidInternalUserAttributeValue(&subject, name, f);
    };
}

}  // namespace

TEST(EventNameRules, LengthsCharactersAndTypes) {
    const std::string tooLong = "ERROR Event name is too long. The maximum supported length is 40";
    run({
        {"40 letters", publicEventName(std::string(40, 'a')), true, F::None, 0, ""},
        {"41 letters", publicEventName(std::string(41, 'a')), false, F::TooLong, 13000, tooLong},
        {"40 accented letters count as 40", publicEventName(repeated("é", 40)), true, F::None, 0, ""},
        {"41 accented letters", publicEventName(repeated("é", 41)), false, F::TooLong, 13000, tooLong},
        {"40 letters outside the BMP", publicEventName(repeated("𝐀", 40)), true, F::None, 0, ""},
        {"Cyrillic and Arabic-Indic digits", publicEventName("событие٣"), true, F::None, 0, ""},
        {"combining mark", publicEventName("e\u0301"), false, F::InvalidCharacter, 13002,
         "ERROR Event name must contain only letters, numbers, or underscores"},
        {"hyphen", publicEventName("a-b"), false, F::InvalidCharacter, 13002,
         "ERROR Event name must contain only letters, numbers, or underscores, a-b"},
        {"leading underscore", publicEventName("_x"), false, F::InvalidCharacter, 13003,
         "ERROR Event name must start with a letter, _x"},
        {"leading digit", publicEventName("1x"), false, F::InvalidCharacter, 13003,
         "ERROR Event name must start with a letter"},
        {"leading Arabic-Indic digit", publicEventName("٣x"), false, F::InvalidCharacter, 13003,
         "ERROR Event name must start with a letter"},
        {"accented letter and a hyphen", publicEventName("é-b"), false, F::InvalidCharacter, 13002,
         "ERROR Event name must contain only letters, numbers, or underscores"},
        {"empty", publicEventName(""), false, F::Missing, 13001, "ERROR Event name is required and can't be empty"},
        {"nil", text(V::isValidPublicEventName, std::nullopt), false, F::Missing, 13001,
         "ERROR Event name is required and can't be nil"},
        {"not UTF-8", publicEventName("a\xff"), false, F::WrongType, 13000,
         "ERROR Event name must be of type NSString, <61ff>"},
        {"internal: leading underscore", text(V::isValidInternalEventName, "_x"), true, F::None, 0, ""},
        {"internal: hyphen", text(V::isValidInternalEventName, "a-b"), false, F::InvalidCharacter, 13002,
         "ERROR Event name must contain only letters"},
    });
}

TEST(EventNameRules, ReservedNamesAndPrefixes) {
    std::vector<Case> cases;
    for (const auto& [name, internal] : APMPublicToInternalEventNameMap()) {
        if (name == "screen_view" || APMAllowedReservedEventNameMap().contains(name)) {
            cases.push_back({name, publicEventName(name), true, F::None, 0, ""});
        } else {
            cases.push_back({name, publicEventName(name), false, F::Reserved, 13006,
                             "ERROR Event name is reserved. Ignoring event, " + name});
        }
    }
    for (const char* name : {"veredoda_x", "vadova_x", "va_x"}) {
        cases.push_back({name, publicEventName(name), false, F::Reserved, 13007,
                         std::string("ERROR Event name uses reserved prefix. Ignoring event, ") + name});
    }
    cases.push_back({"prefix is case-sensitive", publicEventName("VA_x"), true, F::None, 0, ""});
    run(cases);
    EXPECT_EQ(cases.size(), 32u + 4u);
}

TEST(OriginRules, ForwardedAndInternalOrigins) {
    run({
        {"forwarded", text(V::isValidForwardedEventOrigin, "app+vtm"), true, F::None, 0, ""},
        {"plain origin is not forwarded", text(V::isValidForwardedEventOrigin, "app"), false, F::NotForwarded, 0,
         ""},
        {"empty forwarded", text(V::isValidForwardedEventOrigin, ""), false, F::Missing, 0, ""},
        {"suffix alone", text(V::isValidForwardedEventOrigin, "+vtm"), false, F::Missing, 13001,
         "ERROR Event origin is required and can't be empty"},
        {"forwarded with a bad source", text(V::isValidForwardedEventOrigin, "a b+vtm"), false,
         F::InvalidCharacter, 13002, "ERROR Event origin must contain only letters"},
        {"internal 32", text(V::isValidInternalEventOrigin, std::string(32, 'o')), true, F::None, 0, ""},
        {"internal 33", text(V::isValidInternalEventOrigin, std::string(33, 'o')), false, F::TooLong, 13000,
         "ERROR Event origin is too long. The maximum supported length is 32"},
        {"conditional origin 33", text(V::isValidConditionalUserPropertyOrigin, std::string(33, 'o')), false,
         F::TooLong, 13000, "ERROR Conditional user property origin is too long. The maximum supported length is 32"},
    });
}

TEST(ParameterAndPropertyNameRules, LimitsAndReservations) {
    std::vector<Case> cases = {
        {"parameter 40", text(V::isValidPublicEventParameterName, std::string(40, 'p')), true, F::None, 0, ""},
        {"parameter 41", text(V::isValidPublicEventParameterName, std::string(41, 'p')), false, F::TooLong, 13000,
         "ERROR Event parameter name is too long. The maximum supported length is 40"},
        {"parameter prefix", text(V::isValidPublicEventParameterName, "va_p"), false, F::Reserved, 13008,
         "ERROR Parameter name uses reserved prefix. Ignoring parameter, va_p"},
        {"internal parameter may use a prefix", text(V::isValidInternalEventParameterName, "va_p"), true, F::None,
         0, ""},
        {"public parameter underscore", text(V::isValidPublicEventParameterName, "_p"), false,
         F::InvalidCharacter, 13003, "ERROR Event parameter name must start with a letter"},
        {"property 24", text(V::isValidPublicUserAttributeName, std::string(24, 'u')), true, F::None, 0, ""},
        {"property 25", text(V::isValidPublicUserAttributeName, std::string(25, 'u')), false, F::TooLong, 13000,
         "ERROR User property name is too long. The maximum supported length is 24"},
        {"property prefix", text(V::isValidPublicUserAttributeName, "vadova_u"), false, F::Reserved, 13010,
         "ERROR User property name uses reserved prefix. Ignoring user property"},
        {"internal property 25", text(V::isValidInternalUserAttributeName, std::string(25, 'u')), false,
         F::TooLong, 13000, "ERROR User property name is too long"},
        {"conditional name 25", text(V::isValidConditionalUserPropertyName, std::string(25, 'u')), false,
         F::TooLong, 13000, "ERROR Conditional user property name is too long. The maximum supported length is 24"},
    };
    for (const auto& [name, internal] : APMUserPropertyInternalNames()) {
        // The length rule comes first: two reserved names are longer than a public name may be.
        if (name.size() > 24) {
            cases.push_back({name, text(V::isValidPublicUserAttributeName, name), false, F::TooLong, 13000,
                             "ERROR User property name is too long"});
            continue;
        }
        cases.push_back({name, text(V::isValidPublicUserAttributeName, name), false, F::Reserved, 13009,
                         "ERROR User property name is reserved. Ignoring user property, " + name});
    }
    run(cases);
}

TEST(ValueRules, LengthsByKindAndName) {
    const std::string longWarning = "WARNING Event parameter value is too long. The maximum supported length is ";
    run({
        {"empty parameter value", value(V::isValidPublicEventParameterValue, APMValue("")), true, F::None, 0, ""},
        {"500", value(V::isValidPublicEventParameterValue, APMValue(std::string(500, 'v'))), true, F::None, 0, ""},
        {"501", value(V::isValidPublicEventParameterValue, APMValue(std::string(501, 'v'))), false, F::TooLong,
         13000, longWarning + "500"},
        {"huge number", value(V::isValidPublicEventParameterValue, APMValue(1e300)), true, F::None, 0, ""},
        {"nil parameter value", value(V::isValidPublicEventParameterValue, std::nullopt), false, F::Missing, 13004,
         "WARNING Event parameter value cannot be nil"},
        {"property value 36", value(V::isValidPublicUserAttributeValue, APMValue(std::string(36, 'v'))), true,
         F::None, 0, ""},
        {"property value 37", value(V::isValidPublicUserAttributeValue, APMValue(std::string(37, 'v'))), false,
         F::TooLong, 13000, "WARNING User property value is too long. The maximum supported length is 36"},
        {"empty property value is quiet", value(V::isValidPublicUserAttributeValue, APMValue("")), false,
         F::Missing, 0, ""},
        {"empty conditional value", value(V::isValidConditionalUserPropertyValue, APMValue("")), false, F::Missing,
         13001, "ERROR Conditional user property value is required and can't be empty"},
        {"_id 256", userValue("_id", 256), true, F::None, 0, ""},
        {"_id 257", userValue("_id", 257), false, F::TooLong, 13000, "WARNING User property value is too long. The maximum supported length is 256"},
        {"_vbraid 256", userValue("_vbraid", 256), true, F::None, 0, ""},
        {"_psmvalue 512", userValue("_psmvalue", 512), true, F::None, 0, ""},
        {"_psmvalue_vads 513", userValue("_psmvalue_vads", 513), false, F::TooLong, 13000,
         "WARNING User property value is too long. The maximum supported length is 512"},
        {"_npa 37", userValue("_npa", 37), false, F::TooLong, 13000, "WARNING User property value is too long. The maximum supported length is 36"},
        {"screen value empty", text(V::isValidScreenParameterValue, ""), false, F::Missing, 13001,
         "ERROR Screen parameter value is required and can't be empty"},
        {"screen value 501", text(V::isValidScreenParameterValue, std::string(501, 's')), false, F::TooLong, 13000,
         "ERROR Screen parameter value is too long. The maximum supported length is 500"},
    });
}

TEST(ValueRules, RemoteLimitsAreReadAtEveryCheck) {
    LimitsOverride limits({.maxPublicEventParameterValueLength = 200, .maxInternalEventParameterValueLength = 256});
    run({
        {"public 200", value(V::isValidPublicEventParameterValue, APMValue(std::string(200, 'v'))), true, F::None, 0, ""},
        {"public 201", value(V::isValidPublicEventParameterValue, APMValue(std::string(201, 'v'))), false,
         F::TooLong, 13000, "WARNING Event parameter value is too long. The maximum supported length is 200"},
        {"internal 256", value(V::isValidInternalEventParameterValue, APMValue(std::string(256, 'v'))), true,
         F::None, 0, ""},
        {"internal 257", value(V::isValidInternalEventParameterValue, APMValue(std::string(257, 'v'))), false,
         F::TooLong, 13000, "WARNING Event parameter value is too long. The maximum supported length is 256"},
    });
}

TEST(ValueRules, NumbersAndCurrencies) {
    const std::string currency = "WARNING Event parameter value must contain a 3-letter ISO_4217 currency code. value";
    run({
        {"integer", value(V::isValidNumericValue, APMValue(3)), true, F::None, 0, ""},
        {"double", value(V::isValidNumericValue, APMValue(9.99)), true, F::None, 0, ""},
        {"string is not numeric", value(V::isValidNumericValue, APMValue("9.99")), false, F::NotNumeric, 13011,
         "WARNING Event parameter value must be specified with a numeric type. value, 9.99"},
        {"array is not numeric", value(V::isValidNumericValue, APMValue(std::vector<APMParameters>{})), false,
         F::NotNumeric, 13011, "WARNING Event parameter value must be specified with a numeric type. value, (null)"},
        {"missing value", value(V::isValidNumericValue, std::nullopt), false, F::Missing, 13004,
         "WARNING Event parameter value cannot be nil"},
        {"USD", value(V::isValidCurrencyCode, APMValue("USD")), true, F::None, 0, ""},
        {"lower case", value(V::isValidCurrencyCode, APMValue("usd")), true, F::None, 0, ""},
        {"letters beyond ASCII", value(V::isValidCurrencyCode, APMValue("ÅÄÖ")), true, F::None, 0, ""},
        {"two letters", value(V::isValidCurrencyCode, APMValue("US")), false, F::InvalidCurrency, 13012, currency},
        {"four letters", value(V::isValidCurrencyCode, APMValue("USDX")), false, F::InvalidCurrency, 13012, currency},
        {"a digit", value(V::isValidCurrencyCode, APMValue("US1")), false, F::InvalidCurrency, 13012, currency},
        {"three code points, four UTF-16 units", value(V::isValidCurrencyCode, APMValue("𝐀BC")), false,
         F::InvalidCurrency, 13012, currency},
        {"a number", value(V::isValidCurrencyCode, APMValue(840)), false, F::InvalidCurrency, 13012, currency},
    });
}

TEST(ArrayRules, FirstMatchWins) {
    auto array = [](APMOptionalText event, std::string name, std::size_t count, bool nested) {
        std::optional<std::string> owned = event ? std::optional<std::string>(*event) : std::nullopt;
        return [=](F* f) {
            return V::isValidArrayParamForEvent(owned ? APMOptionalText(*owned) : std::nullopt, name, count, nested, f);
        };
    };
    run({
        {"200 items", array("purchase", "items", 200, false), true, F::None, 0, ""},
        {"201 items", array("purchase", "items", 201, false), false, F::TooManyArrayElements, 13013,
         "ERROR Array parameter has too many items. The maximum number of supported items is 200. Invalid array "
         "size, 201"},
        {"not ecommerce", array("my_event", "items", 201, false), false, F::ArrayOnNonEcommerceEvent, 13013,
         "ERROR Only ecommerce events are allowed to contain array parameters. Invalid ecommerce name, my_event"},
        {"no event", array(std::nullopt, "items", 1, false), false, F::ArrayOnNonEcommerceEvent, 13013,
         "ERROR Only ecommerce events are allowed"},
        {"not items", array("purchase", "products", 201, false), false, F::ArrayNotNamedItems, 13013,
         "ERROR Event parameter name is an invalid ecommerce items. The name of array parameters for ecommerce "
         "should be \"items\". Invalid parameter name, products"},
        {"nested first", array("my_event", "products", 201, true), false, F::NestedArray, 13013,
         "ERROR Nested array parameters are not allowed. Name, products"},
        {"element not a dictionary",
         [](F* f) { return V::isValidArrayParamItem(platform::PropertyValue("x"), f); }, false,
         F::ArrayElementNotDictionary, 13014, "ERROR Array param must be a dictionary. Parameters, x"},
    });
    F untouched = F::TooLong;
    EXPECT_TRUE(V::isValidArrayParamItem(platform::PropertyValue(platform::PropertyDictionary{}), &untouched));
    EXPECT_EQ(untouched, F::TooLong);
}
