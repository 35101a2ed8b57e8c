#pragma once
// The system symbol images the interface names ("pawprint.fill",
// "xmark.circle.fill", "play.fill", "pause.fill", "backward.fill",
// "forward.fill"), drawn as black template shapes in a square of
// `pointSize` points at 2 pixels per point.

#include <string_view>

#include "platform/drawing/Image.h"

namespace platform {

// Null for a name that is not one of the symbols above, or a size that is
// not positive.
ImageRef symbolImage(std::string_view name, double pointSize = 16);

}  // namespace platform
