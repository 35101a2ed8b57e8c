#pragma once
// Runs a child process to completion: an executable named by absolute path
// with its argument list (no shell, no PATH search), optional bytes fed to its
// standard input, and standard output and standard error captured as raw
// bytes. Both pipes are drained while waiting, so a child that writes more
// than a pipe buffer never stalls. A child still running at its deadline is
// sent SIGTERM (with its process group), then SIGKILL after a short grace,
// and is always reaped. Safe to call from several threads at once; the child
// inherits no descriptor but its three standard ones.

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

struct ProcessRequest {
    std::string executablePath;           // must be absolute
    std::vector<std::string> arguments;   // argv[1...]; argv[0] is the path
    std::optional<std::string> standardInput;  // none: the child reads /dev/null
    double timeoutSeconds = 10.0;         // measured from the launch; infinity waits for ever
    double terminationGraceSeconds = 0.1; // SIGTERM to SIGKILL after a time-out
};

enum class ProcessOutcome {
    FailedToStart,  // errorDescription says why; no child is left behind
    Exited,         // exitStatus holds the status the child passed to exit
    Signaled,       // terminatingSignal holds the signal that ended it
    TimedOut,       // ended by us at the deadline; output is what came before
};

struct [[nodiscard]] ProcessResult {
    ProcessOutcome outcome = ProcessOutcome::FailedToStart;
    int exitStatus = 0;
    int terminatingSignal = 0;
    std::string standardOutput;  // raw bytes, not necessarily UTF-8
    std::string standardError;   // raw bytes, not necessarily UTF-8
    std::string errorDescription;  // a sentence for logs when FailedToStart
    pid_t processIdentifier = 0;   // 0 when the child never started

    bool exitedSuccessfully() const { return outcome == ProcessOutcome::Exited && exitStatus == 0; }
    // The exit status, or the signal number for a child ended by a signal
    // (the single number callers log as "status").
    int terminationStatus() const;
};

// Blocks the calling thread until the child has ended and been reaped, at
// most about timeoutSeconds + terminationGraceSeconds.
ProcessResult runProcess(const ProcessRequest& request);

// Something that runs a request as runProcess does: runProcess itself, or a
// stand-in that answers for a tool the system lacks.
using ProcessRunner = std::function<ProcessResult(const ProcessRequest&)>;

}  // namespace platform
