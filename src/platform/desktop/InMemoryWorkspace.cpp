#include "platform/desktop/InMemoryWorkspace.h"

#include <algorithm>

namespace platform {

void InMemoryWorkspace::install(InstalledApplication application) {
    if (InstalledApplication* existing = find(application.application.processIdentifier)) {
        *existing = std::move(application);
    } else {
        applications_.push_back(std::move(application));
    }
}

InstalledApplication* InMemoryWorkspace::find(std::int32_t processIdentifier) {
    const auto found = std::find_if(applications_.begin(), applications_.end(), [&](const InstalledApplication& a) {
        return a.application.processIdentifier == processIdentifier;
    });
    return found == applications_.end() ? nullptr : &*found;
}

const InstalledApplication* InMemoryWorkspace::findRunning(std::int32_t processIdentifier) const {
    for (const auto& installed : applications_) {
        if (installed.running && installed.application.processIdentifier == processIdentifier) return &installed;
    }
    return nullptr;
}

std::vector<RunningApplication> InMemoryWorkspace::runningApplications() const {
    std::vector<RunningApplication> running;
    for (const auto& installed : applications_) {
        if (installed.running) running.push_back(installed.application);
    }
    return running;
}

std::optional<RunningApplication> InMemoryWorkspace::frontmostApplication() const {
    if (!frontmost_) return std::nullopt;
    const InstalledApplication* installed = findRunning(*frontmost_);
    if (!installed) return std::nullopt;
    return installed->application;
}

bool InMemoryWorkspace::activate(std::int32_t processIdentifier, unsigned options) {
    activations_.push_back({processIdentifier, options});
    if (!findRunning(processIdentifier)) return false;
    frontmost_ = processIdentifier;
    return true;
}

bool InMemoryWorkspace::terminate(std::int32_t processIdentifier) {
    terminations_.push_back(processIdentifier);
    InstalledApplication* installed = find(processIdentifier);
    if (!installed || !installed->running || !installed->terminateAccepted) return false;
    installed->running = false;
    if (frontmost_ == processIdentifier) frontmost_.reset();
    return true;
}

void InMemoryWorkspace::openApplication(const std::string& bundleURL, const OpenConfiguration& configuration,
                                        OpenCompletion completion) {
    openRequests_.push_back({bundleURL, configuration});
    std::optional<std::string> failure = "The application could not be found.";
    for (auto& installed : applications_) {
        if (installed.application.bundleURL != bundleURL) continue;
        failure = installed.openFailure;
        if (!failure) {
            installed.running = true;
            if (configuration.activates) frontmost_ = installed.application.processIdentifier;
        }
        break;
    }
    if (completion) completion(failure);
}

std::optional<std::string> InMemoryWorkspace::urlForApplication(const std::string& bundleIdentifier) const {
    for (const auto& installed : applications_) {
        if (installed.application.bundleIdentifier == bundleIdentifier && installed.application.bundleURL) {
            return installed.application.bundleURL;
        }
    }
    return std::nullopt;
}

std::optional<PropertyDictionary> InMemoryWorkspace::bundleInfoDictionary(const std::string& bundleURL) const {
    for (const auto& installed : applications_) {
        if (installed.application.bundleURL == bundleURL) return installed.infoDictionary;
    }
    return std::nullopt;
}

}  // namespace platform
