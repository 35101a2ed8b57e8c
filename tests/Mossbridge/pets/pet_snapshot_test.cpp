// Pictures of pets, each compared with its reference in snapshots/pet/ and
// written for a person to look at (SnapshotSupport.h):
//   <build>/pet-snapshots/<kind>-<width>x<height>.png  (one panel each)
//   <build>/pet-snapshots/desktop.png                  (the whole screen)
//   <build>/pet-snapshots/vector-<kind>-<case>.png     (each vector kind in a few states)
// Run: ctest -R PetSnapshots, or Mossbridge_pets_tests --gtest_filter='PetSnapshots*'.

#include <gtest/gtest.h>

#include "PetViewFixture.h"
#include "SnapshotSupport.h"

namespace Mossbridge {
namespace {

class PetSnapshots : public testing::PetViewTest {
protected:
    static int inkedPixels(const platform::Bitmap& bitmap) { return testing::inkedPixels(bitmap); }
    static auto matchesReference(const platform::Bitmap& bitmap, const std::string& name) {
        return testing::matchesReference(bitmap, "pet", name);
    }
};

TEST_F(PetSnapshots, SpriteAndVectorPetsAtTwoSizes) {
    AppStatus status;
    status.badgeText = "7";
    for (PetKind kind : {PetKind::robotV1, PetKind::cat}) {
        for (double scale : {1.0, 2.0}) {
            show(kind, status);
            view->windowCount = 3;
            view->isFocused = true;
            view->refreshAppearance();
            panel->setFrame({100, 100, PetView::basePetWidth * scale, PetView::basePetHeight * scale}, true);
            const auto bitmap = panel->render();
            ASSERT_TRUE(bitmap);
            EXPECT_EQ(bitmap->width(), int(PetView::basePetWidth * scale * 2));
            EXPECT_GT(inkedPixels(*bitmap), bitmap->width() * bitmap->height() / 10) << rawValue(kind);
            const std::string name = std::string(rawValue(kind)) + "-" + std::to_string(int(92 * scale)) + "x" +
                                     std::to_string(int(104 * scale));
            EXPECT_TRUE(matchesReference(*bitmap, name));
        }
    }
}

// Every vector kind with accents, plus one without, in the states that change
// what is drawn: focus (ring, wider bob), the wink, hover (grip), badges and
// window dots, and a name too long for its band.
TEST_F(PetSnapshots, VectorPetsInTheirStates) {
    AppStatus status;
    status.badgeText = "12";
    for (PetKind kind : {PetKind::blob, PetKind::cat, PetKind::ghost, PetKind::sprout, PetKind::coffeeV1}) {
        for (int variant = 0; variant < 4; ++variant) {
            show(kind, variant == 2 ? status : AppStatus{});
            if (variant == 3) view->assignment.appName = "A Very Long Application Name Indeed";
            view->isFocused = variant != 1;
            view->windowCount = variant == 2 ? 7 : variant;
            view->refreshAppearance();
            if (variant == 1) server.movePointer(onScreen(40, 60));
            view->startAnimating();
            dispatcher.advance(variant == 0 ? 0 : 0.35 * variant);  // variant 0 is the wink at tick 0
            const auto bitmap = panel->render();
            ASSERT_TRUE(bitmap);
            EXPECT_GT(inkedPixels(*bitmap), bitmap->width() * bitmap->height() / 10) << rawValue(kind);
            const std::string name =
                "vector-" + std::string(rawValue(kind)) + "-" + std::to_string(variant);
            EXPECT_TRUE(matchesReference(*bitmap, name));
            view->stopAnimating();
            server.movePointer({0, 0});
        }
    }
}

TEST_F(PetSnapshots, TheDesktopWithAnAnimatedPet) {
    show(PetKind::calendarV1);
    view->startAnimating();
    dispatcher.advance(0.5);
    server.movePointer(onScreen(40, 60));
    const auto screen = server.renderScreen();
    ASSERT_TRUE(screen);
    EXPECT_TRUE(matchesReference(*screen, "desktop"));
}

}  // namespace
}  // namespace Mossbridge
