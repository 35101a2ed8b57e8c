#pragma once
// A Canvas that draws with Cairo into a new, transparent bitmap of `size`
// points at `scale` pixels per point. Shapes with no area, and non-finite
// coordinates, are skipped rather than handed to Cairo.
//
// Pictures (Canvas::drawPicture) are kept per thread as images, by key and
// device transform, within a fixed memory budget (least recently drawn go
// first), and painted pixel for pixel when drawn again; an image keeps only
// the part of the picture that is not fully transparent.

#include <cmath>
#include <memory>

#include "platform/drawing/Canvas.h"

namespace platform {

class CairoCanvas final : public Canvas {
public:
    // No side of a canvas is larger, in pixels: a canvas asked for more is
    // cut to this and loses the rest of its drawing, so whatever must be
    // pictured whole is bounded by it first.
    static constexpr int largestPixelSide = 16384;
    // The pixels a side of `points` takes at `scale` (uncut).
    static double pixelsFor(double points, double scale) { return std::ceil(points * scale); }

    CairoCanvas(Size size, double scale);
    ~CairoCanvas() override;
    CairoCanvas(const CairoCanvas&) = delete;
    CairoCanvas& operator=(const CairoCanvas&) = delete;

    // A copy of the pixels drawn so far.
    BitmapRef makeBitmap() const;
    // The pixels drawn, without a copy; the canvas is empty (0 x 0) after.
    BitmapRef finish();
    // The pixels drawn, without a copy; the canvas then starts a new,
    // transparent picture of the same size in its initial state. It draws it
    // into the same pixels and Cairo surface when the bitmap answered here is
    // no longer held by then, so a canvas redrawn again and again allocates
    // nothing.
    BitmapRef share();
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
    void drawPicture(const PictureKey& key, const Rect& extent, const std::function<void(Canvas&)>& draw) override;

    // The calling thread's picture images: counters since the last clear.
    struct PictureCacheStats {
        std::size_t hits = 0;
        std::size_t misses = 0;
        std::size_t entries = 0;
        std::size_t bytes = 0;
    };
    static PictureCacheStats pictureCacheStats();
    static void clearPictureCache();

private:
    struct Impl;
    // The state, after starting the new picture share() left pending.
    Impl& impl() const;
    static std::uint32_t* writablePixels(Bitmap& bitmap);
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
