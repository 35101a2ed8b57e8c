#pragma once
// An immutable picture in pixels: 32-bit premultiplied ARGB words in native
// byte order (the layout Cairo draws into), rows from top to bottom. Shared by
// reference; every operation that would read outside the pixels answers
// nothing instead.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/core/Geometry.h"

namespace platform {

class Bitmap;
using BitmapRef = std::shared_ptr<const Bitmap>;

class Bitmap {
public:
    // `pixels` holds width x height words; a size mismatch, or a negative
    // size, yields a 0 x 0 bitmap.
    Bitmap(int width, int height, std::vector<std::uint32_t> pixels);

    static BitmapRef make(int width, int height, std::vector<std::uint32_t> pixels);
    // Null when the file is missing, not a PNG, or has no pixels.
    static BitmapRef loadPng(const std::filesystem::path& path);

    int width() const { return width_; }
    int height() const { return height_; }
    const std::uint32_t* data() const { return pixels_.data(); }
    // The word at (x, y) from the top-left corner; 0 (transparent) outside.
    std::uint32_t pixel(int x, int y) const;

    // The part of the bitmap inside `rect` (pixels, origin top-left): the
    // rectangle is first made integral, then intersected with the bitmap.
    // Null when nothing of it lies inside, or it is not finite.
    BitmapRef cropped(const Rect& rect) const;

    [[nodiscard]] bool writePng(const std::filesystem::path& path) const;

private:
    // Draws into the pixels of bitmaps it made, only while no one else holds
    // them: a bitmap once seen never changes.
    friend class CairoCanvas;

    int width_ = 0;
    int height_ = 0;
    std::vector<std::uint32_t> pixels_;
};

// The alpha and the un-premultiplied colour channels of one pixel word.
struct PixelComponents {
    std::uint8_t alpha, red, green, blue;
    bool operator==(const PixelComponents&) const = default;
};
PixelComponents pixelComponents(std::uint32_t word);

}  // namespace platform
