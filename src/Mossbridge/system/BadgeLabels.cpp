#include "Mossbridge/system/BadgeLabels.h"

#include "Mossbridge/system/BadgeLabelParsing.h"
#include "Mossbridge/model/DiagnosticLine.h"
#include "Mossbridge/model/PerformanceLog.h"
#include "platform/core/Clock.h"
#include "platform/core/Unicode.h"

namespace Mossbridge {

namespace {

// Output that is not UTF-8 counts as empty.
std::string decodedTrimmed(const std::string& bytes) {
    return platform::isValidUtf8(bytes) ? platform::trimWhitespaceAndNewlines(bytes) : std::string();
}

// The text form of a label dictionary for the log: ["id": "label", ...].
std::string describe(const std::map<std::string, std::string>& labels) {
    const auto quoted = [](const std::string& text) {
        std::string out = "\"";
        for (const char c : text) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        return out + "\"";
    };
    std::string text = "[";
    for (const auto& [identifier, label] : labels) {
        if (text.size() > 1) text += ", ";
        text += quoted(identifier) + ": " + quoted(label);
    }
    return text + "]";
}

}  // namespace

BadgeLabelReader::BadgeLabelReader(std::string toolPath, ProcessRunner runner)
    : toolPath_(std::move(toolPath)), runner_(std::move(runner)) {}

std::map<std::string, std::string> BadgeLabelReader::launchServicesBadges(
    const std::vector<AppStatusTarget>& targets) const {
    const std::uint64_t start = platform::systemClock().monotonicNanos();
    auto labels = launchServicesBadgeLabels(targets);
    const double milliseconds = static_cast<double>(platform::systemClock().monotonicNanos() - start) / 1e6;
    if (milliseconds >= 5.0) {
        logPerformanceDuration("status.badges.launchServices", milliseconds, "apps=" + std::to_string(targets.size()));
    }
    if (!labels.empty()) printDiagnosticLine("LaunchServices StatusLabel badges found " + describe(labels));
    return labels;
}

std::map<std::string, std::string> BadgeLabelReader::launchServicesBadgeLabels(
    const std::vector<AppStatusTarget>& targets) const {
    if (auto list = runLSAppInfo({"list"}); list && !list->empty()) {
        auto labels = parseLSAppInfoList(*list, targets);
        if (!labels.empty()) return labels;
    }
    std::map<std::string, std::string> labels;
    for (const auto& target : targets) {
        const auto info = lsappinfoStatusLabelInfo(target);
        if (!info) continue;
        if (auto label = lsappinfoStatusLabel(*info)) labels[target.bundleIdentifier] = std::move(*label);
    }
    return labels;
}

std::optional<std::string> BadgeLabelReader::lsappinfoStatusLabelInfo(const AppStatusTarget& target) const {
    for (const std::string& who : {"#" + std::to_string(target.processIdentifier), target.bundleIdentifier}) {
        if (auto text = runLSAppInfo({"info", "-only", "StatusLabel", who}); text && !text->empty()) return text;
    }
    return std::nullopt;
}

std::optional<std::string> BadgeLabelReader::runLSAppInfo(const std::vector<std::string>& arguments) const {
    platform::ProcessRequest request;
    request.executablePath = toolPath_;
    request.arguments = arguments;
    request.timeoutSeconds = kLSAppInfoTimeoutSeconds;
    const platform::ProcessResult result = runner_(request);

    switch (result.outcome) {
        case platform::ProcessOutcome::FailedToStart:
            if (!reportedFailureToStart_->exchange(true)) {
                printDiagnosticLine("lsappinfo failed to start: " + result.errorDescription);
            }
            return std::nullopt;
        case platform::ProcessOutcome::TimedOut:
            logPerformanceLaunchServicesTimeout(arguments);
            return std::nullopt;
        case platform::ProcessOutcome::Exited:
        case platform::ProcessOutcome::Signaled:
            break;
    }
    if (result.exitedSuccessfully()) return decodedTrimmed(result.standardOutput);
    if (const std::string error = decodedTrimmed(result.standardError); !error.empty()) {
        logPerformanceLaunchServicesError(error);
    }
    return std::nullopt;
}

std::function<std::map<std::string, std::string>(const std::vector<AppStatusTarget>&)> badgeSource(
    BadgeLabelReader reader) {
    return [reader = std::move(reader)](const std::vector<AppStatusTarget>& targets) {
        return reader.launchServicesBadges(targets);
    };
}

}  // namespace Mossbridge
