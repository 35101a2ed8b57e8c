#include "Mossbridge/pets/PetPreviewImage.h"

#include <gtest/gtest.h>

#include "SpriteSheetFixture.h"
#include "platform/drawing/RecordingCanvas.h"

namespace Mossbridge {
namespace {

class PetPreviewImageTest : public testing::SpriteSheetTest {
protected:
    void SetUp() override {
        SpriteSheetTest::SetUp();
        resetPetPreviewImageCacheForTesting();
    }
    void TearDown() override {
        resetPetPreviewImageCacheForTesting();
        SpriteSheetTest::TearDown();
    }
    // The picture's pixel under point (x, y), y measured from the bottom.
    static platform::PixelComponents at(const platform::Image& image, double x, double y) {
        const auto& bitmap = *image.bitmap();
        const double scale = bitmap.width() / image.size().width;
        return platform::pixelComponents(
            bitmap.pixel(int(x * scale), int((image.size().height - y) * scale)));
    }
};

TEST_F(PetPreviewImageTest, KeysRoundHalvesAwayFromZero) {
    EXPECT_EQ(petPreviewImageKey(PetKind::cat, {63.6, 64.4}), "Cat-64-64");
    EXPECT_EQ(petPreviewImageKey(PetKind::cat, {17.5, 18.49}), "Cat-18-18");
    EXPECT_EQ(petPreviewImageKey(PetKind::robotV1, {-0.5, 42}), "Robot V1--1-42");
    EXPECT_EQ(petPreviewImageKey(PetKind::cat, {NAN, INFINITY}), "Cat-0-0");
}

TEST_F(PetPreviewImageTest, PicturesAreCachedByKindAndRoundedSize) {
    const auto first = petPreviewImage(PetKind::cat, {64, 64});
    EXPECT_EQ(petPreviewImage(PetKind::cat, {64, 64}), first);
    EXPECT_EQ(petPreviewImage(PetKind::cat, {63.6, 64.4}), first);
    EXPECT_EQ(first->size(), (platform::Size{64, 64}));
    EXPECT_NE(petPreviewImage(PetKind::blob, {64, 64}), first);
    const auto odd = petPreviewImage(PetKind::ghost, {41.6, 42});
    EXPECT_EQ(odd->size(), (platform::Size{41.6, 42}));  // exactly the size asked for
}

TEST_F(PetPreviewImageTest, FallbackGeometryForASixtyFourPointPicture) {
    platform::RecordingCanvas canvas;
    drawPetPreviewFallback(canvas, PetKind::foxcat, {64, 64});
    const auto& c = canvas.commands();
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[0].path.elements()[0].rect, (platform::Rect{11, 7, 42, 7}));
    EXPECT_DOUBLE_EQ(c[0].color.alpha, 0.12);
    EXPECT_EQ(c[1].path.elements()[0].rect, (platform::Rect{11, 13, 42, 40}));
    EXPECT_DOUBLE_EQ(c[1].path.elements()[0].radiusX, 14);
    EXPECT_EQ(c[1].color, accentColor(PetKind::foxcat));
    EXPECT_EQ(c[2].path.elements()[0].rect, (platform::Rect{21, 37, 5, 6}));
    EXPECT_EQ(c[2].path.elements()[1].rect, (platform::Rect{38, 37, 5, 6}));
    EXPECT_EQ(canvas.saveDepth(), 0u);
}

TEST_F(PetPreviewImageTest, TinyPicturesClampTheBodyInsteadOfFailing) {
    const auto tiny = petPreviewImage(PetKind::cat, {18, 18});  // body 18 - 22 wide: nothing to draw
    EXPECT_EQ(tiny->size(), (platform::Size{18, 18}));
    const auto none = petPreviewImage(PetKind::cat, {0, -5});
    ASSERT_TRUE(none);
    EXPECT_EQ(none->bitmap()->width(), 0);
}

TEST_F(PetPreviewImageTest, ASpriteKindWithoutItsSheetGetsTheFallbackInItsAccent) {
    const auto picture = petPreviewImage(PetKind::robotV1, {64, 64});
    const auto body = at(*picture, 32, 20);
    const auto accent = accentColor(PetKind::robotV1);
    EXPECT_NEAR(body.red, accent.red * 255, 2);
    EXPECT_NEAR(body.green, accent.green * 255, 2);
    EXPECT_NEAR(body.blue, accent.blue * 255, 2);
}

TEST_F(PetPreviewImageTest, ASpriteKindShowsItsFirstIdleFrameStretchedIntoTheInset) {
    // Cell (0, 0) blue, every other cell red.
    std::vector<std::uint32_t> pixels(10 * 8 * 6 * 8, 0xffff0000u);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) pixels[y * 80 + x] = 0xff0000ffu;
    writeSheet("robot-v1-spritesheet", platform::Bitmap::make(80, 48, pixels));
    const auto picture = petPreviewImage(PetKind::robotV1, {64, 64});
    EXPECT_EQ(at(*picture, 32, 32).blue, 255);
    EXPECT_EQ(at(*picture, 3, 61).blue, 255);   // near a corner of the inset square
    EXPECT_EQ(at(*picture, 1, 32).alpha, 0);    // the 2-point margin
    EXPECT_EQ(at(*picture, 63, 63).alpha, 0);
}

TEST_F(PetPreviewImageTest, ASheetWhoseFramesDoNotFitGivesATransparentPicture) {
    // The idle clip needs two rows; this sheet holds one.
    writeSheet("hooded-code-test-idle-5x2", testing::labelledSheet(5, 1, 8));
    const auto picture = petPreviewImage(PetKind::hoodedCodeTestV1, {42, 42});
    const auto& bitmap = *picture->bitmap();
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x) ASSERT_EQ(bitmap.pixel(x, y), 0u);
}

}  // namespace
}  // namespace Mossbridge
