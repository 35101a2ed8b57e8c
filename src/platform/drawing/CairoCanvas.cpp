#include "platform/drawing/CairoCanvas.h"

#include <cairo.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <list>
#include <numbers>
#include <unordered_map>
#include <vector>

#include "platform/drawing/CairoText.h"

namespace platform {

namespace {

int pixelSide(double points, double scale) {
    const double pixels = CairoCanvas::pixelsFor(points, scale);
    if (!(pixels > 0)) return 0;
    return static_cast<int>(std::min(pixels, double(CairoCanvas::largestPixelSide)));
}

bool finite(Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }
bool finite(const Rect& r) { return finite(r.origin) && std::isfinite(r.size.width) && std::isfinite(r.size.height); }
bool hasArea(const Rect& r) { return finite(r) && r.width() > 0 && r.height() > 0; }

void appendEllipticArc(cairo_t* cr, Point centre, double rx, double ry, double from, double to) {
    cairo_save(cr);
    cairo_translate(cr, centre.x, centre.y);
    cairo_scale(cr, rx, ry);
    cairo_arc(cr, 0, 0, 1, from, to);
    cairo_restore(cr);
}

void appendElement(cairo_t* cr, const Path::Element& e) {
    using K = Path::ElementKind;
    constexpr double pi = std::numbers::pi;
    switch (e.kind) {
    case K::moveTo:
        if (finite(e.point)) cairo_move_to(cr, e.point.x, e.point.y);
        break;
    case K::lineTo:
        if (finite(e.point) && cairo_has_current_point(cr)) cairo_line_to(cr, e.point.x, e.point.y);
        break;
    case K::quadCurveTo: {
        if (!finite(e.point) || !finite(e.control) || !cairo_has_current_point(cr)) break;
        double x0, y0;
        cairo_get_current_point(cr, &x0, &y0);
        const Point c = e.control, p = e.point;
        cairo_curve_to(cr, x0 + 2.0 / 3 * (c.x - x0), y0 + 2.0 / 3 * (c.y - y0), p.x + 2.0 / 3 * (c.x - p.x),
                       p.y + 2.0 / 3 * (c.y - p.y), p.x, p.y);
        break;
    }
    case K::closeSubpath: cairo_close_path(cr); break;
    case K::rect:
        if (hasArea(e.rect)) cairo_rectangle(cr, e.rect.minX(), e.rect.minY(), e.rect.width(), e.rect.height());
        break;
    case K::ellipse:
        if (!hasArea(e.rect)) break;
        cairo_new_sub_path(cr);
        appendEllipticArc(cr, {e.rect.midX(), e.rect.midY()}, e.rect.width() / 2, e.rect.height() / 2, 0, 2 * pi);
        cairo_close_path(cr);
        break;
    case K::roundedRect: {
        if (!hasArea(e.rect)) break;
        const Rect& r = e.rect;
        const double rx = e.radiusX, ry = e.radiusY;  // clamped by Path
        if (!(rx > 0) || !(ry > 0)) {
            cairo_rectangle(cr, r.minX(), r.minY(), r.width(), r.height());
            break;
        }
        cairo_new_sub_path(cr);
        appendEllipticArc(cr, {r.minX() + rx, r.minY() + ry}, rx, ry, pi, 1.5 * pi);
        appendEllipticArc(cr, {r.maxX() - rx, r.minY() + ry}, rx, ry, 1.5 * pi, 2 * pi);
        appendEllipticArc(cr, {r.maxX() - rx, r.maxY() - ry}, rx, ry, 0, 0.5 * pi);
        appendEllipticArc(cr, {r.minX() + rx, r.maxY() - ry}, rx, ry, 0.5 * pi, pi);
        cairo_close_path(cr);
        break;
    }
    }
}

cairo_operator_t cairoOperator(BlendMode mode) {
    switch (mode) {
    case BlendMode::clear: return CAIRO_OPERATOR_CLEAR;
    case BlendMode::copy: return CAIRO_OPERATOR_SOURCE;
    case BlendMode::normal: break;
    }
    return CAIRO_OPERATOR_OVER;
}

cairo_filter_t cairoFilter(Interpolation interpolation) {
    switch (interpolation) {
    case Interpolation::none: return CAIRO_FILTER_NEAREST;
    case Interpolation::high: return CAIRO_FILTER_BEST;
    case Interpolation::linear: break;
    }
    return CAIRO_FILTER_BILINEAR;
}

struct State {
    Color fill{0, 0, 0, 1};
    Color stroke{0, 0, 0, 1};
    double alpha = 1;
};

// A picture as drawn through one device transform. The transform is part of
// the key, so an image is only reused where it lands on the same pixels with
// the same sub-pixel phase, and anti-aliasing comes out as drawn.
struct PlacedPictureKey {
    PictureKey picture;
    std::array<double, 6> matrix{};
    Rect extent;
    bool operator==(const PlacedPictureKey&) const = default;
};

struct PlacedPictureKeyHash {
    std::size_t operator()(const PlacedPictureKey& key) const {
        std::size_t h = std::hash<std::string>{}(key.picture.description);
        auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2); };
        for (const auto& object : key.picture.objects) mix(std::hash<const void*>{}(object.get()));
        for (double v : key.matrix) mix(std::hash<double>{}(v));
        mix(std::hash<double>{}(key.extent.minX()));
        mix(std::hash<double>{}(key.extent.minY()));
        return h;
    }
};

