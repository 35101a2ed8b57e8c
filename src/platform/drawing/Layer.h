#pragma once
// A retained tree of layers that makes up what a view shows. A layer has a
// frame in its superlayer's coordinates (unflipped), may be hidden or
// translucent, may show a bitmap as its contents, and draws its sublayers
// above itself in order of zPosition (then of insertion). Layers never
// animate: a property set is shown as it is at the next render. `actions`
// only records which keys are meant to have no implicit action.
//
// Plain properties are public fields; the tree is kept through methods.

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/drawing/Bitmap.h"
#include "platform/drawing/Canvas.h"
#include "platform/drawing/Color.h"
#include "platform/drawing/Path.h"
#include "platform/drawing/TextLayout.h"

namespace platform {

// Keys ("contents", "bounds", ...) whose implicit action is the null action.
using LayerActions = std::set<std::string>;

enum class ContentsGravity { resize, resizeAspect };
enum class LayerFilter { nearest, linear };

class Layer : public std::enable_shared_from_this<Layer> {
public:
    virtual ~Layer();

    static std::shared_ptr<Layer> make() { return std::shared_ptr<Layer>(new Layer()); }

    Rect frame;
    bool hidden = false;
    double opacity = 1;
    double zPosition = 0;
    BitmapRef contents;
    ContentsGravity contentsGravity = ContentsGravity::resize;
    LayerFilter magnificationFilter = LayerFilter::linear;
    LayerFilter minificationFilter = LayerFilter::linear;
    double contentsScale = 1;
    LayerActions actions;
    // Draw this layer and its sublayers, clipped to its bounds, as one canvas
    // picture (Canvas::drawPicture) named by every property they draw with:
    // while none of them changes, a canvas that keeps pictures paints the
    // kept image instead of drawing shapes and text again.
    bool shouldRasterize = false;

    Rect bounds() const { return {0, 0, frame.width(), frame.height()}; }

    // Adding a layer that has a superlayer moves it.
    void addSublayer(const std::shared_ptr<Layer>& layer);
    void removeFromSuperlayer();
    const std::vector<std::shared_ptr<Layer>>& sublayers() const { return sublayers_; }
    Layer* superlayer() const { return superlayer_; }

    // Draws the layer and its sublayers into `canvas`, whose coordinates are
    // the superlayer's.
    void render(Canvas& canvas) const;
    // Draws only the sublayers, in this layer's own coordinates.
    void renderSublayers(Canvas& canvas) const;

protected:
    Layer() = default;
    // Draws this layer's own content in its bounds (after `contents`).
    virtual void drawContent(Canvas& canvas) const;
    // Appends to `key` every property drawContent() reads.
    virtual void describeContent(PictureKey& key) const;

private:
    void drawSelfAndSublayers(Canvas& canvas) const;
    // This layer's and its sublayers' drawing, for a picture key.
    void describe(PictureKey& key) const;

    std::vector<std::shared_ptr<Layer>> sublayers_;
    Layer* superlayer_ = nullptr;
    mutable PictureKey rasterKey_;  // rebuilt on every render, its storage kept
};

// Fills and then strokes `path`, given in the layer's own coordinates; the
// path is not clipped to the bounds.
class ShapeLayer final : public Layer {
public:
    static std::shared_ptr<ShapeLayer> make() { return std::shared_ptr<ShapeLayer>(new ShapeLayer()); }

    Path path;
    std::optional<Color> fillColor = Color{0, 0, 0, 1};
    std::optional<Color> strokeColor;
    double lineWidth = 1;

private:
    ShapeLayer() = default;
    void drawContent(Canvas& canvas) const override;
    void describeContent(PictureKey& key) const override;
};

// One line of text whose line box stands on the lower edge of the bounds, the
// edge its frame is placed by: a frame raised by half of what a line leaves
// free in a box centres the line in that box. Text beyond the line box's
// height above it is simply unused space.
class TextLayer final : public Layer {
public:
    static std::shared_ptr<TextLayer> make() { return std::shared_ptr<TextLayer>(new TextLayer()); }

    std::string string;
    Font font = Font::system(36);
    Color foregroundColor{1, 1, 1, 1};
    TextAlignment alignment = TextAlignment::left;
    bool truncateTail = false;

private:
    TextLayer() = default;
    void drawContent(Canvas& canvas) const override;
    void describeContent(PictureKey& key) const override;
};

}  // namespace platform
