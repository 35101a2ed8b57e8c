// Writes pictures of pets for a person to look at:
//   <build>/pet-snapshots/<kind>-<width>x<height>.png  (one panel each)
//   <build>/pet-snapshots/desktop.png                  (the whole screen)
// Run: ctest -R Mossbridge_tests, or Mossbridge_tests --gtest_filter='PetSnapshots*'.

#include "TestPaths.h"
#include <gtest/gtest.h>

#include "PetViewFixture.h"

namespace Mossbridge {
namespace {

class PetSnapshots : public testing::PetViewTest {
protected:
    std::filesystem::path folder() const {
        auto path = testpaths::binaryDir() / "pet-snapshots";
        std::filesystem::create_directories(path);
        return path;
    }
    static int inkedPixels(const platform::Bitmap& bitmap) {
        int count = 0;
        for (int y = 0; y < bitmap.height(); ++y)
            for (int x = 0; x < bitmap.width(); ++x) count += (bitmap.pixel(x, y) >> 24) > 0;
        return count;
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
                                     std::to_string(int(104 * scale)) + ".png";
            EXPECT_TRUE(bitmap->writePng(folder() / name));
        }
    }
}

TEST_F(PetSnapshots, TheDesktopWithAnAnimatedPet) {
    show(PetKind::calendarV1);
    view->startAnimating();
    dispatcher.advance(0.5);
    server.movePointer(onScreen(40, 60));
    EXPECT_TRUE(server.writeScreenPng(folder() / "desktop.png"));
}

}  // namespace
}  // namespace Mossbridge
