#pragma once
// MossbridgeCoordinator: the one object that owns every service and window
// of the application for the life of the process. It builds the main menu
// and the status item, opens the settings window, wires the monitors' and
// the pet controller's callbacks to itself, and runs the refresh cycle once
// at start and then every 2.0 s. It keeps the latest statuses, media
// playback and calendar event, merges them and hands them to the pets.
//
// Main thread only. Every callback it installs holds it weakly and does
// nothing once it is gone. Status gathering runs on the status refresher's
// queue; at most one status task is in flight at a time.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Mossbridge/app/BackgroundStatusRefresher.h"
#include "Mossbridge/model/AppStatus.h"
#include "Mossbridge/model/AssignmentStore.h"
#include "Mossbridge/pets/PetController.h"
#include "Mossbridge/settings/SettingsViewController.h"
#include "Mossbridge/system/AppStatusService.h"
#include "Mossbridge/system/CalendarEventMonitor.h"
#include "Mossbridge/system/MediaPlaybackMonitor.h"
#include "Mossbridge/system/RunningAppService.h"
#include "platform/core/Dispatch.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/UserDefaults.h"
#include "platform/desktop/Application.h"
#include "platform/desktop/CalendarStore.h"
#include "platform/drawing/Menu.h"
#include "platform/drawing/MenuBar.h"
#include "platform/drawing/Window.h"
#include "platform/drawing/WindowServer.h"

namespace Mossbridge {

// Everything the coordinator is built from; the pointers must outlive it.
struct CoordinatorEnvironment {
    platform::Dispatcher* dispatcher = nullptr;
    platform::WindowServer* windowServer = nullptr;
    platform::Application* application = nullptr;  // its menu bar carries the status item
    std::shared_ptr<platform::UserDefaults> defaults;  // null: the standard defaults
    std::shared_ptr<platform::Workspace> workspace;
    std::shared_ptr<platform::Accessibility> accessibility;
    std::shared_ptr<platform::DesktopWindowList> windowList;
    RunningAppService::ScriptRunner runScript;  // null: osascript
    platform::NotificationCenter* distributedCenter = nullptr;  // where players post
    std::shared_ptr<platform::CalendarStore> calendarStore;
    platform::NotificationCenter* calendarCenter = nullptr;  // where the store posts changes
    AppStatusService::Sources statusSources;                 // null members: the real sources
};

class MossbridgeCoordinator : public std::enable_shared_from_this<MossbridgeCoordinator> {
public:
    static constexpr double refreshInterval = 2.0;
    static constexpr double refreshTolerance = 0.4;
    static constexpr double settingsLiveUpdateInterval = 4.0;
    static constexpr double slowStepMilliseconds = 2.0;

    static std::shared_ptr<MossbridgeCoordinator> create(CoordinatorEnvironment environment);
    ~MossbridgeCoordinator();
    MossbridgeCoordinator(const MossbridgeCoordinator&) = delete;
    MossbridgeCoordinator& operator=(const MossbridgeCoordinator&) = delete;

    // Menus, status item, settings window, callbacks, the first refresh and
    // the 2.0 s timer; a second call does nothing.
    void start();
    // The end of the process: the refresh timer stops for good.
    void stop();

    // Menu actions.
    void showSettingsFromMenu();
    void refreshFromMenu();
    void quit();
    // The settings window's close notification.
    void windowWillClose(const platform::Window* window);

    // The refresh cycle.
    void refresh();
    void updateCalendarMonitoring();
    AppStatusMap mergeLiveInfo(AppStatusMap statuses) const;

    // Callbacks of the monitors and the pet controller.
    void handleMediaPlaybackChanged(const MediaPlaybackInfo& info);
    void handleCalendarEventChanged(const std::optional<CalendarEventInfo>& event);
    void handleNotificationsClearRequest(const std::string& bundleIdentifier, std::int64_t recordID);
    void syncPetsWithLivePreferences();

