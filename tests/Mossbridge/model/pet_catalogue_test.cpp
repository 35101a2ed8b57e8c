#include "Mossbridge/model/PetKind.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace Mossbridge {
namespace {

using S = PetAnimationState;

TEST(PetKindRawValue, FortyDistinctCaseSensitiveNames) {
    std::set<std::string_view> names;
    for (auto kind : everyPetKind()) {
        names.insert(rawValue(kind));
        EXPECT_EQ(petKindFromRawValue(rawValue(kind)), kind);
    }
    EXPECT_EQ(names.size(), 40u);
    EXPECT_EQ(petKindFromRawValue("robot v1"), std::nullopt);
    EXPECT_EQ(petKindFromRawValue("Tunebug V1"), PetKind::tunebugV1);
    EXPECT_EQ(petKindFromRawValue("Tunebug"), PetKind::tunebug);
    EXPECT_EQ(rawValue(PetKind::roboCatTestV1), "Robo-cat Test");
}

TEST(PetKindAllCases, ExactlyTheNineteenWithAManifest) {
    const auto offered = allPetKinds();
    ASSERT_EQ(offered.size(), 19u);
    EXPECT_EQ(offered[0], PetKind::robotV1);
    EXPECT_EQ(offered[1], PetKind::calendarV1);
    EXPECT_EQ(offered.back(), PetKind::tunebug);
    for (auto kind : everyPetKind()) {
        const bool isOffered = std::find(offered.begin(), offered.end(), kind) != offered.end();
        EXPECT_EQ(spriteManifest(kind).has_value(), isOffered) << rawValue(kind);
        EXPECT_EQ(accentColor(kind).alpha, 1.0);
    }
    EXPECT_EQ(accentColor(PetKind::speakerV1), (platform::Color{0.05, 0.13, 0.14, 1.0}));
}

TEST(PetKindManifest, KindsUseTheirBuilders) {
    const auto robot = spriteManifest(PetKind::robotV1);
    ASSERT_TRUE(robot);
    EXPECT_EQ(robot->sheetName, "robot-v1-spritesheet");
    EXPECT_EQ(robot->columns, 10);
    EXPECT_EQ(robot->clips.at(S::idle).frames.size(), 10u);
    EXPECT_EQ(robot->clips.at(S::idle).frames.back(), (PetSpriteFrame{0, 9}));

    EXPECT_EQ(spriteManifest(PetKind::calendarV1)->clips.at(S::music).frames.front(), (PetSpriteFrame{10, 0}));
    const auto fox = spriteManifest(PetKind::hipsterFoxTestV1);
    EXPECT_EQ(fox->clips.at(S::hover).sheetName, "hipster-fox-test-hover-5x2");
    EXPECT_EQ(fox->clips.at(S::hover).framesPerSecond, 3);
    EXPECT_EQ(spriteManifest(PetKind::puppyTestV1)->clips.at(S::hover).framesPerSecond, 8);
    EXPECT_EQ(spriteManifest(PetKind::potentialPet9)->sheetName, "repaired-spritesheet-9");
    EXPECT_EQ(spriteManifest(PetKind::tunebug)->clips.at(S::sleep).framesPerSecond, 4);
}

bool fits(const PetAnimationClip& clip, int rows, int columns) {
    return !clip.frames.empty() && std::all_of(clip.frames.begin(), clip.frames.end(), [&](auto f) {
        return f.row >= 0 && f.row < rows && f.column >= 0 && f.column < columns;
    });
}

// The state a pet shows on a sheet of the given grid must have a clip that
// can be cut from it, or the pet would vanish.
void expectPlayable(const PetSpriteManifest& m, S state, int rows, int columns, PetKind kind) {
    const auto chain = m.clipChain(m.playableState(state, rows, columns));
    EXPECT_TRUE(std::any_of(chain.begin(), chain.end(), [&](const auto& c) { return fits(c, rows, columns); }))
        << rawValue(kind) << " state " << static_cast<int>(state) << " on " << rows << "x" << columns;
}

TEST(PetKindManifest, EveryStateOfEveryKindResolvesAPlayableClip) {
    for (auto kind : everyPetKind()) {
        const auto manifest = spriteManifest(kind);
        if (!manifest) continue;  // drawn as vector shapes
        const int columns = manifest->columnsForSheet(std::nullopt);
        for (auto state : allPetAnimationStates) {
            const auto& own = manifest->clips.at(state);
            int rows = 0;  // the sheet the state's own clip is cut from, just tall enough for it
            for (const auto& [other, c] : manifest->clips) {
                if (c.sheetName.value_or(manifest->sheetName) != own.sheetName.value_or(manifest->sheetName)) continue;
                for (const auto& f : c.frames) rows = std::max(rows, f.row + 1);
            }
            EXPECT_EQ(manifest->playableState(state, rows, columns), fallbackStates(state).front());
            expectPlayable(*manifest, state, rows, columns, kind);
            // a sheet holding only the idle cells still plays something
            expectPlayable(*manifest, state, manifest->clips.at(S::idle).frames.back().row + 1, columns, kind);
        }
    }
}

TEST(PetKindManifest, BuiltAnewEachTime) {
    auto first = spriteManifest(PetKind::robotV1);
    first->clips.clear();
    EXPECT_EQ(spriteManifest(PetKind::robotV1)->clips.size(), 8u);
}

}  // namespace
}  // namespace Mossbridge
