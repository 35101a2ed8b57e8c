#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "measurement/interface/APMInAppPurchase.h"

TEST(IA5Dates, FormatsDatesWithinFourDigitYearsAndRoundTrips) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {1709287200.5, "2024-03-01T10:00:00Z"},
        {-62135596800.0, "0001-01-01T00:00:00Z"},
        {253402300799.0, "9999-12-31T23:59:59Z"},
    };
    for (const auto& c : cases) {
        const auto text = APMIA5StringFromDate(c.seconds);
        ASSERT_TRUE(text.has_value()) << c.seconds;
        EXPECT_EQ(*text, c.text);
        EXPECT_EQ(APMDateFromIA5String(text), std::floor(c.seconds));
    }
}

TEST(IA5Dates, NonFiniteOrOutOfRangeDatesHaveNoText) {
    const double inf = std::numeric_limits<double>::infinity();
    for (const double seconds : {std::nan(""), inf, -inf, 1e300, -1e300, 253402300800.0, -62135596801.0, 1e17}) {
        EXPECT_EQ(APMIA5StringFromDate(seconds), std::nullopt) << seconds;
    }
    EXPECT_EQ(APMIA5StringFromDate(std::nullopt), std::nullopt);
}
