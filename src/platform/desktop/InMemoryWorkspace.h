#pragma once
// A workspace held in memory, for tests and runs without a display. Tests
// install applications (running or merely installed), choose the frontmost
// one, and read back every activation, open request and termination. An
// accepted activation or open makes the application frontmost; an open
// request runs its completion at once (with the application's configured
// failure, if any) and starts an installed application; an accepted
// termination ends it.

#include <vector>

#include "platform/desktop/Workspace.h"

namespace platform {

struct InstalledApplication {
    RunningApplication application;
    bool running = true;
    PropertyDictionary infoDictionary;           // read by bundleInfoDictionary()
    bool terminateAccepted = true;               // the answer of terminate()
    std::optional<std::string> openFailure;      // handed to open completions
};

struct ActivationRequest {
    std::int32_t processIdentifier = 0;
    unsigned options = 0;
    bool operator==(const ActivationRequest&) const = default;
};

struct OpenRequest {
    std::string bundleURL;
    OpenConfiguration configuration;
    bool operator==(const OpenRequest&) const = default;
};

class InMemoryWorkspace final : public Workspace {
public:
    // Replaces an installed application with the same process identifier.
    void install(InstalledApplication application);
    void setFrontmost(std::optional<std::int32_t> processIdentifier) { frontmost_ = processIdentifier; }
    InstalledApplication* find(std::int32_t processIdentifier);

    const std::vector<ActivationRequest>& activations() const { return activations_; }
    const std::vector<OpenRequest>& openRequests() const { return openRequests_; }
    const std::vector<std::int32_t>& terminations() const { return terminations_; }

    std::vector<RunningApplication> runningApplications() const override;
    std::optional<RunningApplication> frontmostApplication() const override;
    [[nodiscard]] bool activate(std::int32_t processIdentifier, unsigned options) override;
    [[nodiscard]] bool terminate(std::int32_t processIdentifier) override;
    void openApplication(const std::string& bundleURL, const OpenConfiguration& configuration,
                         OpenCompletion completion) override;
    std::optional<std::string> urlForApplication(const std::string& bundleIdentifier) const override;
    std::optional<PropertyDictionary> bundleInfoDictionary(const std::string& bundleURL) const override;

private:
    const InstalledApplication* findRunning(std::int32_t processIdentifier) const;

    std::vector<InstalledApplication> applications_;
    std::optional<std::int32_t> frontmost_;
    std::vector<ActivationRequest> activations_;
    std::vector<OpenRequest> openRequests_;
    std::vector<std::int32_t> terminations_;
};

}  // namespace platform
