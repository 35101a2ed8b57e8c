#pragma once
// One running application per set of user folders: two processes on the same
// defaults, data and caches would rebuild each other's files and upload the
// same queued events twice. The first launch holds a lock in the data folder
// ("instance.lock") for its whole life; a later one leaves every file as it was.

namespace Mossbridge {

// Takes the lock before any file of the user is read or written. False, after
// one line naming the running instance, when another process holds it: the
// launch then ends with status 0. A lock that cannot be taken at all (a
// folder that cannot be written) is reported in one line and the run goes on.
[[nodiscard]] bool claimUserFolders();

}  // namespace Mossbridge
