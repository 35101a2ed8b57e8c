// Pictures of the speech bubbles and the window-preview panel, each compared
// with its reference in snapshots/bubble/ and written for a person to look at
// (SnapshotSupport.h):
//   <build>/bubble-snapshots/<mode>.png   (one bubble panel each)
//   <build>/bubble-snapshots/previews.png (the preview panel)
//   <build>/bubble-snapshots/desktop.png  (a bubble and the previews on screen)
// Run: Mossbridge_tests --gtest_filter='BubbleSnapshots*'.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "CompanionPanelFixture.h"
#include "SnapshotSupport.h"
#include "Mossbridge/pets/SpeechBubbleWindow.h"
#include "Mossbridge/pets/WindowPreviewPanel.h"
#include "platform/drawing/CairoCanvas.h"
#include "platform/drawing/Panel.h"

namespace Mossbridge {
namespace {

class BubbleSnapshots : public testing::CompanionPanelTest {
protected:
    static constexpr platform::Rect pet{600, 300, 92, 104};

    static int inkedPixels(const platform::Bitmap& bitmap) { return testing::inkedPixels(bitmap); }
    void checkPanel(const platform::Panel& panel, const std::string& name) {
        const auto bitmap = panel.render();
        ASSERT_TRUE(bitmap);
        EXPECT_GT(inkedPixels(*bitmap), bitmap->width() * bitmap->height() / 3) << name;
        EXPECT_TRUE(testing::matchesReference(*bitmap, "bubble", name));
    }
    // A window thumbnail: a title bar over a light page.
    static platform::ImageRef thumbnail(platform::Color tint) {
        platform::CairoCanvas canvas({160, 100}, 1);
        canvas.setFillColor({0.97, 0.97, 0.97, 1});
        canvas.fillPath(platform::Path::rectangle({0, 0, 160, 100}));
        canvas.setFillColor(tint);
        canvas.fillPath(platform::Path::rectangle({0, 84, 160, 16}));
        return std::make_shared<platform::Image>(canvas.finish(), platform::Size{160, 100});
    }

    std::shared_ptr<SpeechBubbleWindow> bubble = SpeechBubbleWindow::make(server, dispatcher);
};

TEST_F(BubbleSnapshots, EveryBubbleMode) {
    const double now = dispatcher.clock().now();
    AppNotificationItem mail{41, "Anna Berg", "Lunch on Friday?", "Shall we try the new place by the river? I can book a table for noon.", now - 300};
    AppNotificationItem build{42, "Build finished", std::nullopt, "All 812 tests passed.", now - 7200};
    AppNotificationItem untitled{43, "", std::nullopt, "Your download is ready.", now - 86400 * 2};
    MediaPlaybackInfo player{"com.example.tunes", "Tunes", MediaPlaybackState::playing, "Harbour Lights", "The Quiet Ones", "Night Ferry"};
    CalendarEventInfo event{"Design review: companion panels", now + 600, now + 2400, "Work", "Room 4", false};

    bubble->showMessage("I could not bring Notes forward: it is not running.", pet);
    dispatcher.advance(1.5);  // typed in completely
    checkPanel(bubble->panel(), "message");
    bubble->showNotificationSpeech(mail, pet);
    dispatcher.advance(2);
    checkPanel(bubble->panel(), "notification-speech");
    bubble->present(SpeechBubbleWindow::Mode::notifications({mail, build, untitled}), pet);
    checkPanel(bubble->panel(), "notifications");
    bubble->showMediaPlayer(player, pet);
    checkPanel(bubble->panel(), "media-player");
    bubble->showCalendarEvent(event, pet);
    checkPanel(bubble->panel(), "calendar-event");
    bubble->showCalendarEvent(event, {600, 780, 92, 104});
    checkPanel(bubble->panel(), "calendar-event-below");
}

TEST_F(BubbleSnapshots, ThePreviewPanelAndTheDesktop) {
    auto preview = WindowPreviewPanel::make(server, dispatcher);
    preview->show({{0, "Quarterly report.txt", thumbnail({0.35, 0.55, 0.9, 1})},
                   {2, "Shopping list", thumbnail({0.9, 0.6, 0.3, 1})},
                   {5, "Window without a picture", nullptr}},
                  pet, std::nullopt);
    dispatcher.advance(0.12);
    server.movePointer({preview->panel().frame().minX() + 90, preview->panel().frame().midY()});
    checkPanel(preview->panel(), "previews");

    MediaPlaybackInfo player{"com.example.tunes", "Tunes", MediaPlaybackState::paused, "Harbour Lights", "The Quiet Ones", std::nullopt};
    bubble->showMediaPlayer(player, pet);
    dispatcher.advance(0.12);
    preview->show({{0, "Quarterly report.txt", thumbnail({0.35, 0.55, 0.9, 1})}}, pet, bubble->panel().frame());
    dispatcher.advance(0.12);
    EXPECT_GE(preview->panel().frame().minY(), bubble->panel().frame().maxY());
    const auto screen = server.renderScreen();
    ASSERT_TRUE(screen);
    EXPECT_TRUE(testing::matchesReference(*screen, "bubble", "desktop"));
}

}  // namespace
}  // namespace Mossbridge
