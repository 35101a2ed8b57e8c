#pragma once
// Everything between a sprite-sheet name and a frame image ready to show:
// loading the sheet from the application bundle ("<name>.png"), working out
// its grid, cutting cells, and the process-wide caches that keep each
// result for the life of the process (never evicted; a failed cut is kept
// too and not retried). Main thread only.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "Mossbridge/model/PetKind.h"
#include "Mossbridge/model/PetSpriteManifest.h"
#include "platform/drawing/Image.h"
#include "platform/drawing/Layer.h"

namespace Mossbridge {

// Widths and heights in the pixels of the sheet's bitmap.
struct SpriteSheetMetadata {
    int columns = 0;
    int rows = 0;
    double cellWidth = 0;
    double cellHeight = 0;
    bool operator==(const SpriteSheetMetadata&) const = default;
};

// Both absent when the cut failed.
struct SpriteFrameData {
    platform::BitmapRef croppedFrame;
    platform::ImageRef image;  // the cut shown at the cell's size
};

// The application bundle's image "<name>.png", or none: read afresh unless
// an image read earlier for that file is still held somewhere.
platform::ImageRef bundleImageNamed(const std::string& name);
// The cached sheet, else the bundle's image of that name (cached when
// found; a missing one is looked up again next time).
platform::ImageRef loadSpriteSheetImage(const std::string& name);

// The grid of a sheet with `columns` columns: cells as wide as the width
// allows, rows counted as if cells were square (at least 1). None when the
// cell width is not positive. Uncached.
[[nodiscard]] std::optional<SpriteSheetMetadata> spriteSheetGrid(int pixelWidth, int pixelHeight, int columns);
// spriteSheetGrid cached under "<sheet>-columns<N>": once cached, the image
// is not looked at again for that name and column count.
[[nodiscard]]
std::optional<SpriteSheetMetadata> spriteSheetMetadata(const std::string& sheetName, const platform::Bitmap& image,
                                                       int columns);

// "<sheet>-<row>-<column>".
std::string spriteFrameKey(const std::string& sheetName, const PetSpriteFrame& frame);
// The cell's rectangle in the sheet's pixels, origin top-left.
platform::Rect spriteCellRect(const SpriteSheetMetadata& grid, const PetSpriteFrame& frame);
// The clip has frames and every one lies inside the grid.
bool clipFitsGrid(const PetAnimationClip& clip, const SpriteSheetMetadata& grid);
// The frame shown at `spriteFrameTick`: its whole part modulo `frameCount`
// (0 for a tick that is negative or not finite, or no frames).
std::size_t spriteFrameIndex(double spriteFrameTick, std::size_t frameCount);

// The cached cut under `key`, else cuts `rect` (made integral) out of the
// sheet and caches the result, failed or not.
SpriteFrameData croppedSpriteFrame(const platform::Bitmap& image, const std::string& key, const platform::Rect& rect);

// Cuts every frame of every state clip of the kind's manifest into the
// frame cache; only the first call for a kind does any work. Clips whose
// sheet is missing or whose frames do not all fit the grid are skipped.
void prepareSpriteFrames(PetKind kind);

// The frame of `clip` to show at `spriteFrameTick`, or none when the sheet
// is missing, has no grid, or the clip does not fit it.
[[nodiscard]]
std::optional<SpriteFrameData> spriteFrame(const PetAnimationClip& clip, const PetSpriteManifest& manifest,
                                           double spriteFrameTick);

// Calls `visit` with each clip of manifest.clipChain(state), in that order,
// without copying them, until `visit` answers true; answers whether it did.
template <typename Visit>
bool forEachClipInChain(const PetSpriteManifest& manifest, PetAnimationState state, Visit&& visit) {
    const auto bit = [](PetAnimationState s) { return 1u << static_cast<unsigned>(s); };
    unsigned visited = 0;
    std::optional<PetAnimationState> next = state;
    while (next && !(visited & bit(*next))) {
        visited |= bit(*next);
        const auto found = manifest.clips.find(*next);
        if (found == manifest.clips.end()) break;
        if (visit(found->second)) return true;
        next = found->second.fallbackState;
    }
    if (!(visited & bit(PetAnimationState::idle))) {
        const auto idle = manifest.clips.find(PetAnimationState::idle);
        if (idle != manifest.clips.end()) return visit(idle->second);
    }
    return false;
}

// The seven keys whose implicit layer action is disabled.
platform::LayerActions disabledLayerActions();

struct SpriteSheetCacheCounts {
    std::size_t sheetImages = 0;
    std::size_t grids = 0;
    std::size_t frames = 0;
    std::size_t cuts = 0;  // cuts attempted since the last reset
};
SpriteSheetCacheCounts spriteSheetCacheCounts();
// Test hook: empties every cache and the set of prepared kinds.
void resetSpriteSheetCachesForTesting();
// Changes with every reset above: whoever keeps frames taken from the caches
// drops them when it changes.
std::uint64_t spriteSheetCacheGeneration();

}  // namespace Mossbridge
