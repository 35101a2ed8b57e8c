#include "PetControllerFixture.h"

#include "platform/drawing/Menu.h"
#include "platform/drawing/Panel.h"

namespace Mossbridge::testing {
namespace {

using Titles = std::vector<std::string>;

class PetContextMenuTest : public PetControllerTest {
protected:
    PetWindow& showPet(platform::Rect frame = {200, 300, 92, 104}, std::vector<std::string> titles = {"Doc A", "Doc B"},
                       const AppStatus& status = {}) {
        install(10, "com.example.a", std::move(titles));
        id = assign("com.example.a", frame);
        sync({{"com.example.a", status}});
        return window(id);
    }
    platform::Uuid id = platform::Uuid::random();
};

struct SectionCase {
    const char* name;
    std::optional<AppContextMenuInfo> info;  // none: no callback
    Titles section;
};

TEST_F(PetContextMenuTest, WindowsSectionFollowsTheAnswer) {
    const AppWindowInfo doc{4, "Doc", std::nullopt, std::nullopt};
    const std::vector<SectionCase> cases = {
        {"no callback", std::nullopt, {"App menu unavailable"}},
        {"untrusted with windows", AppContextMenuInfo{{doc}, false, "ignored"},
         {"Windows", "Doc", "Grant Accessibility Access..."}},
        {"trusted, none, message", AppContextMenuInfo{{}, true, "Try again."},
         {"Windows", "No windows found", "Try again."}},
        {"trusted, windows, message", AppContextMenuInfo{{doc}, true, "Try again."}, {"Windows", "Doc"}},
        {"not ready fallback", AppContextMenuInfo{{}, false, "Mossbridge is not ready."},
         {"Windows", "No windows found", "Grant Accessibility Access..."}},
    };
    PetWindow& pet = showPet();
    for (const auto& c : cases) {
        if (c.info) pet.onContextMenuInfoRequested = [info = *c.info](const std::string&) { return info; };
        else pet.onContextMenuInfoRequested = nullptr;
        auto menu = platform::Menu::make();
        pet.contextMenuWindowsSection(*menu);
        EXPECT_EQ(menu->itemTitles(), c.section) << c.name;
    }
}

TEST_F(PetContextMenuTest, RightClickOpensTheMenuAndItsItemsCallBack) {
    desktop.accessibility->setTrusted(true);
    AppStatus status;
    status.badgeText = "3";
    PetWindow& pet = showPet({200, 300, 92, 104}, {"Doc A", "Doc B"}, status);
    int picked = -1;
    pet.onWindowFocusRequested = [&](const platform::Uuid&, const std::string&, int index) { picked = index; };
    server.pressRight({240, 380});
    EXPECT_EQ(eventNames(), Titles{"pet_right_click"});
    auto menu = platform::Menu::openMenu(server);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu, pet.contextMenu());
    EXPECT_EQ(menu->itemTitles(), (Titles{"Badge: 3", "Status: not readable", "-", "Windows", "Doc A", "Doc B", "-",
                                          "Close Pet", "Quit com.example.a"}));
    EXPECT_FALSE(pet.previewWindow().panel().isVisible());

    // Information lines do nothing; a window item hands over its index.
    EXPECT_FALSE(menu->performItem(*menu->indexOfItemWithTitle("Windows")));
    EXPECT_TRUE(menu->isOpen());
    EXPECT_TRUE(menu->performItem(*menu->indexOfItemWithTitle("Doc B")));
    EXPECT_EQ(picked, 1);
    EXPECT_FALSE(menu->isOpen());

    desktop.accessibility->setTrusted(false);
    server.pressRight({240, 380});
    menu = platform::Menu::openMenu(server);
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->performItem(*menu->indexOfItemWithTitle("Grant Accessibility Access...")));
    EXPECT_EQ(desktop.accessibility->promptCount(), 1);
}

TEST_F(PetContextMenuTest, ClosePetByPointerRemovesTheAssignment) {
    PetWindow& pet = showPet();
    pet.showContextMenu({40, 80});
    auto menu = pet.contextMenu();
    const platform::Rect open = *menu->openFrame();
    const platform::Rect row = menu->rectOfItem(*menu->indexOfItemWithTitle("Close Pet"));
    const platform::Point click{open.minX() + row.midX(), open.minY() + row.midY()};
    server.pressLeft(click);
    server.releaseLeft(click);
    EXPECT_EQ(controller->window(id), nullptr);
    EXPECT_TRUE(store->assignments.empty());
    EXPECT_EQ(eventNames(), Titles{"pet_removed"});
}

TEST_F(PetContextMenuTest, WindowItemWithoutAnIntegerDoesNothing) {
    PetWindow& pet = showPet();
    int calls = 0;
    pet.onWindowFocusRequested = [&](const platform::Uuid&, const std::string&, int) { ++calls; };
    auto item = platform::MenuItem::make("Doc");
    pet.focusWindowFromMenu(*item);
    item->representedObject = platform::PropertyValue("2");
    pet.focusWindowFromMenu(*item);
    EXPECT_EQ(calls, 0);
}

TEST_F(PetContextMenuTest, MenuNearTheBottomOpensRaisedByItsHeight) {
    PetWindow& low = showPet({200, 100, 92, 104});
    auto menu = low.makeContextMenu();
    const double h = std::max(menu->size().height, 220.0);
    // 100 + 50 - h is below 0 + 12: raised.
    EXPECT_EQ(low.contextMenuOrigin(*menu, {40, 50}), (platform::Point{40, 50 + h}));
    low.setFrame({200, 600, 92, 104}, true);
    EXPECT_EQ(low.contextMenuOrigin(*menu, {40, 50}), (platform::Point{40, 50}));
    low.setFrame({3000, 3000, 92, 104}, true);  // on no screen
    EXPECT_EQ(low.contextMenuOrigin(*menu, {40, 10}), (platform::Point{40, 10}));
}

}  // namespace
}  // namespace Mossbridge::testing
