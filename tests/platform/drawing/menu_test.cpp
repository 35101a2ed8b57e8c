#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/drawing/Menu.h"
#include "platform/drawing/Panel.h"
#include "platform/drawing/WindowServer.h"

namespace platform {
namespace {

class MenuTest : public ::testing::Test {
protected:
    // "Mossbridge" application menu inside a main menu, recording choices.
    std::shared_ptr<Menu> mainMenu() {
        auto app = Menu::make("Mossbridge");
        app->addItem("Settings...", [this](MenuItem& item) { chosen.push_back(item.title); }, ",");
        app->addSeparator();
        app->addItem("Quit Mossbridge", [this](MenuItem& item) { chosen.push_back(item.title); }, "q");
        auto main = Menu::make();
        main->addItem("").setSubmenu(app);
        return main;
    }

    Point centreOfItem(const Menu& menu, std::size_t index) const {
        const Rect open = *menu.openFrame();
        const Rect row = menu.rectOfItem(index);
        return {open.minX() + row.midX(), open.minY() + row.midY()};
    }

    WindowServer server{{Screen{{0, 0, 800, 600}, {0, 0, 800, 575}, 1}}};
    std::vector<std::string> chosen;
};

TEST_F(MenuTest, ItemsChooseOnlyWhenEnabledWithAnAction) {
    auto menu = Menu::make();
    menu->addItem("Information");
    MenuItem& off = menu->addItem("Off", [this](MenuItem&) { chosen.push_back("off"); });
    off.enabled = false;
    menu->addSeparator();
    MenuItem& on = menu->addItem("On", [this](MenuItem& sender) { chosen.push_back(std::to_string(sender.tag)); });
    on.tag = 7;
    EXPECT_EQ(menu->itemTitles(), (std::vector<std::string>{"Information", "Off", "-", "On"}));
    EXPECT_TRUE(menu->itemAt(0)->isGreyed());
    for (std::size_t i = 0; i < 3; ++i) EXPECT_FALSE(menu->performItem(i)) << i;
    EXPECT_FALSE(menu->performItem(9));
    EXPECT_TRUE(menu->performItem(3));
    EXPECT_EQ(chosen, std::vector<std::string>{"7"});
}

TEST_F(MenuTest, KeyEquivalentsReachIntoSubmenus) {
    auto main = mainMenu();
    EXPECT_TRUE(main->performKeyEquivalent("q"));
    EXPECT_TRUE(main->performKeyEquivalent(","));
    EXPECT_FALSE(main->performKeyEquivalent("x"));
    EXPECT_EQ(chosen, (std::vector<std::string>{"Quit Mossbridge", "Settings..."}));
}

TEST_F(MenuTest, PopUpShowsAPanelKeptOnScreenUntilDismissed) {
    auto menu = Menu::make();
    menu->addItem("One", [](MenuItem&) {});
    menu->addItem("Two", [](MenuItem&) {});
    int closes = 0;
    menu->onClose = [&] { ++closes; };
    menu->popUp(server, {100, 400});
    ASSERT_TRUE(menu->isOpen());
    EXPECT_EQ(menu->panel()->level, Menu::popUpMenuLevel);
    EXPECT_EQ(*menu->openFrame(), (Rect{100, 400 - menu->size().height, menu->size().width, menu->size().height}));
    EXPECT_EQ(Menu::openMenu(server), menu);

    // A render of the screen shows the menu where the desktop was.
    const Rect open = *menu->openFrame();
    const std::uint32_t shown = server.renderScreen()->pixel(int(open.midX()), int(600 - open.midY()));
    EXPECT_NE(shown, server.renderScreen()->pixel(int(open.midX()), int(600 - open.maxY() - 20)));

    // Near the bottom-right corner it moves inside the visible frame.
    auto other = Menu::make();
    other->addItem("Three", [](MenuItem&) {});
    other->popUp(server, {790, 10});
    EXPECT_FALSE(menu->isOpen());  // one open menu per desktop
    EXPECT_EQ(closes, 1);
    EXPECT_LE(other->openFrame()->maxX(), 800);
    EXPECT_GE(other->openFrame()->minY(), 0);
    other->cancelTracking();
    EXPECT_EQ(Menu::openMenu(server), nullptr);
}

TEST_F(MenuTest, PointerOpensSubmenusAndChoosesRows) {
    auto main = mainMenu();
    main->popUp(server, {10, 590});
    server.movePointer(centreOfItem(*main, 0));
    auto app = main->itemAt(0)->submenu();
    ASSERT_TRUE(app->isOpen());
    EXPECT_EQ(app->supermenu(), main.get());

    // A click on the separator keeps everything open; a row chooses.
    server.pressLeft(centreOfItem(*app, 1));
    server.releaseLeft(centreOfItem(*app, 1));
    EXPECT_TRUE(app->isOpen());
    const Point quit = centreOfItem(*app, 2);
    server.movePointer(quit);
    EXPECT_EQ(app->highlightedIndex(), 2u);
    server.pressLeft(quit);
    server.releaseLeft(quit);
    EXPECT_EQ(chosen, std::vector<std::string>{"Quit Mossbridge"});
    EXPECT_FALSE(app->isOpen());
    EXPECT_FALSE(main->isOpen());
}

TEST_F(MenuTest, PopUpInAViewNeedsAWindowAndNoPositioningItem) {
    auto menu = Menu::make();
    menu->addItem("One", [](MenuItem&) {});
    auto view = std::make_shared<View>(Rect{0, 0, 50, 50});
    EXPECT_FALSE(menu->popUp(nullptr, {10, 10}, *view));
    auto panel = Panel::make(server, {200, 200, 50, 50});
    panel->setContentView(view);
    EXPECT_FALSE(menu->popUp(menu->itemAt(0), {10, 10}, *view));
    EXPECT_TRUE(menu->popUp(nullptr, {10, 40}, *view));
    EXPECT_EQ(menu->openFrame()->minX(), 210);
    EXPECT_EQ(menu->openFrame()->maxY(), 240);
}

}  // namespace
}  // namespace platform
