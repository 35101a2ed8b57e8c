// Pet sizes (clamped, about each pet's centre) and lining pets up along the
// four screen edges.

#include "Mossbridge/model/AssignmentStore.h"

#include <gtest/gtest.h>

#include "StoreFixture.h"

namespace Mossbridge {
namespace {

using AssignmentStoreLayoutTest = StoreFixture;

TEST_F(AssignmentStoreLayoutTest, ScaleIsClampedAndFramesScaleAboutTheirCentres) {
    const auto store = makeStore();
    store->assignments.push_back(makeAssignment("a", {100, 200, 92, 104}));
    EXPECT_TRUE(store->setPetSizeScale(5.0));
    EXPECT_EQ(store->preferences.petSizeScale, 2.0);
    EXPECT_EQ(store->assignments[0].frame, CodableRect(54, 148, 184, 208));  // centre (146, 252) kept
}

TEST_F(AssignmentStoreLayoutTest, SmallScalesRaiseFramesToTheMinimumSize) {
    const auto store = makeStore();
    store->assignments.push_back(makeAssignment("a", {100, 200, 92, 104}));
    EXPECT_TRUE(store->setPetSizeScale(0.1));
    EXPECT_EQ(store->preferences.petSizeScale, 0.55);
    EXPECT_EQ(store->assignments[0].frame, CodableRect(119, 221, 54, 62));
}

TEST_F(AssignmentStoreLayoutTest, FramesAreClampedToTheMaximumAndStayClampedWhenScalingBack) {
    const auto store = makeStore();
    store->assignments.push_back(makeAssignment("big", {0, 0, 200, 240}));
    ASSERT_TRUE(store->setPetSizeScale(2.0));
    EXPECT_EQ(store->assignments[0].frame, CodableRect(-10, -5, 220, 250));
    ASSERT_TRUE(store->setPetSizeScale(1.0));
    EXPECT_EQ(store->assignments[0].frame, CodableRect(45, 57.5, 110, 125));
}

TEST_F(AssignmentStoreLayoutTest, TinyChangesAndDegenerateCurrentScalesChangeNothing) {
    const auto store = makeStore();
    store->assignments.push_back(makeAssignment("a"));
    EXPECT_FALSE(store->setPetSizeScale(1.0005));
    store->preferences.petSizeScale = 0;
    EXPECT_FALSE(store->setPetSizeScale(1.5));
    EXPECT_EQ(store->assignments[0].frame, CodableRect(0, 0, 92, 104));
    EXPECT_EQ(dispatcher.pendingCount(), 0u);
}

class ArrangeTest : public StoreFixture {
protected:
    std::vector<CodableRect> arranged(ArrangementEdge edge, int count, std::optional<platform::Rect> v) {
        EXPECT_TRUE(defaults->remove(AssignmentStore::defaultsKey));
        const auto store = makeStore();
        for (int i = 0; i < count; ++i) store->assignments.push_back(makeAssignment(std::to_string(i), {5, 5, 92, 104}));
        store->arrangePets(edge, v);
        std::vector<CodableRect> frames;
        const auto reloaded = makeStore();  // the frames as written
        for (const auto& a : reloaded->assignments) frames.push_back(a.frame);
        return frames;
    }
    const platform::Rect v{0, 0, 1000, 800};
};

TEST_F(ArrangeTest, SideEdgesStackDownwardsFromTheTopCorner) {
    EXPECT_EQ(arranged(ArrangementEdge::left, 3, v),
              (std::vector<CodableRect>{{18, 678, 92, 104}, {18, 564, 92, 104}, {18, 450, 92, 104}}));
    EXPECT_EQ(arranged(ArrangementEdge::right, 2, v),
              (std::vector<CodableRect>{{890, 678, 92, 104}, {890, 564, 92, 104}}));
}

TEST_F(ArrangeTest, TopAndBottomLineUpToTheRight) {
    EXPECT_EQ(arranged(ArrangementEdge::bottom, 3, v),
              (std::vector<CodableRect>{{18, 18, 92, 104}, {120, 18, 92, 104}, {222, 18, 92, 104}}));
    EXPECT_EQ(arranged(ArrangementEdge::top, 2, v), (std::vector<CodableRect>{{18, 678, 92, 104}, {120, 678, 92, 104}}));
}

TEST_F(ArrangeTest, PetsPastTheFarEndPileUpInTheFarCorner) {
    const platform::Rect narrow{100, 50, 400, 300};
    const auto top = arranged(ArrangementEdge::top, 5, narrow);
    EXPECT_EQ(top[2], CodableRect(322, 228, 92, 104));
    EXPECT_EQ(top[3], CodableRect(390, 228, 92, 104));  // maxX - 18 - w
    EXPECT_EQ(top[4], CodableRect(390, 228, 92, 104));
    const auto left = arranged(ArrangementEdge::left, 4, narrow);
    EXPECT_EQ(left[1], CodableRect(118, 114, 92, 104));
    EXPECT_EQ(left[2], CodableRect(118, 68, 92, 104));  // minY + 18
    EXPECT_EQ(left[3], CodableRect(118, 68, 92, 104));
}

TEST_F(ArrangeTest, WithoutAGivenFrameTheMainScreenOrTheFallbackIsUsed) {
    screenVisibleFrames = {{0, 25, 1440, 850}, {1440, 0, 1920, 1080}};
    EXPECT_EQ(arranged(ArrangementEdge::bottom, 1, std::nullopt)[0], CodableRect(18, 43, 92, 104));
    screenVisibleFrames.clear();
    EXPECT_EQ(arranged(ArrangementEdge::bottom, 1, std::nullopt)[0], CodableRect(98, 98, 92, 104));
}

TEST(ArrangementEdgeTest, RawValuesMatchExactly) {
    EXPECT_EQ(arrangementEdgeIndex("Bottom"), ArrangementEdge::bottom);
    EXPECT_EQ(arrangementEdgeIndex("Left"), ArrangementEdge::left);
    EXPECT_EQ(arrangementEdgeIndex("bottom"), std::nullopt);
    EXPECT_EQ(rawValue(ArrangementEdge::top), "Top");
}

}  // namespace
}  // namespace Mossbridge
