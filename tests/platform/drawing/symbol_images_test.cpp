#include "platform/drawing/SymbolImages.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

int inkedPixels(const Bitmap& bitmap) {
    int count = 0;
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x) count += (bitmap.pixel(x, y) >> 24) > 0;
    return count;
}

TEST(SymbolImages, EveryNamedSymbolIsDrawnAtTwicePointSize) {
    for (const char* name : {"pawprint.fill", "xmark.circle.fill", "play.fill", "pause.fill", "backward.fill",
                             "forward.fill"}) {
        const auto image = symbolImage(name, 20);
        ASSERT_TRUE(image) << name;
        EXPECT_EQ(image->size(), (Size{20, 20}));
        ASSERT_EQ(image->bitmap()->width(), 40);
        EXPECT_GT(inkedPixels(*image->bitmap()), 100) << name;
    }
}

TEST(SymbolImages, XmarkIsCutOutOfItsDisc) {
    const auto image = symbolImage("xmark.circle.fill", 20);
    EXPECT_EQ(image->bitmap()->pixel(20, 20) >> 24, 0u);   // the centre of the cross
    EXPECT_EQ(image->bitmap()->pixel(20, 6) >> 24, 255u);  // the disc above it
}

TEST(SymbolImages, UnknownNamesAndBadSizesGiveNothing) {
    EXPECT_FALSE(symbolImage("pawprint"));
    EXPECT_FALSE(symbolImage("play.fill", 0));
    EXPECT_FALSE(symbolImage("play.fill", -3));
}

}  // namespace
}  // namespace platform
