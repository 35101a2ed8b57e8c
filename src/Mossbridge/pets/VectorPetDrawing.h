#pragma once
// The pets without a sprite manifest, drawn in code: a rounded body in the
// kind's accent colour that bobs with the animation tick, a face (the left
// eye winks on the frontmost application's pet), accents for cat, sprout and
// ghost, then the application badge with its status badge, the application's
// name, the window dots and the resize grip. Each step saves and restores
// the graphics state it changes. The shadow, the application badge, the name
// and the window dots do not move with the body: they are drawn as canvas
// pictures (Canvas::drawPicture), so that a canvas can keep them between
// frames. Body and face move together: they are drawn as a picture that
// moves with the bob and is kept per sub-pixel phase.

#include <string>

#include "Mossbridge/model/AppStatus.h"
#include "Mossbridge/model/PetKind.h"
#include "platform/drawing/Canvas.h"
#include "platform/drawing/Image.h"

namespace Mossbridge {

struct VectorPetAppearance {
    PetKind kind = PetKind::blob;
    std::string appName;
    platform::Rect bounds;
    double animationTick = 0;
    bool isFocused = false;
    bool isHovering = false;
    int windowCount = 0;
    bool displayBadges = true;
    double appIconSizeScale = 1;
    platform::ImageRef appIcon;
    const AppStatus* status = nullptr;  // none: no status badge
};

// The body rectangle R: bobbing by 4 points when focused, 2 when not, on a
// grid of 1/32 point.
platform::Rect vectorBodyRect(const platform::Rect& bounds, double animationTick, bool isFocused);
// The left eye is closed when focused and floor(tick x 3) is a multiple of 20.
bool isVectorPetWinking(double animationTick, bool isFocused);

// The whole pass: the shadow, then the six steps below in order.
void drawVectorPet(platform::Canvas& canvas, const VectorPetAppearance& pet);

// Body and face as a picture moving with the bob; for the ghost, whose hem
// clears what lies behind, the body and the face are two such pictures with
// the hem cut in place between them by a third, drawn in the clear blend
// mode.
void drawVectorBodyAndFace(platform::Canvas& canvas, const platform::Rect& body, const VectorPetAppearance& pet);
void drawVectorBody(platform::Canvas& canvas, const platform::Rect& body, const VectorPetAppearance& pet);
void drawVectorFace(platform::Canvas& canvas, const platform::Rect& body, const VectorPetAppearance& pet);
void drawVectorAppBadge(platform::Canvas& canvas, const VectorPetAppearance& pet);
void drawVectorStatusBadge(platform::Canvas& canvas, const platform::Rect& badge, const VectorPetAppearance& pet);
void drawVectorNameLabel(platform::Canvas& canvas, const VectorPetAppearance& pet);
void drawVectorWindowDots(platform::Canvas& canvas, const VectorPetAppearance& pet);
void drawVectorResizeGrip(platform::Canvas& canvas, const VectorPetAppearance& pet);

}  // namespace Mossbridge
