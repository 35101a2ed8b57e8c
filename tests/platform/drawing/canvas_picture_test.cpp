// Pictures: drawing kept as an image and painted again for the same key.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/drawing/CairoCanvas.h"
#include "platform/drawing/RecordingCanvas.h"

namespace platform {
namespace {

constexpr Color white{1, 1, 1, 1};
constexpr Color shade{0, 0, 0, 0.45};
constexpr Color teal{0.1, 0.6, 0.55, 1};

PictureKey keyOf(std::string_view text) {
    PictureKey key;
    appendToKey(key.description, text);
    return key;
}

// An outlined label over a translucent disc: anti-aliased edges, text set
// by Pango and partly transparent colours.
void drawLabel(Canvas& canvas) {
    canvas.save();
    canvas.setFillColor(Color{0.2, 0.3, 0.9, 0.5});
    canvas.fillPath(Path::ellipse({6.3, 2.2, 30, 14}));
    TextStyle style;
    style.font = Font::system(10, FontWeight::semibold);
    style.foreground = white;
    style.alignment = TextAlignment::center;
    style.truncateTail = true;
    style.strokeColor = shade;
    style.strokeWidth = -2;
    canvas.drawText("Calendar and more", style, {4, 4, 50, 14});
    canvas.restore();
}

// A body to draw over, so the picture is composited onto something.
BitmapRef render(Point offset, double scale, bool asPicture, int* drawCount = nullptr) {
    CairoCanvas canvas({64, 24}, scale);
    canvas.setFillColor(teal);
    canvas.fillPath(Path::roundedRect({1.5, 0.5, 60, 20}, 8, 8));
    canvas.save();
    canvas.translate(offset.x, offset.y);
    auto draw = [drawCount](Canvas& c) {
        if (drawCount) ++*drawCount;
        drawLabel(c);
    };
    if (asPicture) canvas.drawPicture(keyOf("label"), {0, 0, 60, 22}, draw);
    else draw(canvas);
    canvas.restore();
    return canvas.finish();
}

// The largest difference of one premultiplied channel between two bitmaps.
int largestDifference(const Bitmap& a, const Bitmap& b) {
    EXPECT_EQ(a.width(), b.width());
    EXPECT_EQ(a.height(), b.height());
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (int shift : {0, 8, 16, 24}) {
                const int pa = int(a.pixel(x, y) >> shift & 0xff), pb = int(b.pixel(x, y) >> shift & 0xff);
                largest = std::max(largest, std::abs(pa - pb));
            }
    return largest;
}

class CanvasPictures : public ::testing::Test {
protected:
    void SetUp() override { CairoCanvas::clearPictureCache(); }
    void TearDown() override { CairoCanvas::clearPictureCache(); }
};

TEST_F(CanvasPictures, APictureLooksLikeTheDrawingItStandsFor) {
    for (double scale : {1.0, 2.0}) {
        for (Point offset : {Point{0, 0}, Point{0.25, 0.7}, Point{3.5, 1.1}}) {
            const auto direct = render(offset, scale, false);
            const auto first = render(offset, scale, true);   // drawn into the image
            const auto again = render(offset, scale, true);   // the image painted again
            // The disc, the text's fill and its outline are composited onto
            // the image and the image onto the body: each step rounds to
            // the nearest level, so four half-levels at most.
            EXPECT_LE(largestDifference(*direct, *first), 2) << scale << " " << offset.x << "," << offset.y;
            EXPECT_EQ(largestDifference(*first, *again), 0);
        }
    }
}

TEST_F(CanvasPictures, TheComparisonSeesTheLabel) {
    // Guards the test above: a label one point off is far from equal.
    EXPECT_GT(largestDifference(*render({0, 0}, 2, false), *render({1, 0}, 2, false)), 100);
}

TEST_F(CanvasPictures, TheSameKeyAndPlaceIsDrawnOnce) {
    int draws = 0;
    render({0, 0}, 2, true, &draws);
    render({0, 0}, 2, true, &draws);
    render({0, 0}, 2, true, &draws);
    EXPECT_EQ(draws, 1);
    const auto stats = CairoCanvas::pictureCacheStats();
    EXPECT_EQ(stats.misses, 1u);
    EXPECT_EQ(stats.hits, 2u);
    EXPECT_EQ(stats.entries, 1u);
    EXPECT_GT(stats.bytes, 0u);
}

TEST_F(CanvasPictures, AnotherPlaceScaleOrKeyIsDrawnAfresh) {
    int draws = 0;
    render({0, 0}, 2, true, &draws);
    render({0.5, 0}, 2, true, &draws);  // another sub-pixel phase
    render({0, 0}, 1, true, &draws);    // another scale
    EXPECT_EQ(draws, 3);

    CairoCanvas canvas({64, 24}, 2);
    canvas.drawPicture(keyOf("label, bold"), {0, 0, 60, 22}, [&draws](Canvas& c) {
        ++draws;
        drawLabel(c);
    });
    EXPECT_EQ(draws, 4);

    // Identity objects are part of the key: another object, another picture.
    PictureKey withObject = keyOf("label");
    withObject.objects.push_back(std::make_shared<int>(1));
    canvas.drawPicture(withObject, {0, 0, 60, 22}, [&draws](Canvas&) { ++draws; });
    canvas.drawPicture(withObject, {0, 0, 60, 22}, [&draws](Canvas&) { ++draws; });
    PictureKey otherObject = keyOf("label");
    otherObject.objects.push_back(std::make_shared<int>(1));
    canvas.drawPicture(otherObject, {0, 0, 60, 22}, [&draws](Canvas&) { ++draws; });
    EXPECT_EQ(draws, 6);
}

TEST_F(CanvasPictures, BlendModesAndTransparencyAreDrawnDirectly) {
    CairoCanvas canvas({20, 20}, 2);
    int draws = 0;
    auto count = [&draws](Canvas&) { ++draws; };
    canvas.save();
    canvas.setAlpha(0.5);
    canvas.drawPicture(keyOf("a"), {0, 0, 20, 20}, count);
    canvas.drawPicture(keyOf("a"), {0, 0, 20, 20}, count);
    canvas.restore();
    canvas.save();
    canvas.setBlendMode(BlendMode::copy);
    canvas.drawPicture(keyOf("a"), {0, 0, 20, 20}, count);
    canvas.restore();
    canvas.drawPicture(keyOf("a"), {0, 0, 0, 20}, count);  // no area
    EXPECT_EQ(draws, 4);
    EXPECT_EQ(CairoCanvas::pictureCacheStats().entries, 0u);
}

TEST_F(CanvasPictures, UnderTheClearBlendModeAKeptPictureErasesAsItsShapesWould) {
    int draws = 0;
    const auto holes = [&draws](Canvas& c) {
        ++draws;
        c.setFillColor(Color{0, 0, 0, 1});
        c.fillPath(Path::ellipse({10.3, 3.1, 12, 12}));
        c.fillPath(Path::ellipse({18.6, 5.4, 12, 12}));  // overlapping the first
    };
    auto erased = [&holes](bool asPicture) {
        CairoCanvas canvas({64, 24}, 2);
        canvas.setFillColor(teal);
        canvas.fillPath(Path::roundedRect({1.5, 0.5, 60, 20}, 8, 8));
        canvas.translate(0.25, 0.7);
        canvas.setBlendMode(BlendMode::clear);
        if (asPicture) canvas.drawPicture(keyOf("holes"), {0, 0, 60, 22}, holes);
        else holes(canvas);
        return canvas.finish();
    };
    const auto direct = erased(false);
    draws = 0;
    const auto first = erased(true);
    const auto again = erased(true);
    EXPECT_EQ(draws, 1);
    EXPECT_LE(largestDifference(*direct, *first), 2);
    EXPECT_EQ(largestDifference(*first, *again), 0);
    EXPECT_EQ(direct->pixel(int(16.5 * 2), int((24 - 9.6) * 2)) >> 24, 0u);  // a hole's centre
}

TEST_F(CanvasPictures, APictureKeepsToItsExtent) {
    CairoCanvas canvas({20, 20}, 1);
    canvas.drawPicture(keyOf("spill"), {5, 5, 10, 10}, [](Canvas& c) {
        c.setFillColor(teal);
        c.fillPath(Path::rectangle({0, 0, 20, 20}));
    });
    const auto bitmap = canvas.finish();
    EXPECT_EQ(bitmap->pixel(10, 10) >> 24, 255u);  // inside
    EXPECT_EQ(bitmap->pixel(2, 2) >> 24, 0u);      // outside: not painted
}

TEST_F(CanvasPictures, OnlyThePartThatShowsIsKeptAndPaintedWhereItWas) {
    const auto drawSquare = [](Canvas& c) {
        c.setFillColor(teal);
        c.fillPath(Path::rectangle({30, 50, 10, 20}));
    };
    CairoCanvas direct({100, 100}, 1);
    direct.setFillColor(white);
    direct.fillPath(Path::rectangle({0, 0, 100, 100}));
    drawSquare(direct);
    for (int pass = 0; pass < 2; ++pass) {  // drawn into the image, then the image painted again
        CairoCanvas canvas({100, 100}, 1);
        canvas.setFillColor(white);
        canvas.fillPath(Path::rectangle({0, 0, 100, 100}));
        canvas.drawPicture(keyOf("square"), {0, 0, 100, 100}, drawSquare);
        EXPECT_EQ(largestDifference(*canvas.finish(), *direct.makeBitmap()), 0) << pass;
    }
    EXPECT_EQ(CairoCanvas::pictureCacheStats().bytes, 10u * 20u * 4u);
}

TEST_F(CanvasPictures, ImagesStayWithinTheMemoryBudget) {
    for (int i = 0; i < 12; ++i) {
        CairoCanvas canvas({1000, 1000}, 2);  // 16 MB a picture
        canvas.drawPicture(keyOf(std::to_string(i)), {0, 0, 1000, 1000}, [](Canvas&) {});
        EXPECT_LE(CairoCanvas::pictureCacheStats().bytes, 32u << 20);
    }
    EXPECT_EQ(CairoCanvas::pictureCacheStats().entries, 2u);
}

TEST(RecordingCanvasPictures, DrawsThePictureAndNotesWhereItWent) {
    RecordingCanvas canvas;
    canvas.translate(3, 4);
    canvas.drawPicture(keyOf("label"), {0, 0, 60, 22}, drawLabel);
    ASSERT_EQ(canvas.pictures().size(), 1u);
    const auto& picture = canvas.pictures().front();
    EXPECT_EQ(picture.key, keyOf("label"));
    EXPECT_EQ(picture.extent, (Rect{3, 4, 60, 22}));
    EXPECT_EQ(picture.firstCommand, 0u);
    EXPECT_EQ(picture.endCommand, 2u);
    EXPECT_EQ(canvas.commands()[1].text, "Calendar and more");
    EXPECT_EQ(canvas.saveDepth(), 0u);
}

TEST(PictureKeys, ValuesAreKeptExactlyAndUnambiguously) {
    std::string c, d;
    appendToKey(c, 1.0);
    appendToKey(d, std::nextafter(1.0, 2.0));
    EXPECT_NE(c, d);
    std::string e, f;
    appendToKey(e, "ab");
    appendToKey(e, "c");
    appendToKey(f, "a");
    appendToKey(f, "bc");
    EXPECT_NE(e, f);
}

}  // namespace
}  // namespace platform
