#include "platform/desktop/InMemoryLaunchServicesTool.h"

#include <memory>
#include <optional>

namespace platform {

namespace {

std::string statusLabelLine(const std::string& label) { return "\"StatusLabel\"={ \"label\"=\"" + label + "\" }"; }

ProcessResult exited(int status, std::string output, std::string error = {}) {
    ProcessResult result;
    result.outcome = ProcessOutcome::Exited;
    result.exitStatus = status;
    result.standardOutput = std::move(output);
    result.standardError = std::move(error);
    return result;
}

class LaunchServicesTool {
public:
    LaunchServicesTool(std::vector<RunningApplication> applications, std::map<std::string, std::string> labels)
        : applications_(std::move(applications)), labels_(std::move(labels)) {}

    ProcessResult run(const std::vector<std::string>& arguments) const {
        if (arguments == std::vector<std::string>{"list"}) return exited(0, list());
        if (arguments.size() == 4 && arguments[0] == "info" && arguments[1] == "-only" &&
            arguments[2] == "StatusLabel") {
            return info(arguments[3]);
        }
        return exited(1, {}, "lsappinfo: unsupported arguments\n");
    }

private:
    std::optional<std::string> label(const RunningApplication& app) const {
        if (!app.bundleIdentifier) return std::nullopt;
        const auto found = labels_.find(*app.bundleIdentifier);
        if (found == labels_.end()) return std::nullopt;
        return found->second;
    }

    // One record per running application, numbered from 1.
    std::string list() const {
        std::string text;
        int number = 0;
        for (const RunningApplication& app : applications_) {
            text += std::to_string(++number) + ") \"" + app.localizedName.value_or("") + "\" ASN:0x0-" +
                    std::to_string(app.processIdentifier) + ":\n";
            if (app.bundleIdentifier) text += "    \"BundleIdentifier\"=\"" + *app.bundleIdentifier + "\"\n";
            text += "    pid = " + std::to_string(app.processIdentifier) + "\n";
            if (const auto badge = label(app)) text += "    " + statusLabelLine(*badge) + "\n";
        }
        return text;
    }

    // `who`: "#" and a process identifier, or a bundle identifier. An
    // application without a label answers an empty text.
    ProcessResult info(const std::string& who) const {
        for (const RunningApplication& app : applications_) {
            const bool named = who == "#" + std::to_string(app.processIdentifier) || who == app.bundleIdentifier;
            if (!named) continue;
            const auto badge = label(app);
            return exited(0, badge ? statusLabelLine(*badge) + "\n" : std::string());
        }
        return exited(1, {}, "lsappinfo: no application matches " + who + "\n");
    }

    std::vector<RunningApplication> applications_;
    std::map<std::string, std::string> labels_;
};

}  // namespace

ProcessRunner makeInMemoryLaunchServicesTool(std::vector<RunningApplication> applications,
                                             std::map<std::string, std::string> labels, ProcessRunner fallback) {
    auto tool = std::make_shared<const LaunchServicesTool>(std::move(applications), std::move(labels));
    return [tool, fallback = std::move(fallback)](const ProcessRequest& request) {
        if (request.executablePath == kLaunchServicesToolPath) return tool->run(request.arguments);
        return fallback(request);
    };
}

}  // namespace platform