struct PlacedPicture {
    BitmapRef pixels;
    int x = 0;  // device position of the image's top-left pixel (for a picture kept
    int y = 0;  // by its phase, from the transform's whole-pixel offset)
};

// Only the part of a picture that is not fully transparent is kept and
// painted: painting transparent pixels with the normal blend mode leaves
// what lies beneath exactly as it was, so the outcome is the same, and less
// is kept and composited (a badge or a name fills a fraction of its band).
// A picture that is transparent throughout is kept as drawn.
PlacedPicture trimmed(BitmapRef drawn, int x, int y) {
    const Bitmap& all = *drawn;
    int top = 0, bottom = all.height(), left = all.width(), right = 0;
    const auto rowIsClear = [&all](int row) {
        const std::uint32_t* words = all.data() + static_cast<std::size_t>(row) * all.stride();
        return std::all_of(words, words + all.width(), [](std::uint32_t word) { return word == 0; });
    };
    while (top < bottom && rowIsClear(top)) ++top;
    while (bottom > top && rowIsClear(bottom - 1)) --bottom;
    if (top == bottom) return {std::move(drawn), x, y};
    for (int row = top; row < bottom; ++row) {
        const std::uint32_t* words = all.data() + static_cast<std::size_t>(row) * all.stride();
        int first = 0;
        while (first < left && words[first] == 0) ++first;
        left = first;
        int last = all.width();
        while (last > right && words[last - 1] == 0) --last;
        right = last;
    }
    if (left == 0 && top == 0 && right == all.width() && bottom == all.height()) return {std::move(drawn), x, y};
    const int width = right - left, height = bottom - top;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    for (int row = 0; row < height; ++row) {
        const std::uint32_t* words = all.data() + static_cast<std::size_t>(top + row) * all.stride() + left;
        std::copy(words, words + width, pixels.begin() + static_cast<std::ptrdiff_t>(row) * width);
    }
    return {Bitmap::make(width, height, std::move(pixels)), x + left, y + top};
}

// Least recently drawn pictures are dropped once the images exceed the
// budget: a few hundred pets' badges and labels fit.
class PictureCache {
public:
    static constexpr std::size_t budgetBytes = 32u << 20;

    const PlacedPicture* find(const PlacedPictureKey& key) {
        const auto it = index_.find(key);
        if (it == index_.end()) {
            ++stats_.misses;
            return nullptr;
        }
        ++stats_.hits;
        order_.splice(order_.begin(), order_, it->second);
        return &it->second->second;
    }

