#pragma once
// The pet kinds. A kind's raw value is also the name the user sees and the
// persisted text. Each kind has an accent colour; the kinds drawn from sprite
// sheets also have a sprite manifest, the others are drawn as vector shapes.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Mossbridge/model/PetSpriteManifest.h"
#include "platform/drawing/Color.h"

namespace Mossbridge {

enum class PetKind {
    robotV1, checklistV1, coffeeV1, calendarV1, alarmV1, speakerV1, headphoneV1, starV1, crystalV1, tunebugV1,
    jellyblobV1, hoodedCodeTestV1, roboCatTestV1, birdClothesTestV1, puppyTestV1, dinoHeadphonesTestV1,
    hipsterFoxTestV1, potentialPet3, potentialPet4, potentialPet5, potentialPet6, potentialPet7, potentialPet8,
    potentialPet9, potentialPet10, foxcat, bytebot, quillkin, pixelmoth, pinglet, tunebug, coincap, lumibook,
    sproutlet, questling, gearbean, cat, sprout, blob, ghost,
};

// The kinds offered to the user (the picker, automatic attaching): exactly
// the nineteen that have a sprite manifest, in declaration order. This is not
// the whole enumeration; see everyPetKind().
std::span<const PetKind> allPetKinds();
// All forty kinds, in declaration order.
std::span<const PetKind> everyPetKind();

std::string_view rawValue(PetKind kind);
// Exact, case-sensitive match of one of the forty raw values.
[[nodiscard]] std::optional<PetKind> petKindFromRawValue(std::string_view raw);

platform::Color accentColor(PetKind kind);
// A freshly built manifest, or none for kinds drawn as vector shapes.
std::optional<PetSpriteManifest> spriteManifest(PetKind kind);
// The sheets the clips of every manifest play from, each name once, sorted:
// the bundle's "<name>.png" images that sprite pets need.
std::vector<std::string> spriteSheetNames();

}  // namespace Mossbridge
