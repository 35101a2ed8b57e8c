#pragma once
// A Canvas that draws with Cairo into a new, transparent bitmap of `size`
// points at `scale` pixels per point. Shapes with no area, and non-finite
// coordinates, are skipped rather than handed to Cairo.

#include <memory>

#include "platform/Canvas.h"

namespace platform {

class CairoCanvas final : public Canvas {
public:
    CairoCanvas(Size size, double scale);
    ~CairoCanvas() override;
    CairoCanvas(const CairoCanvas&) = delete;
    CairoCanvas& operator=(const CairoCanvas&) = delete;

    // A copy of the pixels drawn so far.
    BitmapRef makeBitmap() const;
    // The pixels drawn, without a copy; the canvas is empty (0 x 0) after.
    BitmapRef finish();
    int pixelWidth() const;
    int pixelHeight() const;

    void save() override;
    void restore() override;
    void setFillColor(const Color& color) override;
    void setStrokeColor(const Color& color) override;
    void setLineWidth(double width) override;
    void setBlendMode(BlendMode mode) override;
    void setAlpha(double alpha) override;
    void translate(double dx, double dy) override;
    void clipToRect(const Rect& rect) override;
    void fillPath(const Path& path, FillRule rule = FillRule::nonZero) override;
    void strokePath(const Path& path) override;
    void drawBitmap(const BitmapRef& bitmap, const Rect& destination,
                    Interpolation interpolation = Interpolation::linear) override;
    void drawText(std::string_view text, const TextStyle& style, const Rect& box) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
