#pragma once
// Temporary copies of a notification database (with its "-wal" and "-shm"
// companions), for when the database cannot be read in place. A copy is
// readable by the user only; a copy that fails part-way leaves nothing
// behind.

#include <filesystem>
#include <optional>

namespace Mossbridge {

// Copies `database` into `folder` under a new unique name; none (after
// printing why) when any file could not be copied.
[[nodiscard]]
std::optional<std::filesystem::path> copyNotificationDatabaseToTemporary(const std::filesystem::path& database,
                                                                         const std::filesystem::path& folder);

// Removes the copy and its companions; failures are ignored.
void removeTemporaryNotificationDatabase(const std::filesystem::path& copy);

}  // namespace Mossbridge
