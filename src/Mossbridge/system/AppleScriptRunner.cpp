#include "Mossbridge/system/AppleScriptRunner.h"

#include <cstdio>

#include "Mossbridge/model/DiagnosticLine.h"
#include "Mossbridge/model/PerformanceLog.h"
#include "platform/core/Unicode.h"

namespace Mossbridge {

namespace {

// A logged run above this many milliseconds is worth a performance line.
constexpr double kSlowRunMilliseconds = 30.0;
// The interpreter is asked to end at the deadline; it gets this long before
// it is killed, so the caller is never held much past the time-out.
constexpr double kTerminationGraceSeconds = 0.05;

std::string formatted(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

// The bytes as trimmed text, or none when they are not UTF-8.
std::optional<std::string> trimmedText(const std::string& bytes) {
    if (!platform::isValidUtf8(bytes)) return std::nullopt;
    return platform::trimWhitespaceAndNewlines(bytes);
}

}  // namespace

AppleScriptRunner::AppleScriptRunner(std::string interpreter, ProcessRunner runner, const platform::Clock& clock)
    : interpreter_(std::move(interpreter)), runner_(std::move(runner)), clock_(clock) {}

std::optional<std::string> AppleScriptRunner::run(const std::string& script) const {
    const std::uint64_t start = clock_.monotonicNanos();
    const auto elapsedMilliseconds = [&] { return static_cast<double>(clock_.monotonicNanos() - start) / 1e6; };

    platform::ProcessRequest request;
    request.executablePath = interpreter_;
    request.arguments = {"-e", script};
    request.timeoutSeconds = timeoutSeconds;
    request.terminationGraceSeconds = kTerminationGraceSeconds;
    const platform::ProcessResult result = runner_(request);

    switch (result.outcome) {
        case platform::ProcessOutcome::FailedToStart:
            logPerformanceOsascriptFailedToStart(result.errorDescription);
            printDiagnosticLine("AppleScript failed to start: " + result.errorDescription);
            return std::nullopt;
        case platform::ProcessOutcome::TimedOut:
            logPerformanceEvent("subprocess.osascript.timeout",
                                [&] { return formatted("%.1fms", elapsedMilliseconds()); });
            printDiagnosticLine("AppleScript timed out.");
            return std::nullopt;
        case platform::ProcessOutcome::Exited:
        case platform::ProcessOutcome::Signaled:
            break;
    }

    const std::optional<std::string> output = trimmedText(result.standardOutput);
    if (result.exitedSuccessfully()) {
        const double milliseconds = elapsedMilliseconds();
        if (milliseconds > kSlowRunMilliseconds) {
            logPerformanceOsascript(milliseconds, output ? platform::composedCharacterCount(*output) : 0);
        }
        return output;
    }
    const std::optional<std::string> errorText = trimmedText(result.standardError);
    logPerformanceEvent("subprocess.osascript.failed", [&] {
        return formatted("%.1fms", elapsedMilliseconds()) + " status=" + std::to_string(result.terminationStatus()) +
               " error=" + errorText.value_or("unknown");
    });
    printDiagnosticLine("AppleScript failed: " + errorText.value_or("unknown error"));
    return std::nullopt;
}

std::optional<std::string> runAppleScript(const std::string& script) { return AppleScriptRunner().run(script); }

std::string escapedForAppleScriptString(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '"') {
            escaped += "\\\"";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace Mossbridge
