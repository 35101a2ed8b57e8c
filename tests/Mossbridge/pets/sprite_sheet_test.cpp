#include "Mossbridge/pets/SpriteSheet.h"

#include <gtest/gtest.h>

#include <fstream>

#include "SpriteSheetFixture.h"

namespace Mossbridge {
namespace {

using testing::cellLabel;
using testing::labelledSheet;
using testing::SpriteSheetTest;

PetAnimationClip clipOf(std::vector<PetSpriteFrame> frames, std::optional<std::string> sheet = std::nullopt) {
    return {std::move(sheet), std::move(frames), 6, PetAnimationPlayback::loop, std::nullopt};
}

PetSpriteManifest manifestOf(const std::string& sheet, int columns) {
    PetSpriteManifest manifest;
    manifest.sheetName = sheet;
    manifest.columns = columns;
    return manifest;
}

TEST(SpriteSheetGrid, RowsAreCountedAsIfCellsWereSquare) {
    EXPECT_EQ(spriteSheetGrid(600, 250, 5), (SpriteSheetMetadata{5, 2, 120, 125}));
    EXPECT_EQ(spriteSheetGrid(600, 59, 5)->rows, 1);   // below half a cell: still one row
    EXPECT_EQ(spriteSheetGrid(600, 180, 5)->rows, 2);  // 1.5 rounds away from zero
    EXPECT_EQ(spriteSheetGrid(600, 0, 5)->rows, 1);
}

TEST(SpriteSheetGrid, NoGridWithoutAPositiveCellWidth) {
    EXPECT_FALSE(spriteSheetGrid(0, 250, 5));
    EXPECT_FALSE(spriteSheetGrid(600, 250, 0));
    EXPECT_FALSE(spriteSheetGrid(600, 250, -2));
    EXPECT_FALSE(spriteSheetGrid(0, 0, 0));
}

TEST(SpriteFrameIndex, WholePartModuloTheClipLength) {
    EXPECT_EQ(spriteFrameIndex(7.9, 3), 1u);
    EXPECT_EQ(spriteFrameIndex(0.99, 3), 0u);
    EXPECT_EQ(spriteFrameIndex(3.0, 3), 0u);
    EXPECT_EQ(spriteFrameIndex(1e300, 7), spriteFrameIndex(1e300, 7));  // no overflow
    EXPECT_LT(spriteFrameIndex(1e300, 7), 7u);
    EXPECT_EQ(spriteFrameIndex(-2.5, 3), 0u);
    EXPECT_EQ(spriteFrameIndex(NAN, 3), 0u);
    EXPECT_EQ(spriteFrameIndex(5, 0), 0u);
}

TEST_F(SpriteSheetTest, GridIsCachedByNameAndColumnCount) {
    const auto first = labelledSheet(5, 2, 10);
    const auto other = labelledSheet(5, 4, 10);
    EXPECT_EQ(spriteSheetMetadata("s", *first, 5)->rows, 2);
    EXPECT_EQ(spriteSheetMetadata("s", *other, 5)->rows, 2);  // the first answer stands
    EXPECT_EQ(spriteSheetMetadata("s", *other, 10)->rows, 8);  // another column count: its own entry
    EXPECT_EQ(spriteSheetMetadata("t", *other, 5)->rows, 4);
    EXPECT_EQ(spriteSheetCacheCounts().grids, 3u);
    const platform::Bitmap empty(0, 0, {});
    EXPECT_FALSE(spriteSheetMetadata("u", empty, 5));
    EXPECT_EQ(spriteSheetCacheCounts().grids, 3u);
}

TEST_F(SpriteSheetTest, AFailedCutIsCachedAndNotRetried) {
    const auto sheet = labelledSheet(2, 2, 10);
    const auto failed = croppedSpriteFrame(*sheet, "k", {40, 40, 10, 10});
    EXPECT_FALSE(failed.croppedFrame);
    EXPECT_FALSE(failed.image);
    const auto again = croppedSpriteFrame(*sheet, "k", {0, 0, 10, 10});
    EXPECT_FALSE(again.croppedFrame);
    EXPECT_EQ(spriteSheetCacheCounts().cuts, 1u);
}

TEST_F(SpriteSheetTest, CutImageHasTheRequestedNotTheIntegralSize) {
    const auto sheet = labelledSheet(4, 1, 10);
    const auto frame = croppedSpriteFrame(*sheet, "k", {10.5, 0, 9.5, 10});
    ASSERT_TRUE(frame.croppedFrame);
    EXPECT_EQ(frame.croppedFrame->width(), 10);  // integral: 10..20
    EXPECT_EQ(frame.image->size(), (platform::Size{9.5, 10}));
}

TEST_F(SpriteSheetTest, FrameShownFollowsTheTickAndComesFromItsCell) {
    writeSheet("pets", labelledSheet(4, 3, 8));
    const auto manifest = manifestOf("pets", 4);
    const auto clip = clipOf({{2, 0}, {2, 3}, {1, 1}});
    const auto frame = spriteFrame(clip, manifest, 7.9);  // index 1
    ASSERT_TRUE(frame && frame->croppedFrame);
    EXPECT_EQ(cellLabel(*frame->croppedFrame), (std::pair{2, 3}));
    EXPECT_EQ(frame->croppedFrame->width(), 8);
}

TEST_F(SpriteSheetTest, AClipReachingOutsideTheGridIsSkippedWhole) {
    writeSheet("pets", labelledSheet(4, 3, 8));
    const auto manifest = manifestOf("pets", 4);
    EXPECT_FALSE(spriteFrame(clipOf({{0, 0}, {3, 0}}), manifest, 0));   // row == rows
    EXPECT_FALSE(spriteFrame(clipOf({{0, 0}, {0, 4}}), manifest, 0));   // column == columns
    EXPECT_FALSE(spriteFrame(clipOf({{0, 0}, {-1, 0}}), manifest, 0));
    EXPECT_FALSE(spriteFrame(clipOf({}), manifest, 0));
    EXPECT_EQ(spriteSheetCacheCounts().cuts, 0u);
}

TEST_F(SpriteSheetTest, AClipNamesItsOwnSheetWithItsOwnColumnCount) {
    writeSheet("other", labelledSheet(2, 2, 8));
    auto manifest = manifestOf("pets", 4);
    manifest.sheetColumns["other"] = 2;
    const auto frame = spriteFrame(clipOf({{1, 1}}, "other"), manifest, 0);
    ASSERT_TRUE(frame && frame->croppedFrame);
    EXPECT_EQ(cellLabel(*frame->croppedFrame), (std::pair{1, 1}));
}

TEST_F(SpriteSheetTest, AMissingSheetIsLookedUpAgainUntilItAppears) {
    const auto manifest = manifestOf("late", 2);
    const auto clip = clipOf({{0, 1}});
    EXPECT_FALSE(spriteFrame(clip, manifest, 0));
    EXPECT_EQ(spriteSheetCacheCounts().sheetImages, 0u);
    writeSheet("late", labelledSheet(2, 1, 8));
    EXPECT_TRUE(spriteFrame(clip, manifest, 0));
    EXPECT_EQ(spriteSheetCacheCounts().sheetImages, 1u);
}

TEST_F(SpriteSheetTest, TheBundleLookupSharesAnImageInUseAndReadsAgainOnceItIsNot) {
    writeSheet("pets", labelledSheet(2, 1, 8));
    auto cached = loadSpriteSheetImage("pets");
    auto fresh = bundleImageNamed("pets");
    ASSERT_TRUE(cached && fresh);
    EXPECT_EQ(fresh->bitmap(), cached->bitmap());  // the sheet is not decoded twice
    EXPECT_EQ(spriteSheetCacheCounts().sheetImages, 1u);

    resetSpriteSheetCachesForTesting();
    cached.reset();
    fresh.reset();
    writeSheet("pets", labelledSheet(3, 1, 8));
    EXPECT_EQ(bundleImageNamed("pets")->bitmap()->width(), 24);  // none held: the file as it is now
}

TEST_F(SpriteSheetTest, EmptyOrUndersizedSheetFilesGiveNoFrame) {
    std::ofstream(folder_ / "empty.png").close();
    EXPECT_FALSE(spriteFrame(clipOf({{0, 0}}), manifestOf("empty", 5), 0));
    // 5 columns of 10 pixels but only 4 high: one row, so row 1 never fits.
    writeSheet("short", platform::Bitmap::make(50, 4, std::vector<std::uint32_t>(200, 0xff000000u)));
    EXPECT_FALSE(spriteFrame(clipOf({{0, 0}, {1, 0}}), manifestOf("short", 5), 0));
    EXPECT_TRUE(spriteFrame(clipOf({{0, 4}}), manifestOf("short", 5), 0));
    // A column count of 0 leaves no positive cell width: no grid at all.
    writeSheet("narrow", platform::Bitmap::make(1, 1, {0xff000000u}));
    EXPECT_TRUE(spriteFrame(clipOf({{0, 0}}), manifestOf("narrow", 1), 0));
    EXPECT_FALSE(spriteFrame(clipOf({{0, 0}}), manifestOf("narrow", 0), 0));
}

TEST_F(SpriteSheetTest, PreparingAKindCutsEachSharedCellOnceAndOnlyOnce) {
    useGeneratedResources();
    prepareSpriteFrames(PetKind::calendarV1);  // block manifest: speaking, waiting and error share rows 6-7
    EXPECT_EQ(spriteSheetCacheCounts().cuts, 60u);  // twelve rows of five
    EXPECT_EQ(spriteSheetCacheCounts().frames, 60u);
    prepareSpriteFrames(PetKind::calendarV1);
    EXPECT_EQ(spriteSheetCacheCounts().cuts, 60u);
    prepareSpriteFrames(PetKind::checklistV1);  // no manifest
    EXPECT_EQ(spriteSheetCacheCounts().cuts, 60u);
}

TEST_F(SpriteSheetTest, AKindPreparedWhileItsSheetsWereMissingIsNotPreparedAgain) {
    prepareSpriteFrames(PetKind::robotV1);
    EXPECT_EQ(spriteSheetCacheCounts().cuts, 0u);
    useGeneratedResources();
    prepareSpriteFrames(PetKind::robotV1);
    EXPECT_EQ(spriteSheetCacheCounts().cuts, 0u);
    // ...but the frame lookup cuts on demand once the sheet is there.
    const auto manifest = *spriteManifest(PetKind::robotV1);
    EXPECT_TRUE(spriteFrame(manifest.clips.at(PetAnimationState::idle), manifest, 3));
    EXPECT_EQ(spriteSheetCacheCounts().cuts, 1u);
}

TEST(DisabledLayerActions, ExactlyTheSevenKeys) {
    EXPECT_EQ(disabledLayerActions(),
              (platform::LayerActions{"contents", "bounds", "position", "frame", "path", "hidden", "sublayers"}));
}

}  // namespace
}  // namespace Mossbridge

namespace Mossbridge {
namespace {

// The walk the tick uses must visit exactly the clips clipChain() copies.
TEST(ClipChainWalk, VisitsTheClipsOfClipChainInOrder) {
    for (PetKind kind : everyPetKind()) {
        const auto manifest = spriteManifest(kind);
        if (!manifest) continue;
        for (PetAnimationState state : allPetAnimationStates) {
            std::vector<PetAnimationClip> walked;
            const bool stopped = forEachClipInChain(*manifest, state, [&walked](const PetAnimationClip& clip) {
                walked.push_back(clip);
                return false;
            });
            EXPECT_FALSE(stopped);
            EXPECT_EQ(walked, manifest->clipChain(state)) << rawValue(kind) << " " << int(state);
            int visits = 0;
            EXPECT_EQ(forEachClipInChain(*manifest, state, [&visits](const PetAnimationClip&) { return ++visits; }),
                      !walked.empty());
            EXPECT_EQ(visits, walked.empty() ? 0 : 1);  // stops at the first clip that answers true
        }
    }
}

}  // namespace
}  // namespace Mossbridge
