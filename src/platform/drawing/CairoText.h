#pragma once
// Internal to the platform's drawing: sets text with Pango into a Cairo
// context. Only .cpp files include this header.

#include <string_view>

#include "platform/drawing/TextLayout.h"

struct _cairo;

namespace platform {

// Draws one line of `text` at the top of `box`, which is given in the
// context's current user space with y growing downwards.
void showText(_cairo* cr, std::string_view text, const TextStyle& style, const Rect& box);

}  // namespace platform
