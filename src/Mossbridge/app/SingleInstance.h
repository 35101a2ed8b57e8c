#pragma once
// One running application per set of user folders: two processes on the same
// defaults, data or caches would rebuild each other's files and upload the
// same queued events twice. The first launch holds a lock ("instance.lock")
// in each of its data, configuration and cache folders for its whole life; a
// later one that shares any of them leaves every file as it was.

namespace Mossbridge {

// Takes the locks, in the order data, configuration, cache, before any file
// of the user is read or written. False, after one line naming the running
// instance and the lock it holds, when another process holds any of them: the
// launch then ends with status 0, the locks it had taken given up unwritten.
// A lock held without its holder's ID (a launch still taking its locks, or
// one looking at them) is tried again, with nothing held meanwhile, for a
// quarter of a second before it ends the launch: of launches that start
// together on shared folders, one runs and the others name it.
// A lock that cannot be taken at all (a folder that cannot be written) is
// reported in one line and the run goes on without it.
[[nodiscard]] bool claimUserFolders();

}  // namespace Mossbridge
