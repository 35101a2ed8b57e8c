// Number and string comparisons of audience filters.
#include <cmath>
#include <limits>

#include "AudienceTestSupport.h"
#include "measurement/audiences/APMAudienceFilterEvaluation.h"

namespace {

using namespace audience_test;

class AudienceComparison : public ::testing::Test {
protected:
    storage_test::MonitorCapture monitor;
};

APMAudienceDecimal decimal(const std::string& text) { return *APMAudienceDecimal::fromString(text); }

TEST_F(AudienceComparison, DecimalTextsCompareExactly) {
    // Both sides as text: no bound is rounded to a binary fraction.
    EXPECT_LT(decimal("0.1"), decimal("0.1000000000000000055511151231257827"));
    EXPECT_EQ(decimal("+1."), decimal("1.000"));
    EXPECT_EQ(decimal("-0.0"), decimal("0"));
    EXPECT_LT(decimal("-2.5"), decimal("-2.25"));
    EXPECT_LT(decimal(".5"), decimal("0.51"));
    EXPECT_LT(decimal("99999999999999999999"), decimal("100000000000000000000"));
    EXPECT_FALSE(APMAudienceDecimal::fromString("1e3"));
    EXPECT_EQ(monitor.linesWithCode(26001).size(), 1u);

    auto equalToTenth = numberFilter(3, "0.1");
    EXPECT_EQ(APMAudienceEvaluateFilterValue(*test(equalToTenth), APMValue("0.10")), true);
    EXPECT_EQ(APMAudienceEvaluateFilterValue(*test(equalToTenth), APMValue("0.1000000000000000055511151231257827")),
              false);
}

TEST_F(AudienceComparison, IntegersCompareWithoutOverflowOrRounding) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(APMAudienceEvaluateNumberFilterWithInteger(*numberFilter(2, "9223372036854775807"), kMax), false);
    EXPECT_EQ(APMAudienceEvaluateNumberFilterWithInteger(*numberFilter(1, "9223372036854775808"), kMax), true);
    EXPECT_EQ(APMAudienceEvaluateNumberFilterWithInteger(*numberFilter(1, "-9223372036854775808"), kMin), false);
    EXPECT_EQ(APMAudienceEvaluateNumberFilterWithInteger(*numberFilter(3, "-9223372036854775808"), kMin), true);
    // 2^53 + 1 differs from 2^53, which a double could not tell apart.
    EXPECT_EQ(APMAudienceEvaluateNumberFilterWithInteger(*numberFilter(3, "9007199254740992"), 9007199254740993),
              false);
    EXPECT_EQ(APMAudienceEvaluateNumberFilterWithInteger(*between("1", "10"), 10), true);
    EXPECT_EQ(APMAudienceEvaluateNumberFilterWithInteger(*between("1.5", "10"), 1), false);
}

TEST_F(AudienceComparison, DoubleEqualityAdmitsTwoNeighbourSteps) {
    constexpr double kUp = std::numeric_limits<double>::infinity();
    auto equal = numberFilter(3, "0.1");
    const double oneStep = std::nextafter(0.1, kUp);
    const double twoSteps = std::nextafter(oneStep, kUp);
    EXPECT_EQ(APMAudienceEvaluateNumberFilterWithDouble(*equal, 0.1), true);
    EXPECT_EQ(APMAudienceEvaluateNumberFilterWithDouble(*equal, oneStep), true);
    EXPECT_EQ(APMAudienceEvaluateNumberFilterWithDouble(*equal, twoSteps), false);
    EXPECT_EQ(APMAudienceEvaluateNumberFilterWithDouble(*equal, std::nextafter(std::nextafter(0.1, -kUp), -kUp)),
              false);
    EXPECT_EQ(APMAudienceEvaluateNumberFilterWithDouble(*between("1", "10"), 10.5), false);
    EXPECT_EQ(APMAudienceEvaluateNumberFilterWithDouble(*numberFilter(2, "+1.5"), 1.75), true);
    EXPECT_EQ(APMAudienceEvaluateNumberFilterWithDouble(*numberFilter(1, "-.5"), -0.75), true);
}