    // The stored picture; null when it alone exceeds the budget.
    const PlacedPicture* insert(PlacedPictureKey key, PlacedPicture picture) {
        const std::size_t size = sizeOf(picture);
        if (size > budgetBytes) return nullptr;
        if (const auto it = index_.find(key); it != index_.end()) remove(it->second);
        while (!order_.empty() && stats_.bytes + size > budgetBytes) remove(std::prev(order_.end()));
        order_.emplace_front(key, std::move(picture));
        index_.emplace(std::move(key), order_.begin());
        stats_.bytes += size;
        stats_.entries = order_.size();
        return &order_.front().second;
    }

    void clear() {
        index_.clear();
        order_.clear();
        stats_ = {};
    }

    const CairoCanvas::PictureCacheStats& stats() const { return stats_; }

private:
    using Entry = std::pair<PlacedPictureKey, PlacedPicture>;

    static std::size_t sizeOf(const PlacedPicture& picture) {
        return std::size_t(picture.pixels->width()) * std::size_t(picture.pixels->height()) * 4;
    }
    void remove(std::list<Entry>::iterator entry) {
        stats_.bytes -= sizeOf(entry->second);
        index_.erase(entry->first);
        order_.erase(entry);
        stats_.entries = order_.size();
    }

    std::list<Entry> order_;  // most recently drawn first
    std::unordered_map<PlacedPictureKey, std::list<Entry>::iterator, PlacedPictureKeyHash> index_;
    CairoCanvas::PictureCacheStats stats_;
};

PictureCache& pictureCache() {
    thread_local PictureCache cache;
    return cache;
}

}  // namespace

struct CairoCanvas::Impl {
    std::shared_ptr<Bitmap> store;  // the surface's pixels; handed out by share()
    int width = 0;
    int height = 0;
    double scale = 1;
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
    std::vector<State> states{State{}};
    // share() handed out the pixels: the next use starts a new picture.
    bool newPicturePending = false;

    void open(int w, int h, double s) {
        width = w;
        height = h;
        scale = s;
        store = std::make_shared<Bitmap>(w, h, std::vector<std::uint32_t>(static_cast<std::size_t>(w) * h, 0));
        surface = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(writablePixels(*store)),
                                                      CAIRO_FORMAT_ARGB32, w, h, w * 4);
        startContext();
    }
    void startContext() {
        cr = cairo_create(surface);
        // Unflip: one point is `scale` pixels and y grows upwards.
        cairo_translate(cr, 0, height);
        cairo_scale(cr, scale, -scale);
        states.assign(1, State{});
    }
    void close() {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    // A new transparent picture: on the same pixels and surface when nobody
    // holds the picture handed out any more, else on new ones.
    void startNewPicture() {
        newPicturePending = false;
        if (store.use_count() > 1) {
            close();
            open(width, height, scale);
            return;
        }
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        std::fill_n(writablePixels(*store), static_cast<std::size_t>(width) * height, 0u);
        cairo_surface_mark_dirty(surface);
        startContext();
    }

    State& state() { return states.back(); }

    void setSource(const Color& color) {
        cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha * state().alpha);
    }

    void appendPath(const Path& path) {
        cairo_new_path(cr);
        for (const auto& element : path.elements()) appendElement(cr, element);
    }
};

CairoCanvas::CairoCanvas(Size size, double scale) : impl_(std::make_unique<Impl>()) {
    if (!(scale > 0) || !std::isfinite(scale)) scale = 1;
    impl_->open(pixelSide(size.width, scale), pixelSide(size.height, scale), scale);
}

CairoCanvas::~CairoCanvas() { impl_->close(); }

std::uint32_t* CairoCanvas::writablePixels(Bitmap& bitmap) { return bitmap.pixels_.data(); }

CairoCanvas::Impl& CairoCanvas::impl() const {
    if (impl_->newPicturePending) impl_->startNewPicture();
    return *impl_;
}

BitmapRef CairoCanvas::makeBitmap() const {
    Impl& d = impl();
    cairo_surface_flush(d.surface);
    const std::uint32_t* pixels = d.store->data();
    return Bitmap::make(d.width, d.height,
                        std::vector<std::uint32_t>(pixels, pixels + static_cast<std::size_t>(d.width) * d.height));
}

