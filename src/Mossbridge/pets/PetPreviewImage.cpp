#include "Mossbridge/pets/PetPreviewImage.h"

#include <cmath>
#include <limits>
#include <unordered_map>

#include "Mossbridge/pets/SpriteSheet.h"
#include "platform/drawing/CairoCanvas.h"

namespace Mossbridge {

namespace {

constexpr double pixelsPerPoint = 2;
constexpr double frameInset = 2;

std::unordered_map<std::string, platform::ImageRef>& previewCache() {
    static std::unordered_map<std::string, platform::ImageRef> cache;
    return cache;
}

std::string roundedDecimal(double value) {
    const double rounded = std::round(value);  // halves away from zero
    if (!std::isfinite(rounded)) return "0";
    const double limit = double(std::numeric_limits<long long>::max());
    return std::to_string(static_cast<long long>(std::clamp(rounded, -limit, limit)));
}

enum class SpriteOutcome { drawn, transparent, noSprite };

// Draws the first idle frame, or says why it could not.
SpriteOutcome drawFirstIdleFrame(platform::Canvas& canvas, PetKind kind, platform::Size size) {
    const auto manifest = spriteManifest(kind);
    if (!manifest) return SpriteOutcome::noSprite;
    const auto chain = manifest->clipChain(PetAnimationState::idle);
    if (chain.empty()) return SpriteOutcome::noSprite;
    const PetAnimationClip& clip = chain.front();
    const std::string sheet = clip.sheetName.value_or(manifest->sheetName);
    const auto image = bundleImageNamed(sheet);
    if (!image || !image->bitmap()) return SpriteOutcome::noSprite;
    const platform::Bitmap& bitmap = *image->bitmap();

    const auto grid = spriteSheetGrid(bitmap.width(), bitmap.height(), manifest->columnsForSheet(sheet));
    if (!grid || !clipFitsGrid(clip, *grid)) return SpriteOutcome::transparent;
    const auto cut = bitmap.cropped(spriteCellRect(*grid, clip.frames.front()));
    if (!cut) return SpriteOutcome::transparent;
    // Stretched to the inset rectangle, not kept at its aspect ratio.
    canvas.drawBitmap(cut, {frameInset, frameInset, size.width - 2 * frameInset, size.height - 2 * frameInset},
                      platform::Interpolation::high);
    return SpriteOutcome::drawn;
}

}  // namespace

std::string petPreviewImageKey(PetKind kind, platform::Size size) {
    return std::string(rawValue(kind)) + "-" + roundedDecimal(size.width) + "-" + roundedDecimal(size.height);
}

void drawPetPreviewFallback(platform::Canvas& canvas, PetKind kind, platform::Size size) {
    const double w = size.width, h = size.height;
    canvas.save();
    canvas.setFillColor({0, 0, 0, 0.12});
    canvas.fillPath(platform::Path::ellipse({11, 7, w - 22, 7}));
    const platform::Rect body{11, 13, w - 22, h - 24};
    canvas.setFillColor(accentColor(kind));
    canvas.fillPath(platform::Path::roundedRect(body, 14, 14), platform::FillRule::nonZero);
    canvas.setFillColor({0, 0, 0, 0.7});
    platform::Path eyes = platform::Path::ellipse({body.midX() - 11, body.midY() + 4, 5, 6});
    eyes.addEllipse({body.midX() + 6, body.midY() + 4, 5, 6});
    canvas.fillPath(eyes);
    canvas.restore();
}

platform::ImageRef petPreviewImage(PetKind kind, platform::Size size) {
    const std::string key = petPreviewImageKey(kind, size);
    auto& cache = previewCache();
    if (const auto it = cache.find(key); it != cache.end()) return it->second;

    platform::CairoCanvas canvas(size, pixelsPerPoint);
    if (drawFirstIdleFrame(canvas, kind, size) == SpriteOutcome::noSprite) drawPetPreviewFallback(canvas, kind, size);
    auto picture = std::make_shared<const platform::Image>(canvas.finish(), size);
    cache.emplace(key, picture);
    return picture;
}

void resetPetPreviewImageCacheForTesting() { previewCache().clear(); }

}  // namespace Mossbridge
