#pragma once
// A still picture of one pet kind for the settings window: the first frame
// of its idle animation stretched into the picture (inset by 2 points),
// or, for kinds without a usable sheet, a small vector drawing in the
// kind's accent colour. Pictures are cached per kind and rounded size for
// the life of the process. Main thread only.

#include <string>

#include "Mossbridge/model/PetKind.h"
#include "platform/drawing/Canvas.h"
#include "platform/drawing/Image.h"

namespace Mossbridge {

// Never null; a picture made by the call has exactly the requested size.
platform::ImageRef petPreviewImage(PetKind kind, platform::Size size);

// "<kind>-<width>-<height>", sizes rounded half away from zero.
std::string petPreviewImageKey(PetKind kind, platform::Size size);

// The fallback drawing: shadow, body and eyes in a picture of `size`.
void drawPetPreviewFallback(platform::Canvas& canvas, PetKind kind, platform::Size size);

// Test hook: empties the picture cache.
void resetPetPreviewImageCacheForTesting();

}  // namespace Mossbridge
