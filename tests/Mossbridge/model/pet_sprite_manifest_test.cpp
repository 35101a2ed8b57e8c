#include "Mossbridge/model/PetSpriteManifest.h"

#include <gtest/gtest.h>

namespace Mossbridge {
namespace {

using S = PetAnimationState;

std::vector<PetSpriteFrame> rowFrames(int row, int count) {
    std::vector<PetSpriteFrame> frames;
    for (int column = 0; column < count; ++column) frames.push_back({row, column});
    return frames;
}

PetAnimationClip clip(int row, std::optional<S> fallback = std::nullopt) {
    return {std::nullopt, rowFrames(row, 2), 5, PetAnimationPlayback::loop, fallback};
}

TEST(FallbackStates, ErrorPlaysWaiting) {
    const auto error = fallbackStates(S::error);
    EXPECT_EQ(std::vector<S>(error.begin(), error.end()), (std::vector<S>{S::waiting, S::speaking, S::hover, S::idle}));
    const auto music = fallbackStates(S::music);
    EXPECT_EQ(std::vector<S>(music.begin(), music.end()), (std::vector<S>{S::music, S::hover, S::idle}));
    for (auto state : allPetAnimationStates) EXPECT_EQ(fallbackStates(state).back(), S::idle);
}

TEST(Builders, EveryClipLoopsAndFallsBackToIdle) {
    for (const auto& m : {gridSpriteManifest("g", 10), blockSpriteManifest("b"), perStateSpriteManifest("p", 8),
                          rowSpriteManifest("r")}) {
        EXPECT_TRUE(m.sheetColumns.empty() && m.customClips.empty());
        ASSERT_EQ(m.clips.size(), 8u);
        for (const auto& [state, c] : m.clips) {
            EXPECT_EQ(c.playback, PetAnimationPlayback::loop);
            EXPECT_EQ(c.fallbackState, state == S::idle ? std::nullopt : std::optional(S::idle));
        }
    }
}

TEST(Builders, Layouts) {
    const auto grid = gridSpriteManifest("none", 0);
    EXPECT_EQ(grid.columns, 0);  // kept as given, though each clip still plays one cell
    EXPECT_EQ(grid.clips.at(S::music).frames, rowFrames(5, 1));

    const auto block = blockSpriteManifest("calendar");
    auto music = rowFrames(10, 5);
    const auto second = rowFrames(11, 5);
    music.insert(music.end(), second.begin(), second.end());
    EXPECT_EQ(block.clips.at(S::music).frames, music);

    const auto perState = perStateSpriteManifest("fox", 3);
    EXPECT_EQ(perState.sheetName, "fox-idle-5x2");
    EXPECT_EQ(perState.clips.at(S::music).sheetName, "fox-dance-5x2");
    EXPECT_EQ(perState.clips.at(S::error).sheetName, "fox-speaking-5x2");
    EXPECT_EQ(perState.clips.at(S::hover).framesPerSecond, 3);

    const auto row = rowSpriteManifest("tunebug");
    EXPECT_EQ(row.clips.at(S::sleep).frames, rowFrames(3, 6));
    EXPECT_EQ(row.clips.at(S::error).frames, rowFrames(7, 6));
}

TEST(ClipChain, StateThenIdleEachOnce) {
    const auto built = gridSpriteManifest("g", 4);
    EXPECT_EQ(built.clipChain(S::hover), (std::vector{built.clips.at(S::hover), built.clips.at(S::idle)}));
    EXPECT_EQ(built.clipChain(S::idle), std::vector{built.clips.at(S::idle)});

    PetSpriteManifest m;
    EXPECT_TRUE(m.clipChain(S::music).empty());
    m.clips[S::idle] = clip(0, S::idle);  // a self-cycle ends too
    EXPECT_EQ(m.clipChain(S::music), std::vector{m.clips[S::idle]});
    EXPECT_EQ(m.clipChain(S::idle), std::vector{m.clips[S::idle]});

    m.clips[S::hover] = clip(1, S::work);
    m.clips[S::work] = clip(2, S::hover);
    EXPECT_EQ(m.clipChain(S::hover), (std::vector{m.clips[S::hover], m.clips[S::work], m.clips[S::idle]}));
}

TEST(PlayableState, FirstCandidateWithAnyFittingClip) {
    const auto m = gridSpriteManifest("robot", 10);
    EXPECT_EQ(m.playableState(S::error, 8, 10), S::waiting);
    // the music row lies outside, but the idle clip at the end of its chain fits
    EXPECT_EQ(m.playableState(S::music, 1, 10), S::music);
    EXPECT_EQ(m.playableState(S::music, 1, 9), S::idle);  // nothing fits a narrower sheet
    for (auto state : allPetAnimationStates) EXPECT_EQ(m.playableState(state, 0, 10), S::idle);

    PetSpriteManifest partial;
    partial.clips[S::hover] = PetAnimationClip{};                                  // no frames
    partial.clips[S::idle] = PetAnimationClip{std::nullopt, {{0, 0}, {-1, 0}}, 5, PetAnimationPlayback::loop, std::nullopt};
    EXPECT_EQ(partial.playableState(S::music, 10, 10), S::idle);
}

TEST(ColumnsForSheet, NamedSheetOrDefault) {
    auto m = perStateSpriteManifest("p", 8);
    EXPECT_EQ(m.columnsForSheet(std::nullopt), 5);
    EXPECT_EQ(m.columnsForSheet(std::string("elsewhere")), 5);
    m.sheetColumns = {{"elsewhere", 3}, {"p-idle-5x2", 7}};
    EXPECT_EQ(m.columnsForSheet(std::string("elsewhere")), 3);
    EXPECT_EQ(m.columnsForSheet(std::nullopt), 7);
}

}  // namespace
}  // namespace Mossbridge
