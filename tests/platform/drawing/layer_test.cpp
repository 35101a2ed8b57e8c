#include "platform/drawing/Layer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "platform/drawing/CairoCanvas.h"
#include "platform/drawing/RecordingCanvas.h"

namespace platform {
namespace {

std::shared_ptr<ShapeLayer> square(const Rect& frame, Color color, double z = 0) {
    auto layer = ShapeLayer::make();
    layer->frame = frame;
    layer->path = Path::rectangle({0, 0, frame.width(), frame.height()});
    layer->fillColor = color;
    layer->zPosition = z;
    return layer;
}

TEST(LayerTree, SublayersMoveBetweenParentsAndDetachOnRemoval) {
    auto a = Layer::make(), b = Layer::make(), child = Layer::make();
    a->addSublayer(child);
    b->addSublayer(child);
    EXPECT_TRUE(a->sublayers().empty());
    ASSERT_EQ(b->sublayers().size(), 1u);
    EXPECT_EQ(child->superlayer(), b.get());
    child->removeFromSuperlayer();
    EXPECT_TRUE(b->sublayers().empty());
    EXPECT_EQ(child->superlayer(), nullptr);
    a->addSublayer(a);  // a layer is never its own sublayer
    EXPECT_TRUE(a->sublayers().empty());
}

TEST(LayerRender, HigherZPositionDrawsLaterWhateverTheInsertionOrder) {
    auto root = Layer::make();
    root->addSublayer(square({0, 0, 4, 4}, {1, 0, 0, 1}, 1));
    root->addSublayer(square({0, 0, 4, 4}, {0, 0, 1, 1}, 0));
    root->addSublayer(square({0, 0, 4, 4}, {0, 1, 0, 1}, 1));
    RecordingCanvas canvas;
    root->renderSublayers(canvas);
    ASSERT_EQ(canvas.commands().size(), 3u);
    EXPECT_EQ(canvas.commands()[0].color, (Color{0, 0, 1, 1}));
    EXPECT_EQ(canvas.commands()[1].color, (Color{1, 0, 0, 1}));
    EXPECT_EQ(canvas.commands()[2].color, (Color{0, 1, 0, 1}));
}

TEST(LayerRender, HiddenAndTransparentLayersDrawNothingAndFramesNest) {
    auto root = Layer::make();
    auto parent = Layer::make();
    parent->frame = {10, 20, 50, 50};
    auto visible = square({1, 2, 3, 3}, {1, 0, 0, 1});
    auto hidden = square({0, 0, 3, 3}, {0, 1, 0, 1});
    hidden->hidden = true;
    auto faded = square({0, 0, 3, 3}, {0, 0, 1, 1});
    faded->opacity = 0;
    root->addSublayer(parent);
    parent->addSublayer(visible);
    parent->addSublayer(hidden);
    parent->addSublayer(faded);
    RecordingCanvas canvas;
    root->renderSublayers(canvas);
    ASSERT_EQ(canvas.commands().size(), 1u);
    EXPECT_EQ(canvas.commands()[0].path.elements()[0].rect, (Rect{11, 22, 3, 3}));
}

TEST(LayerRender, ResizeAspectContentsAreLetterboxedAndCentred) {
    auto layer = Layer::make();
    layer->frame = {0, 0, 40, 20};
    layer->contents = Bitmap::make(2, 2, std::vector<std::uint32_t>(4, 0xffffffffu));
    layer->contentsGravity = ContentsGravity::resizeAspect;
    RecordingCanvas canvas;
    layer->render(canvas);
    ASSERT_EQ(canvas.commands().size(), 1u);
    EXPECT_EQ(canvas.commands()[0].rect, (Rect{10, 0, 20, 20}));

    layer->contentsGravity = ContentsGravity::resize;
    RecordingCanvas stretched;
    layer->render(stretched);
    EXPECT_EQ(stretched.commands()[0].rect, (Rect{0, 0, 40, 20}));
}

TEST(LayerRender, ShapeLayerStrokesOnlyWithAStrokeColour) {
    auto shape = square({0, 0, 4, 4}, {1, 0, 0, 1});
    shape->fillColor.reset();
    RecordingCanvas none;
    shape->render(none);
    EXPECT_TRUE(none.commands().empty());
    shape->strokeColor = Color{1, 1, 1, 0.72};
    shape->lineWidth = 1.5;
    RecordingCanvas stroked;
    shape->render(stroked);
    ASSERT_EQ(stroked.commands().size(), 1u);
    EXPECT_EQ(stroked.commands()[0].kind, CanvasCommand::Kind::stroke);
    EXPECT_DOUBLE_EQ(stroked.commands()[0].lineWidth, 1.5);
}

TEST(LayerRender, TextLayerSetsItsStringInItsBounds) {
    auto text = TextLayer::make();
    text->frame = {5, 5, 30, 12};
    text->string = "99+";
    text->alignment = TextAlignment::center;
    RecordingCanvas canvas;
    text->render(canvas);
    ASSERT_EQ(canvas.commands().size(), 1u);
    EXPECT_EQ(canvas.commands()[0].text, "99+");
    // The line box stands on the lower edge of the bounds, whatever their height.
    EXPECT_EQ(canvas.commands()[0].rect, (Rect{5, 5, 30, measureText("99+", text->font).height}));
    EXPECT_EQ(canvas.commands()[0].textStyle.alignment, TextAlignment::center);
}

TEST(LayerRender, ARasterizedLayerIsOnePictureUntilWhatItDrawsChanges) {
    CairoCanvas::clearPictureCache();
    auto root = Layer::make();
    root->frame = {0, 0, 40, 20};
    auto text = TextLayer::make();
    text->frame = {0, 0, 40, 20};
    text->string = "7";
    root->addSublayer(square({2, 2, 6, 6}, {1, 0, 0, 1}));
    root->addSublayer(text);
    auto render = [&root](bool rasterize) {
        root->shouldRasterize = rasterize;
        CairoCanvas canvas({40, 20}, 2);
        root->render(canvas);
        return canvas.finish();
    };
    auto largestDifference = [](const Bitmap& a, const Bitmap& b) {
        int largest = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                for (int shift : {0, 8, 16, 24})
                    largest = std::max(largest, std::abs(int(a.pixel(x, y) >> shift & 0xff) -
                                                         int(b.pixel(x, y) >> shift & 0xff)));
        return largest;
    };
    const auto direct = render(false);
    const auto first = render(true);
    const auto again = render(true);
    EXPECT_LE(largestDifference(*direct, *first), 2);  // one more rounding
    EXPECT_EQ(largestDifference(*first, *again), 0);
    EXPECT_EQ(CairoCanvas::pictureCacheStats().misses, 1u);
    EXPECT_EQ(CairoCanvas::pictureCacheStats().hits, 1u);

    text->string = "8";  // a sublayer's property is part of the picture's name
    const auto changed = render(true);
    EXPECT_EQ(CairoCanvas::pictureCacheStats().misses, 2u);
    EXPECT_GT(largestDifference(*first, *changed), 100);
    CairoCanvas::clearPictureCache();
}

TEST(LayerRender, HalfOpaqueLayerBlendsWithWhatIsBelow) {
    auto root = Layer::make();
    root->addSublayer(square({0, 0, 4, 4}, {0, 0, 0, 1}));
    auto top = square({0, 0, 4, 4}, {1, 1, 1, 1});
    top->opacity = 0.5;
    root->addSublayer(top);
    CairoCanvas canvas({4, 4}, 1);
    root->renderSublayers(canvas);
    const auto p = pixelComponents(canvas.makeBitmap()->pixel(1, 1));
    EXPECT_NEAR(p.red, 128, 2);
    EXPECT_EQ(p.alpha, 255);
}

}  // namespace
}  // namespace platform
