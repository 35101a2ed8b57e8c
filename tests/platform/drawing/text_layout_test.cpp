#include "platform/drawing/TextLayout.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(MeasureText, GrowsWithTheTextAndTheFont) {
    const Font font = Font::boldSystem(12);
    const Size one = measureText("9", font);
    const Size three = measureText("99+", font);
    EXPECT_GT(one.width, 0);
    EXPECT_GT(three.width, 2 * one.width);
    EXPECT_GT(measureText("99+", Font::boldSystem(24)).width, 1.8 * three.width);
    EXPECT_GT(one.height, 12 * 0.9);
    EXPECT_LT(one.height, 12 * 1.6);
}

TEST(MeasureText, EmptyTextIsOneLineHighAndNothingWide) {
    const Size empty = measureText("", Font::system(10));
    EXPECT_EQ(empty.width, 0);
    EXPECT_GT(empty.height, 0);
}

TEST(MeasureText, NonPositiveSizesDoNotFail) {
    EXPECT_GE(measureText("abc", Font::system(-4)).width, 0);
    EXPECT_GE(measureText("abc", Font::system(0)).width, 0);
}

}  // namespace
}  // namespace platform
