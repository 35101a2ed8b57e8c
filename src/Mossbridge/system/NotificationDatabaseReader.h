#pragma once
// Reads the notifications the notification centre delivered, from its
// SQLite database: the folder the user chose (a bookmark in user defaults)
// or else the default locations in order. A database that cannot be read in
// place is copied to the temporary folder (readable by the user only),
// queried there and the copy removed. Nothing is ever written to the
// user's database. Runs on the status refresher's executor.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Mossbridge/system/NotificationDatabaseQuery.h"
#include "platform/core/UserDefaults.h"
#include "platform/desktop/Workspace.h"

namespace Mossbridge {

// Standard user defaults key of the chosen folder's bookmark data.
inline constexpr const char* kNotificationDatabaseFolderBookmarkKey = "Mossbridge.NotificationDatabaseFolderBookmark";

// Where the notification centre keeps its database, in the order tried,
// without repeats; built once per process.
const std::vector<std::filesystem::path>& notificationDatabaseCandidates();

// Names from the workspace's installed applications: "CFBundleDisplayName",
// else "CFBundleName", else the bundle's file name without its extension.
AppDisplayNameLookup workspaceAppDisplayName(std::shared_ptr<const platform::Workspace> workspace);

// Where the settings window's folder chooser starts.
const std::filesystem::path& defaultNotificationDatabaseFolderURL();

// The folder the user chose, or none. A stale bookmark is renewed in place;
// one that cannot be resolved or renewed is printed and removed.
std::optional<std::filesystem::path> resolveNotificationDatabaseFolderBookmark(platform::UserDefaults& defaults);

class NotificationDatabaseReader {
public:
    struct Options {
        std::shared_ptr<platform::UserDefaults> defaults;  // null: the standard defaults
        std::optional<std::vector<std::filesystem::path>> candidates;  // none: the current user's
        std::optional<std::filesystem::path> temporaryFolder;  // none: platform::temporaryDirectory()
        AppDisplayNameLookup appDisplayName;  // null: every identifier is its own name
    };

    NotificationDatabaseReader();
    explicit NotificationDatabaseReader(Options options);

    // Items per target, or an error text when every readable database failed.
    NotificationQueryResult readNotificationItems(const std::vector<AppStatusTarget>& targets) const;

private:
    NotificationQueryResult readNotificationDatabase(const std::vector<std::filesystem::path>& candidates,
                                                     const std::vector<AppStatusTarget>& targets) const;

    Options options_;
};

}  // namespace Mossbridge
