#pragma once
// A 2-D drawing destination in points, unflipped (origin bottom-left, y
// growing upwards), with a stack of graphics states. CairoCanvas draws into
// a bitmap; RecordingCanvas keeps a list of what was drawn, for tests.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/drawing/Bitmap.h"
#include "platform/drawing/Color.h"
#include "platform/core/Geometry.h"
#include "platform/drawing/Path.h"
#include "platform/drawing/TextLayout.h"

namespace platform {

// `clear` erases what lies under the shape (it becomes transparent).
enum class BlendMode { normal, clear, copy };
enum class FillRule { nonZero, evenOdd };
enum class Interpolation { none, linear, high };

// Names what a picture looks like: two pictures drawn with equal keys, at
// the same place, are the same pixels. `description` carries the values the
// drawing depends on; `objects` are inputs compared by identity (an icon's
// bitmap), kept alive as long as the key is.
struct PictureKey {
    std::string description;
    std::vector<std::shared_ptr<const void>> objects;
    // The drawing moves with the transform and looks the same wherever it is
    // put, up to a shift by whole device pixels: one image serves every
    // place with the same sub-pixel phase.
    bool wholePixelShifts = false;
    bool operator==(const PictureKey&) const = default;
};

// Append `value` to a key's description exactly (no rounding) and so that a
// sequence of values reads back unambiguously.
void appendToKey(std::string& description, double value);
void appendToKey(std::string& description, std::string_view value);

class Canvas {
public:
    virtual ~Canvas() = default;

    // Saved state: colours, line width, blend mode, transform, clip, alpha.
    virtual void save() = 0;
    virtual void restore() = 0;

    virtual void setFillColor(const Color& color) = 0;
    virtual void setStrokeColor(const Color& color) = 0;
    virtual void setLineWidth(double width) = 0;
    virtual void setBlendMode(BlendMode mode) = 0;
    // Multiplies the alpha of everything drawn until the state is restored.
    virtual void setAlpha(double alpha) = 0;
    virtual void translate(double dx, double dy) = 0;
    virtual void clipToRect(const Rect& rect) = 0;

    virtual void fillPath(const Path& path, FillRule rule = FillRule::nonZero) = 0;
    virtual void strokePath(const Path& path) = 0;
    // Stretches the whole bitmap over `destination`, upright.
    virtual void drawBitmap(const BitmapRef& bitmap, const Rect& destination,
                            Interpolation interpolation = Interpolation::linear) = 0;
    // One line of text set from the top of `box` (wider text is cut at the
    // box's width only when the style truncates).
    virtual void drawText(std::string_view text, const TextStyle& style, const Rect& box) = 0;

    // Runs `draw`, which must draw the picture named by `key`, only inside
    // `extent`, without changing the blend mode, setting every colour and
    // line width it uses and leaving saves balanced. A canvas may instead
    // keep the result as an image and paint that again whenever the same key
    // is drawn with the same transform: the pixels are those `draw` would
    // have made. Under the clear blend mode the picture erases what lies
    // beneath its shapes, which must then be opaque (the image's alpha is
    // what it erases). This canvas draws directly.
    virtual void drawPicture(const PictureKey& key, const Rect& extent, const std::function<void(Canvas&)>& draw) {
        (void)key;
        (void)extent;
        draw(*this);
    }
};

}  // namespace platform
