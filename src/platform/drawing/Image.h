#pragma once
// A picture with a size in points (an application icon, a sprite frame, a
// rendered preview): a bitmap meant to be shown at `size`, whatever its
// pixel count.

#include <memory>

#include "platform/drawing/Bitmap.h"
#include "platform/core/Geometry.h"

namespace platform {

class Image {
public:
    Image(BitmapRef bitmap, Size size) : bitmap_(std::move(bitmap)), size_(size) {}
    // A bitmap shown at one point per pixel.
    explicit Image(BitmapRef bitmap)
        : bitmap_(std::move(bitmap)),
          size_{bitmap_ ? double(bitmap_->width()) : 0.0, bitmap_ ? double(bitmap_->height()) : 0.0} {}

    // The pixels, or null for an image without any.
    const BitmapRef& bitmap() const { return bitmap_; }
    Size size() const { return size_; }

private:
    BitmapRef bitmap_;
    Size size_;
};

using ImageRef = std::shared_ptr<const Image>;

}  // namespace platform
