#include "Mossbridge/settings/SettingsViewController.h"

#include "Mossbridge/model/DiagnosticLine.h"
#include "Mossbridge/settings/SettingsView.h"
#include "Mossbridge/system/AppStatusService.h"
#include "Mossbridge/system/NotificationDatabaseReader.h"
#include "platform/core/Bookmark.h"
#include "platform/drawing/Panel.h"

namespace Mossbridge {

namespace {

std::string grantedText(bool granted) { return granted ? "Granted" : "Not granted"; }

std::string calendarText(const std::shared_ptr<platform::CalendarStore>& store) {
    if (!store) return "Unavailable";
    switch (store->authorizationStatus()) {
        case platform::CalendarAuthorizationStatus::notDetermined: return "Not requested";
        case platform::CalendarAuthorizationStatus::restricted: return "Restricted";
        case platform::CalendarAuthorizationStatus::denied: return "Denied";
        case platform::CalendarAuthorizationStatus::fullAccess: return "Granted";
        case platform::CalendarAuthorizationStatus::writeOnly: return "Write only";
    }
    return "Unknown";
}

SettingsView& settingsView(const std::shared_ptr<platform::View>& view) { return static_cast<SettingsView&>(*view); }

}  // namespace

std::shared_ptr<SettingsViewController> SettingsViewController::create(std::shared_ptr<AssignmentStore> store,
                                                                       std::shared_ptr<RunningAppService> runningApps,
                                                                       Environment environment) {
    std::shared_ptr<SettingsViewController> controller(
        new SettingsViewController(std::move(store), std::move(runningApps), std::move(environment)));
    controller->reloadAssignments();
    controller->buildApplicationPopup();
    controller->refreshPermissionRows();
    // While shown, the pet list follows every change of the store: pets
    // attached by the refresh cycle, removed from a pet's menu, given another
    // kind. A closed window's controller is left as it was.
    std::weak_ptr<SettingsViewController> weakController = controller;
    controller->store_->observeAssignments(controller, [weakController] {
        if (const auto self = weakController.lock(); self && self->isViewVisible()) self->reloadAssignments();
    });
    return controller;
}

SettingsViewController::SettingsViewController(std::shared_ptr<AssignmentStore> store,
                                               std::shared_ptr<RunningAppService> runningApps,
                                               Environment environment)
    : store_(std::move(store)),
      runningApps_(std::move(runningApps)),
      environment_(std::move(environment)),
      view_(std::make_shared<SettingsView>(platform::Rect(0, 0, contentWidth, contentHeight))) {}

bool SettingsViewController::isViewVisible() const {
    const platform::Panel* window = view_->window();
    return window && window->isVisible();
}

platform::UserDefaults& SettingsViewController::defaults() const {
    return environment_.defaults ? *environment_.defaults : *platform::UserDefaults::standard();
}

void SettingsViewController::reloadAssignments() {
    std::vector<std::string> rows;
    std::vector<SettingsContent::Pet> pets;
    for (const AppAssignment& assignment : store_->assignments) {
        std::string text = assignment.appName + " - " + std::string(rawValue(assignment.petKind)) + " (" +
                            std::string(rawValue(assignment.category)) + ")";
        rows.push_back(text);
        pets.push_back({assignment.petKind, std::move(text)});
    }
    // A row names the kind too, so equal rows show the same: a moved or
    // resized pet changes nothing here.
    if (rows == assignmentRows_) return;
    assignmentRows_ = std::move(rows);
    SettingsContent content = settingsView(view_).content();
    content.pets = std::move(pets);
    settingsView(view_).setContent(std::move(content));
}

void SettingsViewController::buildApplicationPopup() {
    popupItems_.clear();
    popupBundleIdentifiers_.clear();
    for (const RunningApp& app : runningApps_->apps()) {
        popupItems_.push_back(app.name);
        popupBundleIdentifiers_.push_back(app.bundleIdentifier);
    }
    ++popupBuilds_;
    SettingsContent content = settingsView(view_).content();
    content.applications = popupItems_;
    settingsView(view_).setContent(std::move(content));
}

void SettingsViewController::refreshPermissionRows() {
    const auto& env = environment_;
    permissionRows_ = {
        {"Accessibility", grantedText(env.accessibility && env.accessibility->isProcessTrusted())},
        {"Screen Recording", grantedText(env.windowList && env.windowList->preflightScreenCaptureAccess())},
        {"Calendars", calendarText(env.calendarStore)},
        {"Notification data", AppStatusService::notificationDatabaseFolderStatus()},
    };
    SettingsContent content = settingsView(view_).content();
    content.permissions.clear();
    for (const auto& row : permissionRows_) content.permissions.push_back({row.name, row.status});
    settingsView(view_).setContent(std::move(content));
}

void SettingsViewController::refreshLiveState() {
    if (!isViewVisible()) return;
    refreshPermissionRows();
    std::vector<std::string> running;
    for (const RunningApp& app : runningApps_->apps()) running.push_back(app.bundleIdentifier);
    if (running != popupBundleIdentifiers_) buildApplicationPopup();
}

void SettingsViewController::storeNotificationDatabaseBookmark(const std::filesystem::path& folder) {
    std::string error;
    const auto bookmark = platform::createBookmarkData(folder, error);
    if (!bookmark) {
        printDiagnosticLine("Notification DB folder bookmark failed: " + error);
        return;
    }
    if (!defaults().set(kNotificationDatabaseFolderBookmarkKey, *bookmark)) {
        printDiagnosticLine("Notification DB folder bookmark could not be saved");
    }
    refreshPermissionRows();
}

void SettingsViewController::requestCalendarAccess() {
    if (!environment_.calendarStore) return;
    std::weak_ptr<SettingsViewController> weakSelf = weak_from_this();
    const platform::QueueRef mainQueue = environment_.mainQueue;
    // The answer may come on any thread; it is handled on the main queue.
    environment_.calendarStore->requestFullAccessToEvents([weakSelf, mainQueue](bool, const auto&) {
        const auto finish = [weakSelf] {
            const auto self = weakSelf.lock();
            if (!self) return;
            self->refreshPermissionRows();
            if (self->onChanged) self->onChanged();
        };
        if (mainQueue) mainQueue->async(finish);
        else finish();
    });
}

void SettingsViewController::setPetSizeScale(double scale) {
    if (!store_->setPetSizeScale(scale)) return;
    if (onLivePreferencesChanged) onLivePreferencesChanged();
}

void SettingsViewController::setDisplayBadges(bool displayBadges) {
    store_->preferences.displayBadges = displayBadges;
    store_->savePreferences();
    if (onLivePreferencesChanged) onLivePreferencesChanged();
}

}  // namespace Mossbridge
