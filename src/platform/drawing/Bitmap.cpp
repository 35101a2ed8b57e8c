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
    pixels_ = std::move(pixels);
}

BitmapRef Bitmap::make(int width, int height, std::vector<std::uint32_t> pixels) {
    return std::make_shared<const Bitmap>(width, height, std::move(pixels));
}

BitmapRef Bitmap::loadPng(const std::filesystem::path& path) {
    cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
    BitmapRef result;
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
        // Draw into a fresh ARGB32 surface: PNGs may load as RGB24 or A8.
        const int width = cairo_image_surface_get_width(surface);
        const int height = cairo_image_surface_get_height(surface);
        if (width > 0 && height > 0) {
            std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height, 0);
            cairo_surface_t* target = cairo_image_surface_create_for_data(
                reinterpret_cast<unsigned char*>(pixels.data()), CAIRO_FORMAT_ARGB32, width, height, width * 4);
            cairo_t* cr = cairo_create(target);
            cairo_set_source_surface(cr, surface, 0, 0);
            cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
            cairo_paint(cr);
            cairo_destroy(cr);
            cairo_surface_flush(target);
            cairo_surface_destroy(target);
            result = make(width, height, std::move(pixels));
        }
    }
    cairo_surface_destroy(surface);
    return result;
}

std::uint32_t Bitmap::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    return pixels_[static_cast<std::size_t>(y) * width_ + x];
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
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(w) * h);
    for (int row = 0; row < h; ++row)
        std::memcpy(&pixels[static_cast<std::size_t>(row) * w], &pixels_[static_cast<std::size_t>(y0 + row) * width_ + x0],
                    static_cast<std::size_t>(w) * sizeof(std::uint32_t));
    return make(w, h, std::move(pixels));
}

bool Bitmap::writePng(const std::filesystem::path& path) const {
    if (width_ == 0 || height_ == 0) return false;
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(pixels_.data())), CAIRO_FORMAT_ARGB32, width_,
        height_, width_ * 4);
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
