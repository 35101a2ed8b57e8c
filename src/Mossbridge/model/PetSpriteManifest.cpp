#include "Mossbridge/model/PetSpriteManifest.h"

#include <algorithm>
#include <set>

namespace Mossbridge {

namespace {

using S = PetAnimationState;

// Cells (row, 0) .. (row, count - 1) for each of `rowCount` rows from `firstRow`.
std::vector<PetSpriteFrame> cells(int firstRow, int rowCount, int count) {
    std::vector<PetSpriteFrame> frames;
    for (int row = firstRow; row < firstRow + rowCount; ++row) {
        for (int column = 0; column < count; ++column) frames.push_back({row, column});
    }
    return frames;
}

// Every built clip loops and falls back to idle, except idle itself.
PetAnimationClip builtClip(S state, std::vector<PetSpriteFrame> frames, double fps,
                           std::optional<std::string> sheet = std::nullopt) {
    PetAnimationClip clip;
    clip.sheetName = std::move(sheet);
    clip.frames = std::move(frames);
    clip.framesPerSecond = fps;
    clip.playback = PetAnimationPlayback::loop;
    if (state != S::idle) clip.fallbackState = S::idle;
    return clip;
}

struct RowLayout {
    S state;
    int row;
    double fps;
};

PetSpriteManifest manifestOf(std::string sheetName, int columns) {
    PetSpriteManifest manifest;
    manifest.sheetName = std::move(sheetName);
    manifest.columns = columns;
    return manifest;
}

bool fits(const PetAnimationClip& clip, int rows, int columns) {
    return !clip.frames.empty() && std::all_of(clip.frames.begin(), clip.frames.end(), [&](const PetSpriteFrame& f) {
        return f.row >= 0 && f.row < rows && f.column >= 0 && f.column < columns;
    });
}

}  // namespace

std::vector<PetAnimationClip> PetSpriteManifest::clipChain(PetAnimationState state) const {
    std::vector<PetAnimationClip> chain;
    std::set<S> visited;
    std::optional<S> next = state;
    while (next && visited.insert(*next).second) {
        const auto found = clips.find(*next);
        if (found == clips.end()) break;
        chain.push_back(found->second);
        next = found->second.fallbackState;
    }
    if (!visited.contains(S::idle)) {
        if (const auto idle = clips.find(S::idle); idle != clips.end()) chain.push_back(idle->second);
    }
    return chain;
}

PetAnimationState PetSpriteManifest::playableState(PetAnimationState state, int rows, int sheetColumnCount) const {
    for (S candidate : fallbackStates(state)) {
        const auto chain = clipChain(candidate);
        if (std::any_of(chain.begin(), chain.end(),
                        [&](const PetAnimationClip& clip) { return fits(clip, rows, sheetColumnCount); })) {
            return candidate;
        }
    }
    return S::idle;
}

int PetSpriteManifest::columnsForSheet(const std::optional<std::string>& sheet) const {
    const auto found = sheetColumns.find(sheet.value_or(sheetName));
    return found != sheetColumns.end() ? found->second : columns;
}

PetSpriteManifest gridSpriteManifest(const std::string& sheetName, int columns) {
    static const RowLayout layout[] = {
        {S::idle, 0, 7},     {S::sleep, 1, 5}, {S::hover, 2, 8},   {S::speaking, 3, 9},
        {S::work, 4, 7},     {S::music, 5, 10}, {S::waiting, 3, 7}, {S::error, 3, 7},
    };
    auto manifest = manifestOf(sheetName, columns);
    for (const auto& [state, row, fps] : layout) {
        manifest.clips[state] = builtClip(state, cells(row, 1, std::max(columns, 1)), fps);
    }
    return manifest;
}

PetSpriteManifest blockSpriteManifest(const std::string& sheetName) {
    static const RowLayout layout[] = {
        {S::idle, 0, 7}, {S::sleep, 2, 2},  {S::hover, 4, 8},   {S::speaking, 6, 2},
        {S::work, 8, 7}, {S::music, 10, 10}, {S::waiting, 6, 2}, {S::error, 6, 2},
    };
    auto manifest = manifestOf(sheetName, 5);
    for (const auto& [state, firstRow, fps] : layout) {
        manifest.clips[state] = builtClip(state, cells(firstRow, 2, 5), fps);
    }
    return manifest;
}

PetSpriteManifest perStateSpriteManifest(const std::string& baseName, double hoverFramesPerSecond) {
    struct SheetLayout {
        S state;
        const char* suffix;
        double fps;
    };
    const SheetLayout layout[] = {
        {S::idle, "-idle-5x2", 7},         {S::sleep, "-sleep-5x2", 2},    {S::hover, "-hover-5x2", hoverFramesPerSecond},
        {S::speaking, "-speaking-5x2", 2}, {S::work, "-work-5x2", 7},      {S::music, "-dance-5x2", 10},
        {S::waiting, "-speaking-5x2", 2},  {S::error, "-speaking-5x2", 2},
    };
    auto manifest = manifestOf(baseName + "-idle-5x2", 5);
    for (const auto& [state, suffix, fps] : layout) {
        manifest.clips[state] = builtClip(state, cells(0, 2, 5), fps, baseName + suffix);
    }
    return manifest;
}

PetSpriteManifest rowSpriteManifest(const std::string& sheetName) {
    static const RowLayout layout[] = {
        {S::idle, 0, 6},  {S::hover, 1, 6}, {S::speaking, 2, 8}, {S::sleep, 3, 4},
        {S::music, 4, 10}, {S::work, 5, 6}, {S::waiting, 6, 5},  {S::error, 7, 5},
    };
    auto manifest = manifestOf(sheetName, 6);
    for (const auto& [state, row, fps] : layout) {
        manifest.clips[state] = builtClip(state, cells(row, 1, 6), fps);
    }
    return manifest;
}

}  // namespace Mossbridge
