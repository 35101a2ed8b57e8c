#include "platform/drawing/WindowServer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/drawing/Panel.h"

namespace platform {
namespace {

// Records the events it receives and fills itself with one colour.
class ProbeView : public View {
public:
    ProbeView(const Rect& frame, Color color) : View(frame), color_(color) {}
    std::vector<std::string> log;
    std::vector<PointerEvent> events;

    void draw(Canvas& canvas, const Rect&) override {
        canvas.setFillColor(color_);
        canvas.fillPath(Path::rectangle(bounds()));
    }
    void mouseDown(const PointerEvent& e) override { note("down", e); }
    void mouseDragged(const PointerEvent& e) override { note("drag", e); }
    void mouseUp(const PointerEvent& e) override { note("up", e); }
    void rightMouseDown(const PointerEvent& e) override { note("right", e); }
    void mouseMoved(const PointerEvent& e) override { note("moved", e); }
    void mouseEntered(const PointerEvent& e) override { note("entered", e); }
    void mouseExited(const PointerEvent& e) override { note("exited", e); }
    void viewDidMoveToWindow() override { log.push_back(window() ? "window" : "no-window"); }

private:
    void note(const char* what, const PointerEvent& e) {
        log.push_back(what);
        events.push_back(e);
    }
    Color color_;
};

struct Desktop : ::testing::Test {
    WindowServer server{{Screen{{0, 0, 200, 100}, {0, 0, 200, 90}, 1}}};
    std::shared_ptr<Panel> makePanel(const Rect& frame, Color color, std::shared_ptr<ProbeView>* view = nullptr) {
        auto panel = Panel::make(server, frame);
        auto content = std::make_shared<ProbeView>(Rect{}, color);
        panel->setContentView(content);
        panel->orderFront();
        if (view) *view = content;
        return panel;
    }
};

TEST_F(Desktop, PressDragReleaseGoToThePressedViewWithWindowLocationsAndDeltas) {
    std::shared_ptr<ProbeView> view;
    auto panel = makePanel({50, 20, 40, 40}, {1, 0, 0, 1}, &view);
    server.pressLeft({60, 30});
    server.dragLeft({150, 10});  // far outside the panel: still the pressed view's
    server.releaseLeft({151, 12});
    EXPECT_EQ(view->log, (std::vector<std::string>{"window", "down", "drag", "up"}));
    EXPECT_EQ(view->events[0].locationInWindow, (Point{10, 10}));
    EXPECT_DOUBLE_EQ(view->events[1].deltaX, 90);
    EXPECT_DOUBLE_EQ(view->events[1].deltaY, 20);  // moved down
    EXPECT_EQ(server.mouseLocation(), (Point{151, 12}));
}

TEST_F(Desktop, PressesGoToTheFrontmostPanelUnderThePointer) {
    std::shared_ptr<ProbeView> back, front;
    auto a = makePanel({0, 0, 100, 100}, {1, 0, 0, 1}, &back);
    auto b = makePanel({50, 0, 100, 100}, {0, 1, 0, 1}, &front);
    server.pressRight({75, 50});
    server.pressLeft({10, 50});
    EXPECT_EQ(front->log.back(), "right");
    EXPECT_EQ(back->log.back(), "down");
    a->orderFront();
    server.pressRight({75, 50});
    EXPECT_EQ(back->log.back(), "right");
    b->orderOut();
    server.pressLeft({140, 50});  // only the hidden panel was there
    EXPECT_EQ(front->log.back(), "right");
}

TEST_F(Desktop, TrackingAreasReportEnterMoveAndExit) {
    std::shared_ptr<ProbeView> view;
    auto panel = makePanel({50, 20, 40, 40}, {1, 0, 0, 1}, &view);
    view->addTrackingArea({{}, TrackingOptions::mouseEnteredAndExited | TrackingOptions::mouseMoved |
                                   TrackingOptions::activeAlways | TrackingOptions::inVisibleRect});
    view->log.clear();
    server.movePointer({10, 10});
    server.movePointer({60, 30});
    server.movePointer({61, 31});
    server.movePointer({120, 30});
    EXPECT_EQ(view->log, (std::vector<std::string>{"entered", "moved", "moved", "exited"}));
}

TEST_F(Desktop, ScreenRenderingPlacesPanelsBottomUpWithTheirAlpha) {
    auto panel = makePanel({0, 0, 20, 10}, {1, 0, 0, 1});
    auto faded = makePanel({100, 50, 20, 10}, {0, 0, 1, 1});
    faded->alphaValue = 0;
    const auto screen = server.renderScreen();
    ASSERT_TRUE(screen);
    ASSERT_EQ(screen->width(), 200);
    const auto bottomLeft = pixelComponents(screen->pixel(5, 95));
    EXPECT_EQ(bottomLeft.red, 255);
    const auto desktop = pixelComponents(screen->pixel(5, 5));
    EXPECT_LT(desktop.red, 200);
    EXPECT_EQ(pixelComponents(screen->pixel(110, 45)), desktop);  // the faded panel shows nothing
    EXPECT_FALSE(server.renderScreen(3));
}

TEST_F(Desktop, PanelKnowsItsScreenScaleAndRendersAtIt) {
    server.setScreens({Screen{{0, 0, 200, 100}, {0, 0, 200, 100}, 1}, Screen{{200, 0, 200, 100}, {}, 2}});
    auto panel = makePanel({210, 10, 30, 20}, {0, 1, 0, 1});
    EXPECT_DOUBLE_EQ(panel->backingScaleFactor(), 2);
    const auto bitmap = panel->render();
    EXPECT_EQ(bitmap->width(), 60);
    EXPECT_EQ(bitmap->height(), 40);
    panel->setFrame({-500, -500, 10, 10}, true);  // off every screen: the main screen's
    EXPECT_DOUBLE_EQ(panel->backingScaleFactor(), 1);
}

TEST_F(Desktop, PanelRedrawsInItsOwnPixelsOnlyOnceTheLastPictureIsLetGo) {
    std::shared_ptr<ProbeView> view;
    auto panel = makePanel({0, 0, 20, 10}, {1, 0, 0, 1}, &view);
    BitmapRef red = panel->render();
    view->setHidden(true);
    BitmapRef empty = panel->render();  // `red` is still held: drawn elsewhere
    EXPECT_EQ(pixelComponents(red->pixel(5, 5)).red, 255);
    EXPECT_EQ(empty->pixel(5, 5), 0u);  // nothing left of the earlier picture
    const Bitmap* storage = empty.get();
    empty.reset();
    view->setHidden(false);
    const BitmapRef again = panel->render();
    EXPECT_EQ(again.get(), storage);
    EXPECT_EQ(pixelComponents(again->pixel(5, 5)).red, 255);
    EXPECT_EQ(pixelComponents(red->pixel(5, 5)).red, 255);
    panel->setFrame({0, 0, 30, 10}, true);
    EXPECT_EQ(panel->render()->width(), 30);
}

TEST_F(Desktop, FrameChangesResizeTheContentAndNotify) {
    std::shared_ptr<ProbeView> view;
    auto panel = makePanel({0, 0, 40, 40}, {1, 0, 0, 1}, &view);
    int changes = 0;
    panel->onFrameChange = [&] { ++changes; };
    panel->setFrame({5, 5, 60, 30}, true);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(view->frame(), (Rect{0, 0, 60, 30}));
    EXPECT_TRUE(view->needsDisplay());
}

// The screen's visible top is 90, below the menu bar; its frame's top is 100.
TEST_F(Desktop, APanelThatKeepsItsTopOnScreenStaysBelowTheVisibleTop) {
    const struct {
        Rect asked;
        Rect kept;
    } rows[] = {
        {{10, 20, 40, 75}, {10, 15, 40, 75}},   // top between the visible top and the screen's top
        {{10, 70, 40, 50}, {10, 40, 40, 50}},   // top above the screen
        {{10, 10, 40, 80}, {10, 10, 40, 80}},   // top exactly at the visible top
        {{10, -60, 40, 80}, {10, -60, 40, 80}},  // the bottom may run off
    };
    auto panel = makePanel({0, 0, 10, 10}, {1, 0, 0, 1});
    panel->setKeepsTopOnScreen(true);
    for (const auto& row : rows) {
        panel->setFrame(row.asked, true);
        EXPECT_EQ(panel->frame(), row.kept) << row.asked.maxY();
    }
}

TEST_F(Desktop, ServerForgetsPanelsThatAreGone) {
    auto kept = makePanel({0, 0, 10, 10}, {1, 0, 0, 1});
    { auto dropped = makePanel({0, 0, 10, 10}, {1, 0, 0, 1}); }
    EXPECT_EQ(server.panels().size(), 1u);
}

TEST_F(Desktop, DisplayLinkOnlyWhenTheDisplayOffersOne) {
    EXPECT_FALSE(server.createDisplayLinkWithActiveDisplays());
    server.setDisplayLinkAvailable(true);
    EXPECT_TRUE(server.createDisplayLinkWithActiveDisplays());
    server.setScreens({});
    EXPECT_FALSE(server.createDisplayLinkWithActiveDisplays());
}

TEST(ViewTree, HitTestFindsTheDeepestViewAndConvertsPoints) {
    auto root = std::make_shared<View>(Rect{0, 0, 100, 100});
    auto child = std::make_shared<View>(Rect{10, 10, 50, 50});
    auto grandchild = std::make_shared<View>(Rect{5, 5, 10, 10});
    root->addSubview(child);
    child->addSubview(grandchild);
    EXPECT_EQ(root->hitTest({17, 17}), grandchild.get());
    EXPECT_EQ(root->hitTest({40, 40}), child.get());
    EXPECT_EQ(root->hitTest({100, 50}), nullptr);
    EXPECT_EQ(grandchild->convertFromWindow({17, 18}), (Point{2, 3}));
    grandchild->setHidden(true);
    EXPECT_EQ(root->hitTest({17, 17}), child.get());
    child->removeFromSuperview();
    EXPECT_EQ(child->superview(), nullptr);
    EXPECT_TRUE(root->subviews().empty());
}

}  // namespace
}  // namespace platform
