#pragma once
// A 2-D drawing destination in points, unflipped (origin bottom-left, y
// growing upwards), with a stack of graphics states. CairoCanvas draws into
// a bitmap; RecordingCanvas keeps a list of what was drawn, for tests.

#include <string_view>

#include "platform/Bitmap.h"
#include "platform/Color.h"
#include "platform/Geometry.h"
#include "platform/Path.h"
#include "platform/TextLayout.h"

namespace platform {

// `clear` erases what lies under the shape (it becomes transparent).
enum class BlendMode { normal, clear, copy };
enum class FillRule { nonZero, evenOdd };
enum class Interpolation { none, linear, high };

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
};

}  // namespace platform
