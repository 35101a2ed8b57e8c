#pragma once
// An immutable picture in pixels: 32-bit premultiplied ARGB words in native
// byte order (the layout Cairo draws into), rows from top to bottom, `stride`
// words apart. Shared by reference; every operation that would read outside
// the pixels answers nothing instead. A part cut out of a shared bitmap
// (cropped()) shows the same pixels rather than a copy of them, and keeps them
// alive; so does a bitmap loaded from a file, with the decoder's pixels.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/core/Geometry.h"

namespace platform {

class Bitmap;
using BitmapRef = std::shared_ptr<const Bitmap>;

class Bitmap : public std::enable_shared_from_this<Bitmap> {
public:
    // `pixels` holds width x height words; a size mismatch, or a negative
    // size, yields a 0 x 0 bitmap.
    Bitmap(int width, int height, std::vector<std::uint32_t> pixels);

    Bitmap(const Bitmap& other);
    Bitmap& operator=(const Bitmap& other);

    static BitmapRef make(int width, int height, std::vector<std::uint32_t> pixels);
    // Null when the file is missing, not a PNG, or has no pixels.
    static BitmapRef loadPng(const std::filesystem::path& path);

    int width() const { return width_; }
    int height() const { return height_; }
    const std::uint32_t* data() const { return origin_; }
    // Words from the start of one row to the start of the next (at least the
    // width).
    int stride() const { return stride_; }
    // The word at (x, y) from the top-left corner; 0 (transparent) outside.
    std::uint32_t pixel(int x, int y) const;

    // The part of the bitmap inside `rect` (pixels, origin top-left): the
    // rectangle is first made integral, then intersected with the bitmap.
    // Null when nothing of it lies inside, or it is not finite. A copy when
    // this bitmap is not held by a shared pointer.
    BitmapRef cropped(const Rect& rect) const;

    [[nodiscard]] bool writePng(const std::filesystem::path& path) const;

private:
    // Draws into the pixels of bitmaps it made, only while no one else holds
    // them: a bitmap once seen never changes.
    friend class CairoCanvas;

    // Pixels held by `keeper`, from `origin` on.
    Bitmap(std::shared_ptr<const void> keeper, const std::uint32_t* origin, int width, int height, int stride);

    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    std::vector<std::uint32_t> pixels_;  // own pixels; empty when `keeper_` holds them
    std::shared_ptr<const void> keeper_;  // the bitmap a part was cut from, or the decoder's surface
    const std::uint32_t* origin_ = nullptr;
};

// The alpha and the un-premultiplied colour channels of one pixel word.
struct PixelComponents {
    std::uint8_t alpha, red, green, blue;
    bool operator==(const PixelComponents&) const = default;
};
PixelComponents pixelComponents(std::uint32_t word);

}  // namespace platform
