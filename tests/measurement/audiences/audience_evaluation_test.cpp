// Evaluating events and user properties against stored audience filters.
#include <sqlite3.h>

#include "AudienceTestSupport.h"

namespace {

using namespace audience_test;

class AudienceEvaluation : public AudienceDatabaseTest {
protected:
    void execute(const std::string& sql) {
        sqlite3* connection = nullptr;
        ASSERT_EQ(sqlite3_open(database->databasePath().c_str(), &connection), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(connection, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(connection);
    }
};

TEST_F(AudienceEvaluation, FilterWithoutConditionsHoldsForEveryEventOfItsName) {
    define({audience(1, {eventFilter(0, "_f"), eventFilter(1, "other")})});
    ASSERT_TRUE(logEvent("_f"));
    EXPECT_TRUE(isTrue(1, 0));
    EXPECT_FALSE(isEvaluated(1, 1));
    // An event no audience mentions touches nothing.
    ASSERT_TRUE(logEvent("unmentioned"));
    EXPECT_EQ(database->allFilterResults().value->size(), 1u);
}

TEST_F(AudienceEvaluation, CountFilterReadsLifetimeOrSessionCount) {
    define({audience(1, {eventFilter(0, "e", {}, numberFilter(2, "2")),
                         eventFilter(1, "e", {}, numberFilter(2, "2"), {.sessionScoped = true})})});
    ASSERT_TRUE(logEvent("e", {}, 100, /*lifetime*/ 2, /*session*/ 1));
    EXPECT_TRUE(isEvaluated(1, 0));
    EXPECT_FALSE(isTrue(1, 0));
    ASSERT_TRUE(logEvent("e", {}, 101, 3, 1));
    EXPECT_TRUE(isTrue(1, 0));
    EXPECT_FALSE(isTrue(1, 1));
    ASSERT_TRUE(logEvent("e", {}, 102, 4, 3));
    EXPECT_TRUE(isTrue(1, 1));
}

TEST_F(AudienceEvaluation, NotEvaluableFiltersKeepTheirBits) {
    auto valueAboveTen = test(numberFilter(2, "10"), nullptr, "value");
    define({audience(1, {eventFilter(0, "e", {valueAboveTen}, nullptr, {.dynamic = true})}),
            audience(2, {eventFilter(0, "e", {test(numberFilter(2, "10"), nullptr, "other")})})});
    ASSERT_TRUE(logEvent("e", {{"value", APMValue(std::int64_t{11})}, {"other", APMValue(std::int64_t{1})}}));
    EXPECT_TRUE(isTrue(1, 0));
    EXPECT_TRUE(isEvaluated(2, 0));
    const auto before = storedResult(2);
    // Missing parameter (7009) and a string against a number filter (7010).
    ASSERT_TRUE(logEvent("e", {{"other", APMValue("12")}}, 200));
    EXPECT_EQ(monitor.linesWithCode(7009).size(), 1u);
    EXPECT_EQ(monitor.linesWithCode(7010).size(), 1u);
    EXPECT_TRUE(isTrue(1, 0));
    EXPECT_EQ(storedResult(2), before);
}

TEST_F(AudienceEvaluation, StaticFiltersStayTrueAndDynamicEventFiltersNeverTurnFalse) {
    auto flag = test(numberFilter(3, "1"), nullptr, "flag");
    define({audience(1, {eventFilter(0, "e", {flag}), eventFilter(1, "e", {flag}, nullptr, {.dynamic = true})})});
    ASSERT_TRUE(logEvent("e", {{"flag", APMValue(std::int64_t{1})}}));
    ASSERT_TRUE(isTrue(1, 0) && isTrue(1, 1));
    monitor.clear();
    ASSERT_TRUE(logEvent("e", {{"flag", APMValue(std::int64_t{0})}}, 300));
    EXPECT_TRUE(isTrue(1, 0));
    EXPECT_TRUE(isTrue(1, 1));
    monitor.clear();
    ASSERT_TRUE(logEvent("e", {}, 400));
    // Only the dynamic filter was evaluated again.
    EXPECT_EQ(monitor.linesWithCode(7009).size(), 1u);
}

TEST_F(AudienceEvaluation, PropertyFiltersTurnFalseOnlyWhenDynamicOutsideSession) {
    auto equalFive = test(numberFilter(3, "5"));
    define({audience(1, {}, {propertyFilter(0, "p", equalFive), propertyFilter(1, "p", equalFive, {.dynamic = true}),
                             propertyFilter(2, "p", equalFive, {.dynamic = true, .sessionScoped = true})})});
    ASSERT_TRUE(setProperty("p", APMValue("5")));  // text compared as a number
    ASSERT_TRUE(isTrue(1, 0) && isTrue(1, 1) && isTrue(1, 2));
    ASSERT_TRUE(setProperty("p", APMValue(std::int64_t{6}), 200));
    EXPECT_TRUE(isTrue(1, 0));
    EXPECT_FALSE(isTrue(1, 1));
    EXPECT_TRUE(isEvaluated(1, 1));
    EXPECT_TRUE(isTrue(1, 2));
    ASSERT_TRUE(setProperty("p", APMValue("5e3"), 300));
    EXPECT_EQ(monitor.linesWithCode(7001).size(), 2u);  // the two dynamic filters
}

TEST_F(AudienceEvaluation, RegularExpressionOverItsLimitsKeepsThePreviousBit) {
    define({audience(1, {}, {propertyFilter(0, "p", test(nullptr, stringFilter(1, "^(a+)+$", true)),
                                            {.dynamic = true})})});
    ASSERT_TRUE(setProperty("p", APMValue("aaaa")));
    ASSERT_TRUE(isTrue(1, 0));
    ASSERT_TRUE(setProperty("p", APMValue(std::string(40, 'a') + "!"), 200));
    EXPECT_EQ(monitor.linesWithCode(9007).size(), 1u);
    EXPECT_TRUE(isTrue(1, 0));
}

TEST_F(AudienceEvaluation, CorruptFilterRowsAreSkippedWithALogLine) {
    define({audience(1, {eventFilter(1, "e")})});
    ASSERT_TRUE(database->updateEventFilters({{1, 0, "e", {0xff, 0xff, 0xff}, false, false, false}}, nullptr));
    ASSERT_TRUE(database->updatePropertyFilters({{1, 2, "p", {0x0a, 0x7f}, false, false, false}}, nullptr));
    ASSERT_TRUE(logEvent("e"));
    ASSERT_TRUE(setProperty("p", APMValue("x")));
    EXPECT_EQ(monitor.linesWithCode(6035).size(), 1u);
    EXPECT_EQ(monitor.linesWithCode(6036).size(), 1u);
    EXPECT_TRUE(isTrue(1, 1));
    EXPECT_FALSE(isEvaluated(1, 0));
}

TEST_F(AudienceEvaluation, NanoPropertiesConvertOrFail) {
    define({audience(1, {}, {propertyFilter(0, "p", test(numberFilter(2, "10")), {.dynamic = true})})});
    APMAudienceTimestampsCache cache;
    ASSERT_TRUE(audiences->evaluateFiltersForNanoUserProperty(*nanoProperty("p", 42.5, std::nullopt, 11), &cache,
                                                              std::nullopt));
    EXPECT_TRUE(isTrue(1, 0));
    EXPECT_EQ(cache.dynamicTimestampsForAudienceID(1), (std::vector<APMAudienceDynamicTimestamp>{{0, 42}}));
    auto onlyFloat = nanoProperty("p", 1, std::nullopt);
    APMPBSetFloat(*onlyFloat, 4, 3.5f);
    EXPECT_FALSE(audiences->evaluateFiltersForNanoUserProperty(*onlyFloat, nullptr, 7.0));
    EXPECT_EQ(monitor.linesWithCode(6039).size(), 1u);
}

TEST_F(AudienceEvaluation, DatabaseFailureEndsThePassWithoutWriting) {
    define({audience(1, {eventFilter(0, "e")})});
    execute("DROP TABLE audience_filter_values;");
    EXPECT_FALSE(logEvent("e"));
    EXPECT_EQ(monitor.linesWithCode(6001).size(), 1u);
}

}  // namespace
