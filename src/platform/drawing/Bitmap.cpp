#include "platform/drawing/Bitmap.h"

#include <cairo.h>

#include <cmath>
#include <cstring>

namespace platform {

Bitmap::Bitmap(int width, int height, std::vector<std::uint32_t> pixels) {
    if (width < 0 || height < 0 || pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        return;
    width_ = width;
    height_ = height;
    stride_ = width;
    pixels_ = std::move(pixels);
    origin_ = pixels_.data();
}

Bitmap::Bitmap(std::shared_ptr<const void> keeper, const std::uint32_t* origin, int width, int height, int stride)
    : width_(width), height_(height), stride_(stride), keeper_(std::move(keeper)), origin_(origin) {}

Bitmap::Bitmap(const Bitmap& other)
    : std::enable_shared_from_this<Bitmap>(other),
      width_(other.width_),
      height_(other.height_),
      stride_(other.stride_),
      pixels_(other.pixels_),
      keeper_(other.keeper_),
      origin_(keeper_ ? other.origin_ : pixels_.data()) {}

Bitmap& Bitmap::operator=(const Bitmap& other) {
    if (this == &other) return *this;
    width_ = other.width_;
    height_ = other.height_;
    stride_ = other.stride_;
    pixels_ = other.pixels_;
    keeper_ = other.keeper_;
    origin_ = keeper_ ? other.origin_ : pixels_.data();
    return *this;
}

BitmapRef Bitmap::make(int width, int height, std::vector<std::uint32_t> pixels) {
    return std::make_shared<const Bitmap>(width, height, std::move(pixels));
}

BitmapRef Bitmap::loadPng(const std::filesystem::path& path) {
    cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
    const bool loaded = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    const int width = loaded ? cairo_image_surface_get_width(surface) : 0;
    const int height = loaded ? cairo_image_surface_get_height(surface) : 0;
    if (width <= 0 || height <= 0) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    cairo_surface_flush(surface);
    if (cairo_image_surface_get_format(surface) == CAIRO_FORMAT_ARGB32) {
        // Already the layout of a bitmap: keep the decoder's pixels.
        const auto* origin = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(surface));
        const int stride = cairo_image_surface_get_stride(surface) / 4;
        std::shared_ptr<const void> keeper(surface, [](const void* kept) {
            cairo_surface_destroy(static_cast<cairo_surface_t*>(const_cast<void*>(kept)));
        });
        return BitmapRef(new Bitmap(std::move(keeper), origin, width, height, stride));
    }
    // PNGs may load as RGB24 or A8: drawn into a fresh ARGB32 surface.
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height, 0);
    cairo_surface_t* target = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels.data()),
                                                                  CAIRO_FORMAT_ARGB32, width, height, width * 4);
    cairo_t* cr = cairo_create(target);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(target);
    cairo_surface_destroy(target);
    cairo_surface_destroy(surface);
    return make(width, height, std::move(pixels));
}

std::uint32_t Bitmap::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    return origin_[static_cast<std::size_t>(y) * stride_ + x];
}

BitmapRef Bitmap::cropped(const Rect& rect) const {
    if (!std::isfinite(rect.origin.x) || !std::isfinite(rect.origin.y) || !std::isfinite(rect.size.width) ||
        !std::isfinite(rect.size.height))
        return nullptr;
    const double left = std::max(std::floor(rect.minX()), 0.0);
    const double top = std::max(std::floor(rect.minY()), 0.0);
    const double right = std::min(std::ceil(rect.maxX()), static_cast<double>(width_));
    const double bottom = std::min(std::ceil(rect.maxY()), static_cast<double>(height_));
    if (right <= left || bottom <= top) return nullptr;
    const int x0 = static_cast<int>(left), y0 = static_cast<int>(top);
    const int w = static_cast<int>(right) - x0, h = static_cast<int>(bottom) - y0;
    const std::uint32_t* origin = origin_ + static_cast<std::size_t>(y0) * stride_ + x0;
    // Bitmaps never change, so the part can show the pixels it was cut from.
    if (auto shared = weak_from_this().lock()) {
        std::shared_ptr<const void> keeper = keeper_ ? keeper_ : std::move(shared);
        return BitmapRef(new Bitmap(std::move(keeper), origin, w, h, stride_));
    }
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(w) * h);
    for (int row = 0; row < h; ++row)
        std::memcpy(&pixels[static_cast<std::size_t>(row) * w], origin + static_cast<std::size_t>(row) * stride_,
                    static_cast<std::size_t>(w) * sizeof(std::uint32_t));
    return make(w, h, std::move(pixels));
}

bool Bitmap::writePng(const std::filesystem::path& path) const {
    if (width_ == 0 || height_ == 0) return false;
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(origin_)), CAIRO_FORMAT_ARGB32, width_, height_,
        stride_ * 4);
    const bool written = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return written;
}

PixelComponents pixelComponents(std::uint32_t word) {
    const std::uint8_t alpha = word >> 24;
    auto channel = [alpha](std::uint32_t premultiplied) -> std::uint8_t {
        if (alpha == 0) return 0;
        return static_cast<std::uint8_t>(std::min<std::uint32_t>(255, (premultiplied * 255 + alpha / 2) / alpha));
    };
    return {alpha, channel((word >> 16) & 0xff), channel((word >> 8) & 0xff), channel(word & 0xff)};
}

}  // namespace platform