BitmapRef CairoCanvas::finish() {
    Impl& d = impl();
    cairo_surface_flush(d.surface);
    d.close();
    BitmapRef bitmap = std::move(d.store);
    d.open(0, 0, 1);
    return bitmap;
}

BitmapRef CairoCanvas::share() {
    Impl& d = impl();
    cairo_surface_flush(d.surface);
    d.newPicturePending = true;
    return d.store;
}

int CairoCanvas::pixelWidth() const { return impl().width; }
int CairoCanvas::pixelHeight() const { return impl().height; }

void CairoCanvas::save() {
    cairo_save(impl().cr);
    impl().states.push_back(impl().state());
}

void CairoCanvas::restore() {
    if (impl().states.size() < 2) return;  // unbalanced restore: ignored, as Cairo would be put in an error state
    cairo_restore(impl().cr);
    impl().states.pop_back();
}

void CairoCanvas::setFillColor(const Color& color) { impl().state().fill = color; }
void CairoCanvas::setStrokeColor(const Color& color) { impl().state().stroke = color; }
void CairoCanvas::setLineWidth(double width) {
    if (std::isfinite(width) && width >= 0) cairo_set_line_width(impl().cr, width);
}
void CairoCanvas::setBlendMode(BlendMode mode) { cairo_set_operator(impl().cr, cairoOperator(mode)); }
void CairoCanvas::setAlpha(double alpha) {
    if (std::isfinite(alpha)) impl().state().alpha = std::clamp(alpha, 0.0, 1.0);
}
void CairoCanvas::translate(double dx, double dy) {
    if (std::isfinite(dx) && std::isfinite(dy)) cairo_translate(impl().cr, dx, dy);
}
void CairoCanvas::clipToRect(const Rect& rect) {
    if (!finite(rect)) return;
    cairo_new_path(impl().cr);
    cairo_rectangle(impl().cr, rect.minX(), rect.minY(), rect.width(), rect.height());
    cairo_clip(impl().cr);
}

void CairoCanvas::fillPath(const Path& path, FillRule rule) {
    impl().appendPath(path);
    cairo_set_fill_rule(impl().cr, rule == FillRule::evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    impl().setSource(impl().state().fill);
    cairo_fill(impl().cr);
}

void CairoCanvas::strokePath(const Path& path) {
    impl().appendPath(path);
    impl().setSource(impl().state().stroke);
    cairo_stroke(impl().cr);
}

void CairoCanvas::drawBitmap(const BitmapRef& bitmap, const Rect& destination, Interpolation interpolation) {
    if (!bitmap || bitmap->width() == 0 || bitmap->height() == 0 || !hasArea(destination)) return;
    cairo_t* cr = impl().cr;
    cairo_surface_t* source = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(bitmap->data())), CAIRO_FORMAT_ARGB32,
        bitmap->width(), bitmap->height(), bitmap->stride() * 4);
    cairo_save(cr);
    // Bitmap rows run top to bottom: map its top-left corner to the
    // destination's top-left corner.
    cairo_translate(cr, destination.minX(), destination.maxY());
    cairo_scale(cr, destination.width() / bitmap->width(), -destination.height() / bitmap->height());
    cairo_set_source_surface(cr, source, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), cairoFilter(interpolation));
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_new_path(cr);
    cairo_rectangle(cr, 0, 0, bitmap->width(), bitmap->height());
    cairo_clip(cr);
    cairo_paint_with_alpha(cr, impl().state().alpha);
    cairo_restore(cr);
    cairo_surface_destroy(source);
}

void CairoCanvas::drawText(std::string_view text, const TextStyle& style, const Rect& box) {
    if (!finite(box)) return;
    TextStyle faded = style;
    faded.foreground.alpha *= impl().state().alpha;
    if (faded.strokeColor) faded.strokeColor->alpha *= impl().state().alpha;
    cairo_save(impl().cr);
    cairo_translate(impl().cr, box.minX(), box.maxY());
    cairo_scale(impl().cr, 1, -1);
    showText(impl().cr, text, faded, {0, 0, box.width(), box.height()});
    cairo_restore(impl().cr);
}

}  // namespace platform

