// The regular expressions of one bundle share one time budget: once it is
// spent, the bundle's remaining regular-expression filters are not evaluable
// (their stored bits stay), other filters still are, and one 9007 line is
// logged for the bundle.

#include "AudienceTestSupport.h"
#include "measurement/audiences/APMAudienceBundlePass.h"

namespace {

using namespace audience_test;

// Every read moves the monotonic clock on by a tenth of a second, so each
// search costs that much of the budget, however fast it really ran.
class TickingClock final : public platform::Clock {
public:
    double now() const override { return 0; }
    std::uint64_t monotonicNanos() const override { return ticks_ += 100'000'000; }

private:
    mutable std::uint64_t ticks_ = 0;
};

using AudienceRegexBudget = AudienceDatabaseTest;

TEST_F(AudienceRegexBudget, OnceSpentRegexFiltersKeepTheirBitsAndOneLineIsLogged) {
    auto startsWithGold = [](std::optional<std::string> parameter) {
        return test(nullptr, stringFilter(1, "^gold", true), std::move(parameter));
    };
    define({audience(1, {eventFilter(0, "e", {startsWithGold("tier")})},
                     {propertyFilter(1, "p", startsWithGold(std::nullopt), {.dynamic = true}),
                      propertyFilter(2, "q", test(nullptr, stringFilter(5, "x")), {.dynamic = true})})});
    const auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
    {
        APMAudienceBundlePass first(*audiences);
        ASSERT_TRUE(first.finish({nanoProperty("p", 50, "golden"), nanoProperty("q", 50, "y")}, 60, *bundle));
    }
    ASSERT_TRUE(isTrue(1, 1));
    ASSERT_FALSE(isTrue(1, 2));

    TickingClock clock;
    APMAudienceBundlePass pass(*audiences, APMAudienceRegexBudget(0.25, clock));
    const APMParameters silver{{"tier", APMValue("silver")}};
    for (double time : {100.0, 110.0, 120.0, 130.0, 140.0}) {
        ASSERT_TRUE(pass.evaluateEvent("e", silver, time, APMEventAggregates("e", 1, 1, 1, time)));
    }
    ASSERT_TRUE(pass.finish({nanoProperty("p", 150, "silver"), nanoProperty("q", 150, "x")}, 150, *bundle));
    EXPECT_TRUE(isTrue(1, 1));   // "silver" would have cleared it
    EXPECT_TRUE(isTrue(1, 2));   // no regular expression: evaluated
    EXPECT_FALSE(isTrue(1, 0));  // three searches ran, and found nothing
    EXPECT_EQ(monitor.linesWithCode(9007).size(), 1u);
}

}  // namespace
