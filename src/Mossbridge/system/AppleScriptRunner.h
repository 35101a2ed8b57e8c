#pragma once
// Runs one AppleScript text through the system's script interpreter
// (`/usr/bin/osascript -e <script>`, the text passed unchanged as one
// argument) and answers its standard output trimmed of white space and
// newlines, or none when the interpreter failed to start, timed out (1.5 s),
// ended with a non-zero status or printed something that is not UTF-8. An
// empty answer is a valid one. Failures print one "Mossbridge: " line and one
// performance line. Blocks the calling thread; calls share no state.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Clock.h"
#include "platform/core/Process.h"

namespace Mossbridge {

class AppleScriptRunner {
public:
    using ProcessRunner = std::function<platform::ProcessResult(const platform::ProcessRequest&)>;

    static constexpr const char* interpreterPath = "/usr/bin/osascript";
    static constexpr double timeoutSeconds = 1.5;

    // Tests hand in a fake interpreter's path, a process runner or a clock.
    explicit AppleScriptRunner(std::string interpreter = interpreterPath, ProcessRunner runner = platform::runProcess,
                               const platform::Clock& clock = platform::systemClock());

    [[nodiscard]] std::optional<std::string> run(const std::string& script) const;

private:
    std::string interpreter_;
    ProcessRunner runner_;
    const platform::Clock& clock_;
};

// The system's runner.
[[nodiscard]] std::optional<std::string> runAppleScript(const std::string& script);

// `text` made safe inside a double-quoted AppleScript string: every
// backslash doubled first, then every double quote preceded by a backslash.
std::string escapedForAppleScriptString(std::string_view text);

}  // namespace Mossbridge