    static bool isSignificantMediaChange(const std::optional<MediaPlaybackInfo>& previous,
                                         const MediaPlaybackInfo& info);
    // `now`: wall-clock seconds.
    static bool isSignificantCalendarChange(const std::optional<CalendarEventInfo>& previous,
                                            const std::optional<CalendarEventInfo>& event, double now);

    // --- What it owns ---
    const std::shared_ptr<AssignmentStore>& store() const { return store_; }
    const std::shared_ptr<RunningAppService>& runningApps() const { return runningApps_; }
    const std::shared_ptr<BackgroundStatusRefresher>& statusRefresher() const { return statusRefresher_; }
    MediaPlaybackMonitor& mediaPlaybackMonitor() const { return *mediaPlaybackMonitor_; }
    CalendarEventMonitor& calendarEventMonitor() const { return *calendarEventMonitor_; }
    const std::shared_ptr<PetController>& petController() const { return petController_; }
    const std::shared_ptr<platform::StatusItem>& statusItem() const { return statusItem_; }
    const std::shared_ptr<platform::Menu>& statusMenu() const { return statusMenu_; }
    const std::shared_ptr<platform::Window>& settingsWindow() const { return settingsWindow_; }
    const std::shared_ptr<SettingsViewController>& settingsViewController() const { return settingsViewController_; }
    const platform::TimerRef& timer() const { return timer_; }
    const AppStatusMap& latestStatuses() const { return latestStatuses_; }
    const std::map<std::string, MediaPlaybackInfo>& latestMediaPlayback() const { return latestMediaPlayback_; }
    const std::optional<CalendarEventInfo>& latestCalendarEvent() const { return latestCalendarEvent_; }
    bool isStatusRefreshTaskInFlight() const { return statusRefreshTask_.has_value(); }

private:
    explicit MossbridgeCoordinator(CoordinatorEnvironment environment);

    void installMainMenu();
    void configureStatusItem();
    void showSettings();
    void bringSettingsForward();
    void scheduleTimerRefresh();
    void startStatusTask(std::vector<AppStatusTarget> targets);
    void applyStatuses(std::uint64_t task, std::optional<AppStatusMap> statuses);
    void settingsLiveUpdate();
    std::string countsDetails() const;
    // A menu action that reaches the coordinator only while it exists.
    platform::MenuItem::Action action(void (MossbridgeCoordinator::*member)());

    CoordinatorEnvironment environment_;
    platform::QueueRef mainQueue_;
    platform::Clock& clock_;

    std::shared_ptr<AssignmentStore> store_;
    std::shared_ptr<RunningAppService> runningApps_;
    std::shared_ptr<BackgroundStatusRefresher> statusRefresher_;
    std::unique_ptr<MediaPlaybackMonitor> mediaPlaybackMonitor_;
    std::unique_ptr<CalendarEventMonitor> calendarEventMonitor_;
    std::shared_ptr<platform::StatusItem> statusItem_;
    std::shared_ptr<platform::Menu> statusMenu_;
    std::shared_ptr<platform::Window> settingsWindow_;
    std::shared_ptr<SettingsViewController> settingsViewController_;
    platform::TimerRef timer_;
    // Monotonic nanoseconds of the last live update; none: never, which
    // counts as long ago. The monotonic clock keeps a wall-clock change from
    // stopping or bunching the updates.
    std::optional<std::uint64_t> lastSettingsReload_;
    AppStatusMap latestStatuses_;
    std::map<std::string, MediaPlaybackInfo> latestMediaPlayback_;
    std::optional<CalendarEventInfo> latestCalendarEvent_;
    // The status task in flight, by number.
    std::optional<std::uint64_t> statusRefreshTask_;
    std::uint64_t nextStatusTask_ = 1;
    std::shared_ptr<PetController> petController_;
    bool started_ = false;
};

}  // namespace Mossbridge
