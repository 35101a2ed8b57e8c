#pragma once
// Which cells of which sprite sheet make up each animation of a pet, at what
// rate, and which state's clip follows when one is not playable. Manifests
// are built in code by the four builders below; nothing here is persisted.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Mossbridge/model/PetAnimationState.h"

namespace Mossbridge {

// One cell of a sheet; row 0 is the top row, column 0 the left column.
struct PetSpriteFrame {
    int row = 0;
    int column = 0;
    bool operator==(const PetSpriteFrame&) const = default;
};

enum class PetAnimationPlayback { loop, once };

struct PetAnimationClip {
    std::optional<std::string> sheetName;  // none: the manifest's sheet
    std::vector<PetSpriteFrame> frames;
    double framesPerSecond = 0;
    PetAnimationPlayback playback = PetAnimationPlayback::loop;
    std::optional<PetAnimationState> fallbackState;
    bool operator==(const PetAnimationClip&) const = default;
};

struct PetSpriteManifest {
    std::string sheetName;
    int columns = 0;
    std::map<std::string, int> sheetColumns;
    std::map<PetAnimationState, PetAnimationClip> clips;
    std::map<std::string, PetAnimationClip> customClips;

    // The state's clip, then its fallbacks in turn (each state once), ending
    // with the idle clip whenever there is one. Empty when neither the state
    // nor idle has a clip.
    std::vector<PetAnimationClip> clipChain(PetAnimationState state) const;

    // The first candidate of fallbackStates(state) whose clip chain holds a
    // clip with at least one frame and every frame inside a sheet of the
    // given size; `idle` when none qualifies.
    PetAnimationState playableState(PetAnimationState state, int rows, int columns) const;

    // Column count of the named sheet (none: the manifest's own sheet).
    int columnsForSheet(const std::optional<std::string>& sheet) const;
};

// One row per state on a sheet of `columns` columns (at least one frame each).
PetSpriteManifest gridSpriteManifest(const std::string& sheetName, int columns);
// Two-row blocks of five cells per state on a 5-column sheet.
PetSpriteManifest blockSpriteManifest(const std::string& sheetName);
// One 5x2 sheet per state, named `baseName` plus a per-state suffix; hover
// plays at `hoverFramesPerSecond`.
PetSpriteManifest perStateSpriteManifest(const std::string& baseName, double hoverFramesPerSecond);
// One row of six cells per state on a 6-column sheet.
PetSpriteManifest rowSpriteManifest(const std::string& sheetName);

}  // namespace Mossbridge
