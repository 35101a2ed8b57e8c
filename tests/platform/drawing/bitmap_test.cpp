#include "platform/drawing/Bitmap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

namespace platform {
namespace {

std::filesystem::path tempDir() {
    const char* tmp = std::getenv("TMPDIR");
    auto dir = std::filesystem::path(tmp ? tmp : "/tmp") / "bitmap_test";
    std::filesystem::create_directories(dir);
    return dir;
}

// Pixel (x, y) holds an opaque grey whose blue channel is x and green is y.
BitmapRef gradient(int width, int height) {
    std::vector<std::uint32_t> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) pixels.push_back(0xff000000u | (std::uint32_t(y) << 8) | std::uint32_t(x));
    return Bitmap::make(width, height, pixels);
}

TEST(BitmapPng, RoundTripKeepsEveryPixel) {
    const auto original = gradient(7, 5);
    const auto path = tempDir() / "round.png";
    ASSERT_TRUE(original->writePng(path));
    const auto loaded = Bitmap::loadPng(path);
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->width(), 7);
    ASSERT_EQ(loaded->height(), 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) EXPECT_EQ(loaded->pixel(x, y), original->pixel(x, y)) << x << "," << y;
}

TEST(BitmapPng, MissingEmptyAndGarbageFilesLoadAsNothing) {
    EXPECT_FALSE(Bitmap::loadPng(tempDir() / "absent.png"));
    const auto empty = tempDir() / "empty.png";
    std::ofstream(empty).close();
    EXPECT_FALSE(Bitmap::loadPng(empty));
    const auto garbage = tempDir() / "garbage.png";
    std::ofstream(garbage) << "\x89PNG\r\n\x1a\n but then nothing sensible";
    EXPECT_FALSE(Bitmap::loadPng(garbage));
}

TEST(BitmapPng, EmptyBitmapIsNotWritten) {
    EXPECT_FALSE(Bitmap(0, 0, {}).writePng(tempDir() / "nothing.png"));
}

TEST(BitmapConstruction, MismatchedPixelCountGivesEmptyBitmap) {
    const Bitmap wrong(4, 4, std::vector<std::uint32_t>(3));
    EXPECT_EQ(wrong.width(), 0);
    EXPECT_EQ(wrong.height(), 0);
    EXPECT_EQ(wrong.pixel(0, 0), 0u);
    const Bitmap negative(-1, 2, {});
    EXPECT_EQ(negative.width(), 0);
}

TEST(BitmapCrop, TakesTheIntegralRectangleFromTheTopLeft) {
    const auto source = gradient(10, 8);
    const auto cell = source->cropped({2.5, 1.2, 3, 2});  // integral: x 2..6, y 1..4
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->width(), 4);
    EXPECT_EQ(cell->height(), 3);
    EXPECT_EQ(cell->pixel(0, 0), source->pixel(2, 1));
    EXPECT_EQ(cell->pixel(3, 2), source->pixel(5, 3));
}

TEST(BitmapCrop, NeverReadsOutsideTheBitmap) {
    const auto source = gradient(10, 8);
    const auto overhanging = source->cropped({8, 6, 5, 5});
    ASSERT_TRUE(overhanging);
    EXPECT_EQ(overhanging->width(), 2);
    EXPECT_EQ(overhanging->height(), 2);
    EXPECT_EQ(overhanging->pixel(1, 1), source->pixel(9, 7));

    EXPECT_FALSE(source->cropped({10, 0, 4, 4}));  // entirely to the right
    EXPECT_FALSE(source->cropped({-5, -5, 5, 5}));  // entirely above-left
    EXPECT_FALSE(source->cropped({0, 0, 0, 0}));
    EXPECT_FALSE(source->cropped({NAN, 0, 4, 4}));
    EXPECT_FALSE(source->cropped({0, 0, INFINITY, 4}));
}

TEST(BitmapCrop, APartShowsThePixelsItWasCutFromAndKeepsThemAlive) {
    auto source = gradient(10, 8);
    const auto cell = source->cropped({2, 1, 4, 3});
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->data(), source->data() + 1 * 10 + 2);  // no copy of the sheet's pixels
    const auto inner = cell->cropped({1, 1, 2, 2});
    ASSERT_TRUE(inner);
    const std::uint32_t expected = source->pixel(3, 2);
    source.reset();
    EXPECT_EQ(inner->pixel(0, 0), expected);
    EXPECT_EQ(inner->pixel(2, 0), 0u);  // outside the part, though inside what it was cut from

    const auto path = tempDir() / "part.png";
    ASSERT_TRUE(cell->writePng(path));
    const auto loaded = Bitmap::loadPng(path);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->width(), 4);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(loaded->pixel(x, y), cell->pixel(x, y)) << x << "," << y;
}

TEST(PixelComponents, UndoesPremultiplication) {
    const auto half = pixelComponents(0x80400000u);  // alpha 128, red 64 premultiplied
    EXPECT_EQ(half.alpha, 128);
    EXPECT_NEAR(half.red, 128, 1);
    EXPECT_EQ(pixelComponents(0).red, 0);
}

}  // namespace
}  // namespace platform
