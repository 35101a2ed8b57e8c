// Construction, start, menus, the settings window and the callbacks of the
// monitors and the pet controller.

#include "Mossbridge/app/MossbridgeCoordinator.h"

#include <cmath>

#include "Mossbridge/model/DiagnosticLine.h"
#include "Mossbridge/model/PerformanceLog.h"
#include "Mossbridge/system/AppleScriptRunner.h"
#include "platform/drawing/SymbolImages.h"

namespace Mossbridge {

namespace {

double millisecondsSince(const platform::Clock& clock, std::uint64_t start) {
    return static_cast<double>(clock.monotonicNanos() - start) / 1e6;
}

std::shared_ptr<platform::UserDefaults> standardIfNull(std::shared_ptr<platform::UserDefaults> defaults) {
    return defaults ? std::move(defaults) : platform::UserDefaults::standard();
}

RunningAppService::ScriptRunner scriptRunner(RunningAppService::ScriptRunner runner) {
    if (runner) return runner;
    return [](const std::string& script) { return runAppleScript(script); };
}

}  // namespace

std::shared_ptr<MossbridgeCoordinator> MossbridgeCoordinator::create(CoordinatorEnvironment environment) {
    return std::shared_ptr<MossbridgeCoordinator>(new MossbridgeCoordinator(std::move(environment)));
}

MossbridgeCoordinator::MossbridgeCoordinator(CoordinatorEnvironment environment)
    : environment_(std::move(environment)),
      mainQueue_(environment_.dispatcher->mainQueue()),
      clock_(environment_.dispatcher->clock()) {
    environment_.defaults = standardIfNull(std::move(environment_.defaults));
    environment_.runScript = scriptRunner(std::move(environment_.runScript));
    platform::WindowServer* server = environment_.windowServer;

    // The main screen is the first.
    store_ = AssignmentStore::create(environment_.defaults, mainQueue_, [server] {
        std::vector<platform::Rect> frames;
        for (const platform::Screen& screen : server->screens()) frames.push_back(screen.visibleFrame);
        return frames;
    });
    runningApps_ = RunningAppService::create({environment_.workspace, environment_.accessibility,
                                              environment_.windowList, environment_.runScript, mainQueue_, &clock_});
    statusRefresher_ = BackgroundStatusRefresher::create(
        *environment_.dispatcher,
        std::make_unique<AppStatusService>(environment_.statusSources, clock_, environment_.defaults));
    mediaPlaybackMonitor_ = std::make_unique<MediaPlaybackMonitor>(
        *environment_.dispatcher, *environment_.distributedCenter,
        [runScript = environment_.runScript](const std::string& script) { return runScript(script); });
    calendarEventMonitor_ = std::make_unique<CalendarEventMonitor>(
        *environment_.dispatcher, environment_.calendarStore, *environment_.calendarCenter, environment_.workspace);
    statusItem_ = environment_.application->menuBar().statusItem(platform::StatusItem::variableLength);
    statusMenu_ = platform::Menu::make();
    petController_ = PetController::create(store_, runningApps_,
                                           {environment_.windowServer, environment_.dispatcher,
                                            environment_.accessibility});
}

MossbridgeCoordinator::~MossbridgeCoordinator() = default;

platform::MenuItem::Action MossbridgeCoordinator::action(void (MossbridgeCoordinator::*member)()) {
    std::weak_ptr<MossbridgeCoordinator> weakSelf = weak_from_this();
    return [weakSelf, member](platform::MenuItem&) {
        if (const auto self = weakSelf.lock()) ((*self).*member)();
    };
}

void MossbridgeCoordinator::stop() {
    if (timer_) timer_->cancel();
}

void MossbridgeCoordinator::start() {
    if (started_) return;
    started_ = true;
    installMainMenu();
    configureStatusItem();
    showSettings();

    std::weak_ptr<MossbridgeCoordinator> weakSelf = weak_from_this();
    mediaPlaybackMonitor_->onPlaybackChanged = [weakSelf](const MediaPlaybackInfo& info) {
        if (const auto self = weakSelf.lock()) self->handleMediaPlaybackChanged(info);
    };
    calendarEventMonitor_->onEventChanged = [weakSelf](const std::optional<CalendarEventInfo>& event) {
        if (const auto self = weakSelf.lock()) self->handleCalendarEventChanged(event);
    };
    petController_->onMediaCommandRequested = [weakSelf](const std::string& bundleIdentifier,
                                                         MediaPlaybackCommand command) {
        const auto self = weakSelf.lock();
        if (!self) return;
        // What the player answers is not examined: the bubble shows the
        // player's record, whatever happened.
        self->mediaPlaybackMonitor_->sendCommand(command, bundleIdentifier);
        self->petController_->showMediaPlayback(bundleIdentifier);
    };
    petController_->onCalendarCommandRequested = [weakSelf](CalendarEventCommand) {
        if (const auto self = weakSelf.lock()) self->calendarEventMonitor_->openCalendarApp();
    };
    petController_->onNotificationsClearRequested = [weakSelf](const std::string& bundleIdentifier,
                                                               std::int64_t recordID) {
        if (const auto self = weakSelf.lock()) self->handleNotificationsClearRequest(bundleIdentifier, recordID);
    };

    mediaPlaybackMonitor_->start();
    logPerformanceMark("app.start");
    refresh();
    timer_ = mainQueue_->scheduleTimer(refreshInterval, refreshTolerance, true, [weakSelf] {
        if (const auto self = weakSelf.lock()) self->scheduleTimerRefresh();
    });
}

void MossbridgeCoordinator::scheduleTimerRefresh() {
    // The fire only queues the pass, so no refresh runs inside the timer.
    std::weak_ptr<MossbridgeCoordinator> weakSelf = weak_from_this();
    mainQueue_->async([weakSelf] {
        if (const auto self = weakSelf.lock()) self->refresh();
    });
}

void MossbridgeCoordinator::installMainMenu() {
    const auto mainMenu = platform::Menu::make();
    const auto applicationMenu = platform::Menu::make("Mossbridge");
    applicationMenu->addItem("Settings...", action(&MossbridgeCoordinator::showSettingsFromMenu), ",");
    applicationMenu->addSeparator();
    applicationMenu->addItem("Quit Mossbridge", action(&MossbridgeCoordinator::quit), "q");
    mainMenu->addItem("").setSubmenu(applicationMenu);
    environment_.application->setMainMenu(mainMenu);
}

void MossbridgeCoordinator::configureStatusItem() {
    auto& button = statusItem_->button();
    button.title = " Mossbridge";
    button.image = platform::symbolImage("pawprint.fill");
    button.accessibilityDescription = "Mossbridge";
    statusMenu_->removeAllItems();
    statusMenu_->addItem("Settings...", action(&MossbridgeCoordinator::showSettingsFromMenu));
    statusMenu_->addItem("Refresh Apps", action(&MossbridgeCoordinator::refreshFromMenu));
    statusMenu_->addSeparator();
    statusMenu_->addItem("Quit Mossbridge", action(&MossbridgeCoordinator::quit));
    statusItem_->menu = statusMenu_;
}

void MossbridgeCoordinator::bringSettingsForward() {
    environment_.application->activate(true);
    settingsWindow_->orderFrontRegardless();
    settingsWindow_->makeKeyAndOrderFront();
}

void MossbridgeCoordinator::showSettings() {
    if (settingsWindow_) {
        bringSettingsForward();
        return;
    }
    const auto controller = SettingsViewController::create(
        store_, runningApps_,
        {environment_.accessibility, environment_.windowList, environment_.calendarStore, environment_.defaults,
         mainQueue_});
    std::weak_ptr<MossbridgeCoordinator> weakSelf = weak_from_this();
    controller->onChanged = [weakSelf] {
        if (const auto self = weakSelf.lock()) self->refresh();
    };
    controller->onLivePreferencesChanged = [weakSelf] {
        if (const auto self = weakSelf.lock()) self->syncPetsWithLivePreferences();
    };

    using namespace platform::WindowStyleMask;
    const auto window = platform::Window::make(*environment_.windowServer,
                                               {SettingsViewController::contentWidth,
                                                SettingsViewController::contentHeight},
                                               titled | closable | miniaturizable | resizable);
    window->title = "Mossbridge";
    window->setContentView(controller->view());
    window->center();
    window->onWillClose = [weakSelf](platform::Window& closing) {
        if (const auto self = weakSelf.lock()) self->windowWillClose(&closing);
    };
    settingsWindow_ = window;
    settingsViewController_ = controller;
    bringSettingsForward();
}

void MossbridgeCoordinator::showSettingsFromMenu() {
    printDiagnosticLine("Settings selected");
    showSettings();
}

void MossbridgeCoordinator::refreshFromMenu() {
    refresh();
    if (settingsWindow_ && settingsViewController_) settingsViewController_->reloadAssignments();
}

void MossbridgeCoordinator::quit() { environment_.application->terminate(); }

void MossbridgeCoordinator::windowWillClose(const platform::Window* window) {
    if (window != settingsWindow_.get()) return;
    settingsWindow_.reset();
    settingsViewController_.reset();
}

void MossbridgeCoordinator::handleMediaPlaybackChanged(const MediaPlaybackInfo& info) {
    std::optional<MediaPlaybackInfo> previous;
    if (const auto found = latestMediaPlayback_.find(info.bundleIdentifier); found != latestMediaPlayback_.end()) {
        previous = found->second;
    }
    latestMediaPlayback_[info.bundleIdentifier] = info;
    latestStatuses_ = mergeLiveInfo(std::move(latestStatuses_));
    petController_->sync(latestStatuses_);
    if (isSignificantMediaChange(previous, info)) petController_->showMediaPlayback(info.bundleIdentifier);
}

bool MossbridgeCoordinator::isSignificantMediaChange(const std::optional<MediaPlaybackInfo>& previous,
                                                     const MediaPlaybackInfo& info) {
    if (info.state != MediaPlaybackState::playing) return false;
    if (!previous || previous->state != MediaPlaybackState::playing) return true;
    return previous->title != info.title || previous->artist != info.artist || previous->album != info.album;
}

void MossbridgeCoordinator::handleCalendarEventChanged(const std::optional<CalendarEventInfo>& event) {
    const std::optional<CalendarEventInfo> previous = latestCalendarEvent_;
    latestCalendarEvent_ = event;
    latestStatuses_ = mergeLiveInfo(std::move(latestStatuses_));
    petController_->sync(latestStatuses_);
    if (isSignificantCalendarChange(previous, event, clock_.now())) petController_->showCalendarEvents();
}

bool MossbridgeCoordinator::isSignificantCalendarChange(const std::optional<CalendarEventInfo>& previous,
                                                        const std::optional<CalendarEventInfo>& event, double now) {
    if (!event) return false;
    const bool inProgress = event->startDate <= now && event->endDate > now;
    if (!inProgress && std::ceil((event->startDate - now) / 60.0) > 10) return false;
    if (!previous) return true;
    if (previous->title != event->title) return true;
    return previous->startDate != event->startDate || previous->endDate != event->endDate;
}

void MossbridgeCoordinator::handleNotificationsClearRequest(const std::string& bundleIdentifier,
                                                            std::int64_t recordID) {
    AppStatus status = AppStatus::empty;
    if (const auto found = latestStatuses_.find(bundleIdentifier); found != latestStatuses_.end()) {
        status = found->second;
    }
    std::erase_if(status.notifications, [&](const AppNotificationItem& item) { return item.recordID <= recordID; });
    if (status.newNotification && status.newNotification->recordID <= recordID) status.newNotification.reset();
    latestStatuses_[bundleIdentifier] = std::move(status);
    petController_->sync(latestStatuses_);

    std::weak_ptr<MossbridgeCoordinator> weakSelf = weak_from_this();
    const platform::QueueRef mainQueue = mainQueue_;
    mainQueue_->async([weakSelf, mainQueue, bundleIdentifier, recordID] {
        const auto self = weakSelf.lock();
        if (!self) return;
        self->statusRefresher_->clearNotifications(bundleIdentifier, recordID, [weakSelf, mainQueue](AppStatusMap statuses) {
            mainQueue->async([weakSelf, statuses = std::move(statuses)]() mutable {
                const auto self = weakSelf.lock();
                if (!self) return;
                self->latestStatuses_ = self->mergeLiveInfo(std::move(statuses));
                self->petController_->sync(self->latestStatuses_);
            });
        });
    });
}

void MossbridgeCoordinator::syncPetsWithLivePreferences() {
    const std::uint64_t start = clock_.monotonicNanos();
    petController_->sync(latestStatuses_);
    const double milliseconds = millisecondsSince(clock_, start);
    if (milliseconds >= slowStepMilliseconds) {
        logPerformanceDuration("refresh.syncPets.livePreferences", milliseconds, countsDetails());
    }
}

std::string MossbridgeCoordinator::countsDetails() const {
    return "apps=" + std::to_string(runningApps_->apps().size()) +
           " statuses=" + std::to_string(latestStatuses_.size());
}

}  // namespace Mossbridge