namespace platform {

void CairoCanvas::drawPicture(const PictureKey& key, const Rect& extent, const std::function<void(Canvas&)>& draw) {
    cairo_t* cr = impl().cr;
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    // An image can stand in for the drawing only where it is painted pixel
    // for pixel and composited as each shape would have been: an upright
    // transform, the normal or the clear blend mode and no extra
    // transparency. Clearing with a shape keeps (1 - coverage) of what lies
    // beneath, and so does erasing with the image of opaque shapes, whose
    // alpha is their coverage (overlaps included: both multiply).
    const cairo_operator_t mode = cairo_get_operator(cr);
    const bool paintable = hasArea(extent) && m.xy == 0 && m.yx == 0 && std::isfinite(m.xx) &&
                           std::isfinite(m.yy) && std::isfinite(m.x0) && std::isfinite(m.y0) &&
                           (mode == CAIRO_OPERATOR_OVER || mode == CAIRO_OPERATOR_CLEAR) &&
                           impl().state().alpha == 1 && impl().width > 0 && impl().height > 0;
    if (!paintable) {
        draw(*this);
        return;
    }
    const double xa = m.xx * extent.minX() + m.x0, xb = m.xx * extent.maxX() + m.x0;
    const double ya = m.yy * extent.minY() + m.y0, yb = m.yy * extent.maxY() + m.y0;
    const double left = std::floor(std::min(xa, xb)), top = std::floor(std::min(ya, yb));
    const double width = std::ceil(std::max(xa, xb) - left), height = std::ceil(std::max(ya, yb) - top);
    if (!(width >= 1 && height >= 1 && width <= largestPixelSide && height <= largestPixelSide) ||
        std::abs(left) > 4.0 * largestPixelSide || std::abs(top) > 4.0 * largestPixelSide) {
        draw(*this);
        return;
    }

    // A picture that may move by whole pixels is kept by its sub-pixel phase
    // alone, its place counted from the transform's whole-pixel offset.
    const double shiftX = key.wholePixelShifts ? std::floor(m.x0) : 0;
    const double shiftY = key.wholePixelShifts ? std::floor(m.y0) : 0;
    PictureCache& cache = pictureCache();
    PlacedPictureKey placed{key, {m.xx, m.yx, m.xy, m.yy, m.x0 - shiftX, m.y0 - shiftY}, extent};
    const PlacedPicture* picture = cache.find(placed);
    if (!picture) {
        // The same transform shifted by whole pixels, so the picture has the
        // sub-pixel phase it will have where it is painted.
        CairoCanvas offscreen({width, height}, 1);
        cairo_matrix_t shifted = m;
        shifted.x0 -= left;
        shifted.y0 -= top;
        cairo_set_matrix(offscreen.impl_->cr, &shifted);
        offscreen.clipToRect(extent);
        draw(offscreen);
        PlacedPicture made =
            trimmed(offscreen.finish(), static_cast<int>(left - shiftX), static_cast<int>(top - shiftY));
        picture = cache.insert(std::move(placed), std::move(made));
        if (!picture) {  // larger than the whole budget: drawn directly every time
            draw(*this);
            return;
        }
    }

    const Bitmap& pixels = *picture->pixels;
    cairo_surface_t* source = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(pixels.data())), CAIRO_FORMAT_ARGB32,
        pixels.width(), pixels.height(), pixels.stride() * 4);
    const double x = picture->x + shiftX, y = picture->y + shiftY;
    cairo_save(cr);
    cairo_identity_matrix(cr);
    if (mode == CAIRO_OPERATOR_CLEAR) cairo_set_operator(cr, CAIRO_OPERATOR_DEST_OUT);
    cairo_set_source_surface(cr, source, x, y);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_new_path(cr);
    cairo_rectangle(cr, x, y, pixels.width(), pixels.height());
    cairo_fill(cr);
    cairo_restore(cr);
    cairo_surface_destroy(source);
}

CairoCanvas::PictureCacheStats CairoCanvas::pictureCacheStats() { return pictureCache().stats(); }

void CairoCanvas::clearPictureCache() { pictureCache().clear(); }

}  // namespace platform
