// Purchases and lifetime value: exact money conversion, refunds, invalid
// and out-of-bounds values, the tracked-currency limit, and the write that
// a failed lifetime value rolls back whole.

#include <cmath>
#include <limits>

#include "EngineTestSupport.h"
#include "measurement/engine/APMLifetimeValueRecorder.h"

namespace engine_test {
namespace {

using Status = APMMillionths::Status;

TEST(Millionths, ScalesTheDecimalTextOfTheNumber) {
    const struct {
        APMValue value;
        APMMillionthsRounding rounding;
        Status status;
        std::int64_t expected;
    } cases[] = {
        {APMValue(2.01), APMMillionthsRounding::HalfAwayFromZero, Status::Ok, 2010000},
        {APMValue(2.01), APMMillionthsRounding::TowardZero, Status::Ok, 2010000},
        {APMValue(9.99), APMMillionthsRounding::HalfAwayFromZero, Status::Ok, 9990000},
        {APMValue(0.0000005), APMMillionthsRounding::HalfAwayFromZero, Status::Ok, 1},
        {APMValue(-0.0000005), APMMillionthsRounding::HalfAwayFromZero, Status::Ok, -1},
        {APMValue(0.0000005), APMMillionthsRounding::TowardZero, Status::Ok, 0},
        {APMValue(1.5), APMMillionthsRounding::TowardZero, Status::Ok, 1500000},
        {APMValue(std::int64_t{-3}), APMMillionthsRounding::TowardZero, Status::Ok, -3000000},
        {APMValue(std::int64_t{9223372036855}), APMMillionthsRounding::TowardZero, Status::OutOfBounds, 0},
        {APMValue(1e13), APMMillionthsRounding::HalfAwayFromZero, Status::OutOfBounds, 0},
        {APMValue(-1e300), APMMillionthsRounding::HalfAwayFromZero, Status::OutOfBounds, 0},
        {APMValue(std::nan("")), APMMillionthsRounding::HalfAwayFromZero, Status::InvalidValue, 0},
        {APMValue(std::numeric_limits<double>::infinity()), APMMillionthsRounding::TowardZero, Status::InvalidValue, 0},
        {APMValue("2"), APMMillionthsRounding::TowardZero, Status::InvalidValue, 0},
    };
    for (const auto& c : cases) {
        const APMMillionths result = APMMillionthsFromValue(c.value, c.rounding);
        EXPECT_EQ(result.status, c.status) << c.value.description();
        if (c.status == Status::Ok) {
            EXPECT_EQ(result.value, c.expected) << c.value.description();
        }
    }
    EXPECT_EQ(APMCheckedInt64FromDouble(9.3e18).status, Status::OutOfBounds);
    EXPECT_EQ(APMCheckedInt64FromDouble(-2.9).value, -2);
}

class LifetimeValue : public EngineFixture {
protected:
    void SetUp() override { startWithoutStartRecords(); }
    void purchase(const std::string& name, const char* currency, APMObject value) {
        log(name, {{"currency", platform::PropertyValue(currency)}, {"value", std::move(value)}});
    }
    std::optional<std::int64_t> ltv(const std::string& currency) {
        auto stored = engine->database()->userAttributeWithName("_ltv_" + currency);
        return stored.value ? std::optional(stored.value->value().int64Value()) : std::nullopt;
    }
};

TEST_F(LifetimeValue, PurchasesAddAndRefundsTakeOffPerCurrency) {
    purchase("purchase", "usd", platform::PropertyValue(9.99));
    purchase("purchase", "usd", platform::PropertyValue(2.01));
    EXPECT_EQ(ltv("USD"), 12000000);
    purchase("refund", "usd", platform::PropertyValue(9.99));
    EXPECT_EQ(ltv("USD"), 2010000);
    EXPECT_EQ(stored().size(), 3u);
}

TEST_F(LifetimeValue, AnInvalidCurrencyOrValueStoresTheEventWithoutLifetimeValue) {
    purchase("purchase", "us", platform::PropertyValue(1.0));
    purchase("purchase", "euro", platform::PropertyValue(1.0));
    EXPECT_EQ(stored().size(), 2u);
    EXPECT_FALSE(ltv("US"));
    EXPECT_FALSE(ltv("EURO"));
    EXPECT_EQ(monitor.linesWithCode(22000).size(), 2u);
}

TEST_F(LifetimeValue, ASumBeyondSixtyFourBitsRollsTheWholeWriteBack) {
    ASSERT_TRUE(engine->database()->updateUserAttribute(
        APMUserAttribute("auto", "_ltv_USD", APMValue(std::numeric_limits<std::int64_t>::max() - 10), now()), nullptr));
    const APMDailyCounts before = *engine->database()->dailyCounts().value;
    purchase("purchase", "USD", platform::PropertyValue(1.0));
    EXPECT_TRUE(stored().empty());
    EXPECT_EQ(*engine->database()->dailyCounts().value, before);
    EXPECT_EQ(ltv("USD"), std::numeric_limits<std::int64_t>::max() - 10);
    EXPECT_EQ(monitor.linesWithCode(22002).size(), 1u);
    EXPECT_EQ(monitor.linesWithCode(23053).size(), 1u);
}

TEST_F(LifetimeValue, ANewCurrencyAtTheLimitEvictsTheOneSetLongestAgo) {
    applySettings({{"measurement.lifetimevalue.max_currency_tracked", "2"}});
    purchase("purchase", "USD", platform::PropertyValue(1LL));
    dispatcher.advance(10);
    purchase("purchase", "EUR", platform::PropertyValue(1LL));
    dispatcher.advance(10);
    purchase("purchase", "EUR", platform::PropertyValue(1LL));
    EXPECT_EQ(ltv("USD"), 1000000);
    dispatcher.advance(10);
    purchase("purchase", "GBP", platform::PropertyValue(1LL));
    EXPECT_FALSE(ltv("USD"));
    EXPECT_EQ(ltv("EUR"), 2000000);
    EXPECT_EQ(ltv("GBP"), 1000000);
}

TEST_F(LifetimeValue, AutomaticPurchasesCarryMillionthsAlready) {
    log("_iap", {{"currency", platform::PropertyValue("USD")}, {"value", platform::PropertyValue(1990000LL)}}, 0,
        "auto", false);
    EXPECT_EQ(ltv("USD"), 1990000);
}

}  // namespace
}  // namespace engine_test