TEST_F(AudienceComparison, UnusableNumbersAreNotEvaluable) {
    auto equalFive = test(numberFilter(3, "5"));
    EXPECT_EQ(APMAudienceEvaluateFilterValue(*equalFive, APMValue("5e3")), std::nullopt);
    EXPECT_EQ(monitor.linesWithCode(7001).size(), 1u);
    EXPECT_EQ(APMAudienceEvaluateFilterValue(*equalFive, APMValue(std::nan(""))), std::nullopt);
    EXPECT_EQ(APMAudienceEvaluateFilterValue(*equalFive, APMValue(HUGE_VAL)), std::nullopt);
    EXPECT_EQ(monitor.linesWithCode(7002).size(), 2u);
    EXPECT_EQ(APMAudienceEvaluateFilterValue(*equalFive, APMValue(std::vector<APMParameters>{})), std::nullopt);
    EXPECT_EQ(APMAudienceEvaluateFilterValue(*test(nullptr, stringFilter(5, "x")), APMValue(std::int64_t{5})),
              std::nullopt);
    EXPECT_EQ(monitor.linesWithCode(7003).size(), 1u);
    EXPECT_EQ(APMAudienceEvaluateFilterValue(*test(nullptr), APMValue("x")), std::nullopt);
    EXPECT_EQ(monitor.linesWithCode(7000).size(), 1u);
    // A filter that fails its check is logged again and decides nothing.
    EXPECT_EQ(APMAudienceEvaluateNumberFilterWithInteger(*between("1", "x"), 3), std::nullopt);
    EXPECT_EQ(monitor.linesWithCode(8010).size(), 1u);
}

TEST_F(AudienceComparison, StringMatchTypesInBothCaseModes) {
    struct Case {
        std::int32_t type;
        std::string expression;
        std::string value;
        bool insensitive;
        bool sensitive;
    };
    const Case cases[] = {
        {1, "^Pro.*T$", "product", true, false},  // a regular expression
        {1, "duc", "PRODUCT", true, false},        // found anywhere
        {2, "Pro", "product", true, false},
        {2, "duct", "product", false, false},
        {3, "UCT", "product", true, false},
        {3, "uct", "product", true, true},
        {4, "ODU", "product", true, false},
        {4, "xyz", "product", false, false},
        {5, "PRODUCT", "product", true, false},
        {5, "product", "product", true, true},
        {5, "produc", "product", false, false},
        {5, "STRASSE", "straße", false, false},  // folds alike, lengths differ
        {2, "ÉTÉ", "été indien", true, false},
        {7, "product", "product", false, false},  // unknown match types never match
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " " + c.expression + " / " + c.value);
        EXPECT_EQ(APMAudienceEvaluateStringFilter(*stringFilter(c.type, c.expression, false), &c.value),
                  c.insensitive);
        EXPECT_EQ(APMAudienceEvaluateStringFilter(*stringFilter(c.type, c.expression, true), &c.value), c.sensitive);
    }
    const std::string b = "b";
    EXPECT_EQ(APMAudienceEvaluateStringFilter(*stringFilter(6, "", false, {"a", "B"}), &b), true);
    EXPECT_EQ(APMAudienceEvaluateStringFilter(*stringFilter(6, "", true, {"a", "B"}), &b), false);
    EXPECT_EQ(APMAudienceEvaluateStringFilter(*stringFilter(5, "b"), nullptr), std::nullopt);
    EXPECT_EQ(monitor.linesWithCode(9005).size(), 1u);
    EXPECT_EQ(APMAudienceEvaluateStringFilter(*stringFilter(1, "(unbalanced"), &b), std::nullopt);
    EXPECT_EQ(monitor.linesWithCode(9006).size(), 1u);
}

TEST_F(AudienceComparison, RegularExpressionOverItsLimitsIsNotEvaluable) {
    // Catastrophic backtracking: the search is abandoned at the time limit.
    const std::string value = std::string(40, 'a') + "!";
    EXPECT_EQ(APMAudienceEvaluateStringFilter(*stringFilter(1, "^(a+)+$", true), &value), std::nullopt);
    EXPECT_EQ(monitor.linesWithCode(9007).size(), 1u);
}

TEST_F(AudienceComparison, ComplementNegatesOnlyVerdicts) {
    auto greaterThanTwo = numberFilter(2, "2");
    EXPECT_EQ(APMAudienceEvaluateFilterValue(*test(greaterThanTwo, nullptr, std::nullopt, true),
                                             APMValue(std::int64_t{3})),
              false);
    EXPECT_EQ(APMAudienceEvaluateFilterValue(*test(greaterThanTwo, nullptr, std::nullopt, true),
                                             APMValue(std::int64_t{1})),
              true);
    EXPECT_EQ(APMAudienceEvaluateFilterValue(*test(greaterThanTwo, nullptr, std::nullopt, true), APMValue("x")),
              std::nullopt);
}

}  // namespace
