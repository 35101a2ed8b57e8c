#include <gtest/gtest.h>

#include "platform/drawing/CairoCanvas.h"
#include "platform/drawing/RecordingCanvas.h"

namespace platform {
namespace {

constexpr Color red{1, 0, 0, 1};
constexpr Color blue{0, 0, 1, 1};

PixelComponents at(const BitmapRef& bitmap, int x, int y) { return pixelComponents(bitmap->pixel(x, y)); }

TEST(PathShapes, RoundedRectRadiiAreClampedToHalfASide) {
    const auto path = Path::roundedRect({0, 0, 20, 10}, 50, -3);
    const auto& e = path.elements().front();
    EXPECT_DOUBLE_EQ(e.radiusX, 10);
    EXPECT_DOUBLE_EQ(e.radiusY, 0);
    const auto nan = Path::roundedRect({0, 0, 20, 10}, NAN, 4);
    EXPECT_DOUBLE_EQ(nan.elements().front().radiusX, 0);
    EXPECT_DOUBLE_EQ(nan.elements().front().radiusY, 4);
}

TEST(PathShapes, BoundingBoxCoversPointsControlPointsAndShapes) {
    Path path;
    path.moveTo({1, 2});
    path.quadCurveTo({5, 2}, {3, -4});
    path.addEllipse({10, 10, 2, 3});
    EXPECT_EQ(path.boundingBox(), (Rect{1, -4, 11, 17}));
    EXPECT_EQ(Path().boundingBox(), Rect());
}

TEST(CairoCanvas, OriginIsBottomLeftAndScaleMultipliesPixels) {
    CairoCanvas canvas({10, 10}, 2);
    EXPECT_EQ(canvas.pixelWidth(), 20);
    canvas.setFillColor(red);
    canvas.fillPath(Path::rectangle({0, 0, 10, 5}));  // the lower half
    const auto bitmap = canvas.makeBitmap();
    EXPECT_EQ(at(bitmap, 3, 19).red, 255);  // bottom row of pixels
    EXPECT_EQ(at(bitmap, 3, 0).alpha, 0);   // top row untouched
}

TEST(CairoCanvas, OversizedCornerRadiusDrawsAStadiumNotGarbage) {
    CairoCanvas canvas({40, 20}, 1);
    canvas.setFillColor(blue);
    canvas.fillPath(Path::roundedRect({0, 0, 40, 20}, 1000, 1000));
    const auto bitmap = canvas.makeBitmap();
    EXPECT_EQ(at(bitmap, 20, 10).blue, 255);
    EXPECT_EQ(at(bitmap, 0, 0).alpha, 0);  // the corner is rounded off
    EXPECT_EQ(at(bitmap, 39, 19).alpha, 0);
}

TEST(CairoCanvas, DegenerateShapesAreSkippedAndLaterDrawingStillWorks) {
    CairoCanvas canvas({10, 10}, 1);
    canvas.setFillColor(red);
    canvas.fillPath(Path::ellipse({2, 2, 0, 5}));
    canvas.fillPath(Path::roundedRect({2, 2, -0.0, 0}, 3, 3));
    canvas.fillPath(Path::ellipse({NAN, 2, 4, 4}));
    canvas.translate(INFINITY, 0);
    canvas.restore();  // unbalanced: ignored
    canvas.fillPath(Path::rectangle({0, 0, 10, 10}));
    EXPECT_EQ(at(canvas.makeBitmap(), 5, 5).red, 255);
}

TEST(CairoCanvas, ClearBlendModePunchesATransparentHole) {
    CairoCanvas canvas({10, 10}, 1);
    canvas.setFillColor(red);
    canvas.fillPath(Path::rectangle({0, 0, 10, 10}));
    canvas.setBlendMode(BlendMode::clear);
    canvas.fillPath(Path::rectangle({0, 0, 5, 10}));
    const auto bitmap = canvas.makeBitmap();
    EXPECT_EQ(at(bitmap, 2, 5).alpha, 0);
    EXPECT_EQ(at(bitmap, 7, 5).alpha, 255);
}

TEST(CairoCanvas, SaveRestoreBringsBackColourAlphaAndBlendMode) {
    CairoCanvas canvas({10, 10}, 1);
    canvas.setFillColor(red);
    canvas.save();
    canvas.setFillColor(blue);
    canvas.setAlpha(0.5);
    canvas.setBlendMode(BlendMode::clear);
    canvas.restore();
    canvas.fillPath(Path::rectangle({0, 0, 10, 10}));
    const auto p = at(canvas.makeBitmap(), 5, 5);
    EXPECT_EQ(p.red, 255);
    EXPECT_EQ(p.alpha, 255);
}

TEST(CairoCanvas, BitmapsAreDrawnUprightAndStretched) {
    // 1 x 2 bitmap: top pixel red, bottom pixel blue.
    const auto source = Bitmap::make(1, 2, {0xffff0000u, 0xff0000ffu});
    CairoCanvas canvas({4, 8}, 1);
    canvas.drawBitmap(source, {0, 0, 4, 8}, Interpolation::none);
    const auto bitmap = canvas.makeBitmap();
    EXPECT_EQ(at(bitmap, 2, 1).red, 255);
    EXPECT_EQ(at(bitmap, 2, 6).blue, 255);
    EXPECT_EQ(at(bitmap, 2, 6).red, 0);
}

TEST(CairoCanvas, TextLandsInsideItsBox) {
    CairoCanvas canvas({100, 40}, 1);
    TextStyle style;
    style.font = Font::boldSystem(14);
    canvas.drawText("Mossbridge", style, {10, 0, 80, 20});  // the lower half
    const auto bitmap = canvas.makeBitmap();
    int inkTop = 0, inkBottom = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 100; ++x)
            if (at(bitmap, x, y).alpha > 0) (y < 20 ? inkTop : inkBottom)++;
    EXPECT_EQ(inkTop, 0);
    EXPECT_GT(inkBottom, 20);
}

TEST(RecordingCanvas, RecordsTranslatedShapesWithTheirState) {
    RecordingCanvas canvas;
    canvas.save();
    canvas.translate(10, 20);
    canvas.setFillColor(red);
    canvas.setAlpha(0.5);
    canvas.setBlendMode(BlendMode::clear);
    canvas.fillPath(Path::ellipse({1, 2, 3, 4}), FillRule::evenOdd);
    canvas.restore();
    canvas.setLineWidth(2);
    canvas.strokePath(Path::line({0, 0}, {1, 1}));
    ASSERT_EQ(canvas.commands().size(), 2u);
    const auto& fill = canvas.commands()[0];
    EXPECT_EQ(fill.path.elements().front().rect, (Rect{11, 22, 3, 4}));
    EXPECT_DOUBLE_EQ(fill.color.alpha, 0.5);
    EXPECT_EQ(fill.blendMode, BlendMode::clear);
    EXPECT_EQ(fill.fillRule, FillRule::evenOdd);
    const auto& stroke = canvas.commands()[1];
    EXPECT_EQ(stroke.blendMode, BlendMode::normal);
    EXPECT_EQ(stroke.path.elements().back().point, (Point{1, 1}));
    EXPECT_DOUBLE_EQ(stroke.lineWidth, 2);
    EXPECT_EQ(canvas.saveDepth(), 0u);
}

}  // namespace
}  // namespace platform
