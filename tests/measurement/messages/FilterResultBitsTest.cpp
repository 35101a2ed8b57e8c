// ResultData: which stored filter results read as true.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/FilterResultBits.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/SemanticsTestSupport.h"

namespace {

APMPBArray words(const std::vector<std::uint64_t>& values) {
    APMPBArray objects;
    for (std::uint64_t value : values) objects.emplace_back(APMPBNumber::numberWithUnsignedLongLong(value));
    return objects;
}

std::shared_ptr<APMPBResultData> resultData(const std::vector<std::uint64_t>& status,
                                            const std::vector<std::uint64_t>& results) {
    auto data = newMessage<APMPBResultData>();
    APMPBSetArray(*data, ResultDataSlot::Status, words(status));
    APMPBSetArray(*data, ResultDataSlot::Results, words(results));
    return throughWire(*data);
}

}  // namespace

TEST(FilterResultBits, FilterSixtyFourUsesBitZeroOfWordOne) {
    auto data = resultData({0, 1}, {0, 1});
    EXPECT_TRUE(APMResultDataIsFilterTrue(*data, 64));
    EXPECT_FALSE(APMResultDataIsFilterTrue(*data, 0));
    EXPECT_FALSE(APMResultDataIsFilterTrue(*data, 65));
}

TEST(FilterResultBits, FilterSixtyThreeUsesTheTopBitOfWordZero) {
    const std::uint64_t top = std::uint64_t{1} << 63;
    auto data = resultData({top}, {top});
    EXPECT_TRUE(APMResultDataIsFilterTrue(*data, 63));
    EXPECT_FALSE(APMResultDataIsFilterTrue(*data, 62));
}

TEST(FilterResultBits, TrueNeedsBothBitsAndBothWords) {
    EXPECT_FALSE(APMResultDataIsFilterTrue(*resultData({0b10}, {0b11}), 0));  // not evaluated
    EXPECT_FALSE(APMResultDataIsFilterTrue(*resultData({0b11}, {0b10}), 0));  // evaluated false
    EXPECT_FALSE(APMResultDataIsFilterTrue(*resultData({0, 1}, {0}), 64));    // results too short
    EXPECT_FALSE(APMResultDataIsFilterTrue(*resultData({}, {}), 0));
}

TEST(FilterResultBits, ANegativeFilterIDIsNeverTrue) {
    EXPECT_FALSE(APMResultDataIsFilterTrue(*resultData({~std::uint64_t{0}}, {~std::uint64_t{0}}), -1));
    EXPECT_FALSE(APMResultDataIsFilterTrue(*resultData({~std::uint64_t{0}}, {~std::uint64_t{0}}), -64));
}
