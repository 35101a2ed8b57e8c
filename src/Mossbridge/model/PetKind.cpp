#include "Mossbridge/model/PetKind.h"

#include <array>
#include <set>
#include <string>
#include <vector>

namespace Mossbridge {

namespace {

enum class Builder { none, grid, block, perState, row };

struct Recipe {
    Builder builder = Builder::none;
    std::string_view sheet;  // sheet name, or base name for per-state sheets
    double parameter = 0;    // grid: column count; per-state: hover frames per second
};

struct CatalogueEntry {
    PetKind kind;
    std::string_view rawValue;
    platform::Color accent;
    Recipe recipe;
};

constexpr platform::Color rgb(double r, double g, double b) { return {r, g, b, 1.0}; }
constexpr Recipe grid(std::string_view sheet, int columns) { return {Builder::grid, sheet, double(columns)}; }
constexpr Recipe block(std::string_view sheet) { return {Builder::block, sheet, 0}; }
constexpr Recipe perState(std::string_view base, double hoverFps) { return {Builder::perState, base, hoverFps}; }
constexpr Recipe row(std::string_view sheet) { return {Builder::row, sheet, 0}; }
constexpr Recipe vectorDrawn{};
constexpr platform::Color potentialPetBlue = rgb(0.52, 0.58, 0.86);

using K = PetKind;
constexpr CatalogueEntry catalogue[] = {
    {K::robotV1, "Robot V1", rgb(0.55, 0.92, 0.96), grid("robot-v1-spritesheet", 10)},
    {K::checklistV1, "Checklist V1", rgb(0.88, 0.93, 1.0), vectorDrawn},
    {K::coffeeV1, "Coffee V1", rgb(0.86, 0.62, 0.34), vectorDrawn},
    {K::calendarV1, "Calendar V1", rgb(0.94, 0.39, 0.36), block("calendar-v1-spritesheet")},
    {K::alarmV1, "Alarm V1", rgb(0.25, 0.54, 0.95), block("alarm-v1-spritesheet")},
    {K::speakerV1, "Speaker V1", rgb(0.05, 0.13, 0.14), block("speaker-v1-spritesheet")},
    {K::headphoneV1, "Headphone V1", rgb(0.57, 0.92, 0.75), block("headphone-v1-spritesheet")},
    {K::starV1, "Star V1", rgb(1.0, 0.78, 0.16), vectorDrawn},
    {K::crystalV1, "Crystal V1", rgb(0.15, 0.62, 0.96), block("crystal-v1-spritesheet")},
    {K::tunebugV1, "Tunebug V1", rgb(0.18, 0.09, 0.33), vectorDrawn},
    {K::jellyblobV1, "Jellyblob V1", rgb(0.2, 0.86, 0.78), block("jellyblob-v1-spritesheet")},
    {K::hoodedCodeTestV1, "Hooded Code Test", rgb(0.05, 0.72, 0.67), perState("hooded-code-test", 8)},
    {K::roboCatTestV1, "Robo-cat Test", rgb(0.54, 0.88, 0.88), perState("robo-cat-test", 8)},
    {K::birdClothesTestV1, "Bird Clothes Test", rgb(0.36, 0.58, 0.82), perState("bird-clothes-test", 8)},
    {K::puppyTestV1, "Puppy Test", rgb(0.95, 0.68, 0.36), perState("puppy-test", 8)},
    {K::dinoHeadphonesTestV1, "Dino Headphones Test", rgb(0.16, 0.78, 0.61), perState("dino-headphones-test", 8)},
    {K::hipsterFoxTestV1, "Hipster Fox Test", rgb(0.94, 0.45, 0.12), perState("hipster-fox-test", 3)},
    {K::potentialPet3, "Potential Pet 3", potentialPetBlue, block("repaired-spritesheet-3")},
    {K::potentialPet4, "Potential Pet 4", potentialPetBlue, block("repaired-spritesheet-4")},
    {K::potentialPet5, "Potential Pet 5", potentialPetBlue, block("repaired-spritesheet-5")},
    {K::potentialPet6, "Potential Pet 6", potentialPetBlue, vectorDrawn},
    {K::potentialPet7, "Potential Pet 7", potentialPetBlue, block("repaired-spritesheet-7")},
    {K::potentialPet8, "Potential Pet 8", potentialPetBlue, vectorDrawn},
    {K::potentialPet9, "Potential Pet 9", potentialPetBlue, block("repaired-spritesheet-9")},
    {K::potentialPet10, "Potential Pet 10", potentialPetBlue, vectorDrawn},
    {K::foxcat, "Foxcat", rgb(1.0, 0.69, 0.33), vectorDrawn},
    {K::bytebot, "Bytebot", rgb(0.38, 0.82, 0.88), vectorDrawn},
    {K::quillkin, "Quillkin", rgb(0.92, 0.78, 0.54), vectorDrawn},
    {K::pixelmoth, "Pixelmoth", rgb(0.72, 0.56, 0.92), vectorDrawn},
    {K::pinglet, "Pinglet", rgb(0.45, 0.78, 0.97), vectorDrawn},
    {K::tunebug, "Tunebug", rgb(0.35, 0.18, 0.39), row("tunebug-spritesheet")},
    {K::coincap, "Coincap", rgb(0.95, 0.68, 0.12), vectorDrawn},
    {K::lumibook, "Lumibook", rgb(0.16, 0.22, 0.55), vectorDrawn},
    {K::sproutlet, "Sproutlet", rgb(0.58, 0.86, 0.62), vectorDrawn},
    {K::questling, "Questling", rgb(0.12, 0.36, 0.84), vectorDrawn},
    {K::gearbean, "Gearbean", rgb(0.65, 0.68, 0.68), vectorDrawn},
    {K::cat, "Cat", rgb(0.96, 0.64, 0.28), vectorDrawn},
    {K::sprout, "Sprout", rgb(0.31, 0.72, 0.45), vectorDrawn},
    {K::blob, "Blob", rgb(0.44, 0.59, 0.94), vectorDrawn},
    {K::ghost, "Ghost", rgb(0.83, 0.8, 0.92), vectorDrawn},
};

constexpr bool catalogueFollowsDeclarationOrder() {
    for (std::size_t i = 0; i < std::size(catalogue); ++i) {
        if (static_cast<std::size_t>(catalogue[i].kind) != i) return false;
    }
    return std::size(catalogue) == static_cast<std::size_t>(K::ghost) + 1;
}
static_assert(catalogueFollowsDeclarationOrder(), "one catalogue entry per kind, in declaration order");

const CatalogueEntry& entry(PetKind kind) { return catalogue[static_cast<std::size_t>(kind)]; }

template <typename Keep>
std::vector<PetKind> kindsWhere(Keep keep) {
    std::vector<PetKind> kinds;
    for (const auto& e : catalogue) {
        if (keep(e)) kinds.push_back(e.kind);
    }
    return kinds;
}

}  // namespace

std::span<const PetKind> allPetKinds() {
    static const auto offered = kindsWhere([](const CatalogueEntry& e) { return e.recipe.builder != Builder::none; });
    return offered;
}

std::span<const PetKind> everyPetKind() {
    static const auto every = kindsWhere([](const CatalogueEntry&) { return true; });
    return every;
}

std::string_view rawValue(PetKind kind) { return entry(kind).rawValue; }

std::optional<PetKind> petKindFromRawValue(std::string_view raw) {
    for (const auto& e : catalogue) {
        if (e.rawValue == raw) return e.kind;
    }
    return std::nullopt;
}

platform::Color accentColor(PetKind kind) { return entry(kind).accent; }

std::optional<PetSpriteManifest> spriteManifest(PetKind kind) {
    const Recipe& recipe = entry(kind).recipe;
    const std::string sheet(recipe.sheet);
    switch (recipe.builder) {
        case Builder::none: return std::nullopt;
        case Builder::grid: return gridSpriteManifest(sheet, static_cast<int>(recipe.parameter));
        case Builder::block: return blockSpriteManifest(sheet);
        case Builder::perState: return perStateSpriteManifest(sheet, recipe.parameter);
        case Builder::row: return rowSpriteManifest(sheet);
    }
    return std::nullopt;
}

std::vector<std::string> spriteSheetNames() {
    std::set<std::string> names;
    for (PetKind kind : everyPetKind()) {
        const auto manifest = spriteManifest(kind);
        if (!manifest) continue;
        for (const auto& [state, clip] : manifest->clips) names.insert(clip.sheetName.value_or(manifest->sheetName));
    }
    return {names.begin(), names.end()};
}

}  // namespace Mossbridge
