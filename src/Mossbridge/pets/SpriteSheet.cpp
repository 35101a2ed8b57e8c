#include "Mossbridge/pets/SpriteSheet.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <unordered_map>

#include "VadovaUtilities/VULMainBundle.h"

namespace Mossbridge {

namespace {

struct SpriteSheetCaches {
    std::unordered_map<std::string, platform::ImageRef> sheetImages;
    std::unordered_map<std::string, SpriteSheetMetadata> grids;
    std::unordered_map<std::string, SpriteFrameData> frames;
    std::set<std::string, std::less<>> preparedKinds;
    std::size_t cuts = 0;
    // The bundle's images by path, while someone holds them.
    std::unordered_map<std::string, std::weak_ptr<const platform::Image>> bundleImagesInUse;
};

SpriteSheetCaches& caches() {
    static SpriteSheetCaches shared;
    return shared;
}

std::string sheetNameOf(const PetAnimationClip& clip, const PetSpriteManifest& manifest) {
    return clip.sheetName.value_or(manifest.sheetName);
}

SpriteFrameData cut(const platform::Bitmap& image, const platform::Rect& rect) {
    ++caches().cuts;
    SpriteFrameData data;
    data.croppedFrame = image.cropped(rect);
    if (data.croppedFrame)
        data.image = std::make_shared<const platform::Image>(data.croppedFrame, platform::Size{rect.width(), rect.height()});
    return data;
}

}  // namespace

platform::ImageRef bundleImageNamed(const std::string& name) {
    const auto path = VULMainBundle::pathForResource(name, "png");
    if (!path) return nullptr;
    // As the platform's named-image lookup does, an image still in use is
    // handed out again rather than decoded a second time (a sheet is 2 MiB).
    auto& inUse = caches().bundleImagesInUse;
    if (auto image = inUse[path->string()].lock()) return image;
    auto bitmap = platform::Bitmap::loadPng(*path);
    if (!bitmap) return nullptr;
    auto image = std::make_shared<const platform::Image>(std::move(bitmap));
    std::erase_if(inUse, [](const auto& entry) { return entry.second.expired(); });
    inUse[path->string()] = image;
    return image;
}

platform::ImageRef loadSpriteSheetImage(const std::string& name) {
    auto& images = caches().sheetImages;
    if (const auto it = images.find(name); it != images.end()) return it->second;
    auto image = bundleImageNamed(name);
    if (image) images.emplace(name, image);
    return image;
}

std::optional<SpriteSheetMetadata> spriteSheetGrid(int pixelWidth, int pixelHeight, int columns) {
    const double cellWidth = double(pixelWidth) / double(columns);
    if (!(cellWidth > 0) || !std::isfinite(cellWidth)) return std::nullopt;  // also 0/0 and x/0
    const double rounded = std::round(double(pixelHeight) / cellWidth);  // halves away from zero
    const int rows = rounded < 2 ? 1 : static_cast<int>(std::min(rounded, double(std::numeric_limits<int>::max())));
    return SpriteSheetMetadata{columns, rows, cellWidth, double(pixelHeight) / rows};
}

std::optional<SpriteSheetMetadata> spriteSheetMetadata(const std::string& sheetName, const platform::Bitmap& image,
                                                       int columns) {
    const std::string key = sheetName + "-columns" + std::to_string(columns);
    auto& grids = caches().grids;
    if (const auto it = grids.find(key); it != grids.end()) return it->second;
    auto grid = spriteSheetGrid(image.width(), image.height(), columns);
    if (grid) grids.emplace(key, *grid);  // a sheet without a grid is not cached
    return grid;
}

std::string spriteFrameKey(const std::string& sheetName, const PetSpriteFrame& frame) {
    return sheetName + "-" + std::to_string(frame.row) + "-" + std::to_string(frame.column);
}

platform::Rect spriteCellRect(const SpriteSheetMetadata& grid, const PetSpriteFrame& frame) {
    return {frame.column * grid.cellWidth, frame.row * grid.cellHeight, grid.cellWidth, grid.cellHeight};
}

bool clipFitsGrid(const PetAnimationClip& clip, const SpriteSheetMetadata& grid) {
    if (clip.frames.empty()) return false;
    for (const auto& f : clip.frames)
        if (f.row < 0 || f.row >= grid.rows || f.column < 0 || f.column >= grid.columns) return false;
    return true;
}

std::size_t spriteFrameIndex(double spriteFrameTick, std::size_t frameCount) {
    if (frameCount == 0 || !std::isfinite(spriteFrameTick) || spriteFrameTick < 0) return 0;
    return static_cast<std::size_t>(std::fmod(std::trunc(spriteFrameTick), double(frameCount)));
}

SpriteFrameData croppedSpriteFrame(const platform::Bitmap& image, const std::string& key, const platform::Rect& rect) {
    auto& frames = caches().frames;
    if (const auto it = frames.find(key); it != frames.end()) return it->second;
    SpriteFrameData data = cut(image, rect);
    frames.emplace(key, data);
    return data;
}

void prepareSpriteFrames(PetKind kind) {
    const auto manifest = spriteManifest(kind);
    if (!manifest) return;
    if (!caches().preparedKinds.insert(std::string(rawValue(kind))).second) return;
    for (const auto& [state, clip] : manifest->clips) {
        const std::string sheet = sheetNameOf(clip, *manifest);
        const auto image = loadSpriteSheetImage(sheet);
        if (!image || !image->bitmap()) continue;
        const auto grid = spriteSheetMetadata(sheet, *image->bitmap(), manifest->columnsForSheet(sheet));
        if (!grid || !clipFitsGrid(clip, *grid)) continue;
        for (const auto& frame : clip.frames)
            croppedSpriteFrame(*image->bitmap(), spriteFrameKey(sheet, frame), spriteCellRect(*grid, frame));
    }
}

std::optional<SpriteFrameData> spriteFrame(const PetAnimationClip& clip, const PetSpriteManifest& manifest,
                                           double spriteFrameTick) {
    const std::string sheet = sheetNameOf(clip, manifest);
    const auto image = loadSpriteSheetImage(sheet);
    if (!image || !image->bitmap()) return std::nullopt;
    const auto grid = spriteSheetMetadata(sheet, *image->bitmap(), manifest.columnsForSheet(sheet));
    if (!grid || !clipFitsGrid(clip, *grid)) return std::nullopt;
    const auto& frame = clip.frames[spriteFrameIndex(spriteFrameTick, clip.frames.size())];
    return croppedSpriteFrame(*image->bitmap(), spriteFrameKey(sheet, frame), spriteCellRect(*grid, frame));
}

platform::LayerActions disabledLayerActions() {
    return {"contents", "bounds", "position", "frame", "path", "hidden", "sublayers"};
}

SpriteSheetCacheCounts spriteSheetCacheCounts() {
    const auto& c = caches();
    return {c.sheetImages.size(), c.grids.size(), c.frames.size(), c.cuts};
}

namespace {
std::uint64_t cacheGeneration = 0;
}  // namespace

void resetSpriteSheetCachesForTesting() {
    caches() = SpriteSheetCaches{};
    ++cacheGeneration;
}

std::uint64_t spriteSheetCacheGeneration() { return cacheGeneration; }

}  // namespace Mossbridge
