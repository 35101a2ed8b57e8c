// The window-preview panel: its frame, its fades guarded by the visibility
// generation, and its tiles.

#include <gtest/gtest.h>

#include "CompanionPanelFixture.h"
#include "Mossbridge/pets/BubbleColors.h"
#include "Mossbridge/pets/WindowPreviewPanel.h"
#include "platform/drawing/Panel.h"

namespace Mossbridge {
namespace {

std::vector<AppWindowPreviewInfo> previewsWithIndexes(std::vector<int> indexes) {
    std::vector<AppWindowPreviewInfo> previews;
    for (int index : indexes) previews.push_back({index, "Window " + std::to_string(index), nullptr});
    return previews;
}

class WindowPreviewPanelTest : public testing::CompanionPanelTest {
protected:
    static constexpr platform::Rect pet{600, 300, 92, 104};

    // The centre of tile `position` on the screen.
    platform::Point tileCentre(std::size_t position) const {
        const auto& tile = *preview->previewView().tiles().at(position);
        const platform::Rect panel = preview->panel().frame();
        return {panel.minX() + tile.frame().midX(), panel.minY() + tile.frame().midY()};
    }
    bool shown() const { return preview->panel().isVisible(); }

    std::shared_ptr<WindowPreviewPanel> preview = WindowPreviewPanel::make(server, dispatcher);
};

// --- Frame ----------------------------------------------------------------------

TEST_F(WindowPreviewPanelTest, KeepsTheFirstSixPreviews) {
    preview->show(previewsWithIndexes({0, 1, 2, 3, 4, 5, 6, 7}), pet, std::nullopt);
    EXPECT_EQ(preview->previews().size(), 6u);
    EXPECT_EQ(preview->previewView().tiles().size(), 6u);
    EXPECT_EQ(preview->panel().frame().width(), 984);
    EXPECT_EQ(preview->panel().frame().height(), 136);
    EXPECT_EQ(preview->panelFrame(previewsWithIndexes({0}), pet, std::nullopt).width(), 174);
}

TEST_F(WindowPreviewPanelTest, GoesBelowThePetWhenThereIsNoRoomAbove) {
    const platform::Rect high{100, 700, 120, 120};
    const platform::Rect frame = preview->panelFrame(previewsWithIndexes({0}), high, std::nullopt);
    EXPECT_EQ(frame.minY(), 558);
    EXPECT_EQ(frame.minX(), 73);

    const platform::Rect low = preview->panelFrame(previewsWithIndexes({0}), pet, std::nullopt);
    EXPECT_EQ(low.minY(), pet.maxY() + 6);

    const platform::Rect nearBottom{600, 60, 92, 40};
    EXPECT_EQ(preview->panelFrame(previewsWithIndexes({0}), {600, 800, 92, 40}, std::nullopt).minY(), 800 - 142);
    server.setScreens({platform::Screen{{0, 0, 800, 180}, {0, 0, 800, 180}, 2}});
    EXPECT_EQ(preview->panelFrame(previewsWithIndexes({0}), nearBottom, std::nullopt).minY(), 10);
}

TEST_F(WindowPreviewPanelTest, StandsOnABubbleAboveThePetButIgnoresOneBelowItsMiddle) {
    const platform::Rect bubbleAbove{560, 380, 170, 80};
    EXPECT_EQ(preview->panelFrame(previewsWithIndexes({0}), pet, bubbleAbove).minY(), 466);
    const platform::Rect bubbleLow{560, 340, 170, 80};  // minY below the pet's middle (352)
    EXPECT_EQ(preview->panelFrame(previewsWithIndexes({0}), pet, bubbleLow).minY(), pet.maxY() + 6);
}

TEST_F(WindowPreviewPanelTest, StaysTenPointsInsideTheVisibleFrame) {
    EXPECT_EQ(preview->panelFrame(previewsWithIndexes({0, 1}), {0, 300, 92, 104}, std::nullopt).minX(), 10);
    EXPECT_EQ(preview->panelFrame(previewsWithIndexes({0}), {1400, 300, 92, 104}, std::nullopt).maxX(), 1430);
    // Wider than the screen: the right-hand limit wins.
    server.setScreens({platform::Screen{{0, 0, 500, 900}, {0, 0, 500, 875}, 2}});
    EXPECT_EQ(preview->panelFrame(previewsWithIndexes({0, 1, 2, 3}), pet, std::nullopt).minX(), 500 - 660 - 10);
}

// --- Showing and hiding -----------------------------------------------------------

TEST_F(WindowPreviewPanelTest, ShowFadesInAndAnEmptyListHides) {
    preview->show(previewsWithIndexes({0}), pet, std::nullopt);
    EXPECT_TRUE(shown());
    EXPECT_EQ(preview->panel().level, 3);
    dispatcher.advance(0.06);
    EXPECT_GT(preview->panel().alphaValue, 0.3);
    EXPECT_LT(preview->panel().alphaValue, 0.7);
    dispatcher.advance(0.06);
    EXPECT_EQ(preview->panel().alphaValue, 1);

    preview->show({}, pet, std::nullopt);
    dispatcher.advance(0.12);
    EXPECT_FALSE(shown());
    EXPECT_EQ(preview->panel().alphaValue, 0);
}

TEST_F(WindowPreviewPanelTest, AShowDuringTheFadeOutKeepsThePanel) {
    preview->show(previewsWithIndexes({0}), pet, std::nullopt);
    dispatcher.advance(1);
    preview->hidePanel();
    dispatcher.advance(0.05);
    preview->show(previewsWithIndexes({0, 1}), pet, std::nullopt);
    dispatcher.advance(0.5);
    EXPECT_TRUE(shown());
    EXPECT_EQ(preview->panel().alphaValue, 1);
}

TEST_F(WindowPreviewPanelTest, OnlyTheLastOfTwoHidesOrdersThePanelOut) {
    preview->show(previewsWithIndexes({0}), pet, std::nullopt);
    dispatcher.advance(1);
    preview->hidePanel();
    dispatcher.advance(0.05);
    preview->hidePanel();
    dispatcher.advance(0.07);  // the first fade's time is up
    EXPECT_TRUE(shown());
    dispatcher.advance(0.05);  // and the second's
    EXPECT_FALSE(shown());
    EXPECT_EQ(preview->panel().alphaValue, 0);
}

TEST_F(WindowPreviewPanelTest, HidingAHiddenPanelChangesNothing) {
    preview->hidePanel();
    EXPECT_EQ(preview->visibilityGeneration(), 0u);
    preview->show(previewsWithIndexes({0}), pet, std::nullopt);
    preview->hidePanel();
    dispatcher.advance(1);
    const auto generation = preview->visibilityGeneration();
    preview->hidePanel();
    EXPECT_EQ(preview->visibilityGeneration(), generation);
    EXPECT_EQ(dispatcher.pendingCount(), 0u);
}

// --- Tiles --------------------------------------------------------------------------

TEST_F(WindowPreviewPanelTest, AClickOnATileReportsItsPreviewsIndex) {
    std::vector<int> selected;
    preview->onWindowSelected = [&](int index) { selected.push_back(index); };
    preview->show(previewsWithIndexes({0, 2, 5}), pet, std::nullopt);
    dispatcher.advance(0.12);
    server.pressLeft(tileCentre(2));
    server.releaseLeft(tileCentre(2));
    server.pressLeft(tileCentre(0));
    EXPECT_EQ(selected, (std::vector<int>{5, 0}));
}

TEST_F(WindowPreviewPanelTest, TilesLightUpUnderThePointerAndTheRowReportsHover) {
    std::vector<bool> hovering;
    preview->onHoverChanged = [&](bool over) { hovering.push_back(over); };
    preview->show(previewsWithIndexes({0, 1}), pet, std::nullopt);
    const auto& tiles = preview->previewView().tiles();
    server.movePointer(tileCentre(1));
    EXPECT_FALSE(tiles[0]->isHighlighted());
    EXPECT_TRUE(tiles[1]->isHighlighted());
    EXPECT_EQ(tiles[1]->label().textColor, BubbleColors::accent);
    server.movePointer({5, 5});
    EXPECT_FALSE(tiles[1]->isHighlighted());
    EXPECT_EQ(tiles[1]->label().textColor, platform::SystemColors::label);
    ASSERT_FALSE(hovering.empty());
    EXPECT_TRUE(hovering.front());
    EXPECT_FALSE(hovering.back());
}

TEST_F(WindowPreviewPanelTest, TilesAreLaidOutFromTheTopLeft) {
    preview->show(previewsWithIndexes({3, 4}), pet, std::nullopt);
    const auto& tiles = preview->previewView().tiles();
    EXPECT_EQ(tiles[0]->frame(), (platform::Rect{10, 10, 154, 116}));
    EXPECT_EQ(tiles[1]->frame(), (platform::Rect{172, 10, 154, 116}));
    EXPECT_EQ(tiles[1]->toolTip(), "Window 4");
    EXPECT_EQ(tiles[1]->label().text(), "Window 4");
}

}  // namespace
}  // namespace Mossbridge
