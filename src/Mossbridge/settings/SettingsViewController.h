#pragma once
// The settings window's content: the assigned pets, the running applications
// that can be given one, the permissions the features need and where the
// notification data is read from. The coordinator owns the window around it
// and installs the two callbacks. Main thread only.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Mossbridge/model/AssignmentStore.h"
#include "Mossbridge/system/RunningAppService.h"
#include "platform/core/Dispatch.h"
#include "platform/core/UserDefaults.h"
#include "platform/desktop/Accessibility.h"
#include "platform/desktop/CalendarStore.h"
#include "platform/desktop/DesktopWindowList.h"
#include "platform/drawing/View.h"

namespace Mossbridge {

class SettingsViewController : public std::enable_shared_from_this<SettingsViewController> {
public:
    // Where the permission rows look; a missing service reads as not granted.
    struct Environment {
        std::shared_ptr<platform::Accessibility> accessibility;
        std::shared_ptr<platform::DesktopWindowList> windowList;
        std::shared_ptr<platform::CalendarStore> calendarStore;
        std::shared_ptr<platform::UserDefaults> defaults;  // null: the standard defaults
        platform::QueueRef mainQueue;                      // where the calendar answer is handled
    };

    struct PermissionRow {
        std::string name;
        std::string status;
        bool operator==(const PermissionRow&) const = default;
    };

    static constexpr double contentWidth = 640;
    static constexpr double contentHeight = 760;

    // Builds the views; the lists are filled at once.
    static std::shared_ptr<SettingsViewController> create(std::shared_ptr<AssignmentStore> store,
                                                          std::shared_ptr<RunningAppService> runningApps,
                                                          Environment environment);

    // Called when a calendar-access request started here has completed.
    std::function<void()> onChanged;
    // Called after a preference the pets show at once has changed.
    std::function<void()> onLivePreferencesChanged;

    const std::shared_ptr<platform::View>& view() const { return view_; }
    // The view is in a window that is on screen.
    bool isViewVisible() const;

    void reloadAssignments();
    // While visible: the permission rows afresh, and the application popup
    // when the running applications changed since it was built.
    void refreshLiveState();
    // Remembers the chosen notification-database folder; a folder that
    // cannot be bookmarked is reported on standard output and nothing is stored.
    void storeNotificationDatabaseBookmark(const std::filesystem::path& folder);
    void requestCalendarAccess();

    // Live preferences (each saves, then tells the owner).
    void setPetSizeScale(double scale);
    void setDisplayBadges(bool displayBadges);

    // What the window shows.
    const std::vector<std::string>& assignmentRows() const { return assignmentRows_; }
    const std::vector<std::string>& applicationPopupItems() const { return popupItems_; }
    const std::vector<PermissionRow>& permissionRows() const { return permissionRows_; }
    int applicationPopupBuildCount() const { return popupBuilds_; }

private:
    SettingsViewController(std::shared_ptr<AssignmentStore> store, std::shared_ptr<RunningAppService> runningApps,
                           Environment environment);
    void buildApplicationPopup();
    void refreshPermissionRows();
    platform::UserDefaults& defaults() const;

    std::shared_ptr<AssignmentStore> store_;
    std::shared_ptr<RunningAppService> runningApps_;
    Environment environment_;
    std::shared_ptr<platform::View> view_;
    std::vector<std::string> assignmentRows_;
    std::vector<std::string> popupItems_;
    std::vector<std::string> popupBundleIdentifiers_;
    std::vector<PermissionRow> permissionRows_;
    int popupBuilds_ = 0;
};

}  // namespace Mossbridge
