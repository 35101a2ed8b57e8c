#include "PetViewFixture.h"

namespace Mossbridge::testing {
namespace {

// The layers are set up before the view has a window: the desktop it will
// be shown on gives their scale until then.
TEST_F(PetViewTest, LayersTakeTheMainScreensScaleBeforeTheViewHasAWindow) {
    platform::WindowServer desktop{{platform::Screen{{0, 0, 800, 600}, {0, 0, 800, 575}, 3},
                                    platform::Screen{{800, 0, 800, 600}, {800, 0, 800, 575}, 1}}};
    auto detached = PetView::make({0, 0, PetView::basePetWidth, PetView::basePetHeight},
                                  assignmentOf(PetKind::robotV1), {}, {}, dispatcher, &desktop);
    EXPECT_EQ(detached->layers().statusBadgeText->contentsScale, 3);
    EXPECT_EQ(detached->layers().sprite->contentsScale, 3);

    // On the second screen the window's scale wins for the sprite; text
    // keeps the main screen's.
    auto onSecond = platform::Panel::make(desktop, {900, 100, PetView::basePetWidth, PetView::basePetHeight});
    onSecond->setContentView(detached);
    detached->refreshAppearance();
    EXPECT_EQ(detached->layers().sprite->contentsScale, 1);
    EXPECT_EQ(detached->layers().appLetter->contentsScale, 3);

    platform::WindowServer noScreens;
    auto bare = PetView::make({0, 0, PetView::basePetWidth, PetView::basePetHeight}, assignmentOf(PetKind::robotV1),
                              {}, {}, dispatcher, &noScreens);
    EXPECT_EQ(bare->layers().windowOverflowText->contentsScale, 2);
    EXPECT_EQ(bare->layers().sprite->contentsScale, 2);
}

}  // namespace
}  // namespace Mossbridge::testing
