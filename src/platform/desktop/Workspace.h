#pragma once
// The workspace: the applications running in the user's session, which one
// is frontmost, activating, opening (as the Dock does) and terminating them,
// and finding an installed application's bundle and its information
// dictionary. A running application is a snapshot; operations name it by its
// process identifier, so acting on one that has gone away simply fails.
// Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/drawing/Image.h"
#include "platform/core/PropertyList.h"

namespace platform {

enum class ActivationPolicy { regular = 0, accessory = 1, prohibited = 2 };

// Options of activate(): bit values as the desktop defines them.
inline constexpr unsigned kActivateAllWindows = 1;
inline constexpr unsigned kActivateIgnoringOtherApps = 2;

struct RunningApplication {
    std::int32_t processIdentifier = 0;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;
    ActivationPolicy activationPolicy = ActivationPolicy::regular;
    std::optional<std::string> bundleURL;  // where the application's bundle lives
    ImageRef icon;                         // null when it has none
};

struct OpenConfiguration {
    bool activates = true;
    bool createsNewApplicationInstance = false;
    bool operator==(const OpenConfiguration&) const = default;
};

// Called once when an open request has been handled; none means success,
// otherwise a sentence describing the failure.
using OpenCompletion = std::function<void(const std::optional<std::string>& errorDescription)>;

class Workspace {
public:
    virtual ~Workspace() = default;

    virtual std::vector<RunningApplication> runningApplications() const = 0;
    virtual std::optional<RunningApplication> frontmostApplication() const = 0;

    // True when the request to activate was accepted.
    [[nodiscard]] virtual bool activate(std::int32_t processIdentifier, unsigned options) = 0;
    // Asks the application to quit; true when the request was delivered.
    // Nothing waits for it to end.
    [[nodiscard]] virtual bool terminate(std::int32_t processIdentifier) = 0;
    // Opens the application at `bundleURL` without waiting; `completion`
    // runs later, possibly on another thread.
    virtual void openApplication(const std::string& bundleURL, const OpenConfiguration& configuration,
                                 OpenCompletion completion) = 0;

    // The location of the installed application with this bundle identifier.
    virtual std::optional<std::string> urlForApplication(const std::string& bundleIdentifier) const = 0;
    // The information dictionary of the bundle at `bundleURL`; none when no
    // bundle can be opened there.
    virtual std::optional<PropertyDictionary> bundleInfoDictionary(const std::string& bundleURL) const = 0;
};

}  // namespace platform
