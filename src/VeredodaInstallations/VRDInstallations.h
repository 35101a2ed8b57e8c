#pragma once
// The installation ID of an app: a random identifier made once per app (its
// app ID and name) and kept on disk, so that it survives restarts. Answers
// arrive on the service's own serial queue. Making a new ID posts
// "VRDInstallationIDDidChangeNotification" on the default notification
// centre (no sender) before the answer is delivered. When the new
// ID cannot be stored, the answer is an error and no ID (an ID that would
// change at the next launch is worse than none).

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "VadovaUtilities/VULError.h"
#include "platform/core/Dispatch.h"

inline constexpr const char* kVRDInstallationIDDidChangeNotification = "VRDInstallationIDDidChangeNotification";
inline constexpr const char* kVRDInstallationsErrorDomain = "com.veredoda.installations";

enum VRDInstallationsErrorCode : long {
    VRDInstallationsErrorCodeStorage = 1,
};

class VRDInstallations {
public:
    using Completion =
        std::function<void(const std::optional<std::string>& installationID, const std::optional<VULError>& error)>;

    // The service of the default app; null while the default app is not
    // configured.
    static std::shared_ptr<VRDInstallations> installations();
    // Test hook: forgets the shared service; the next one runs its queue on
    // `dispatcher` (null: the process dispatcher) and stores in `file`
    // (empty: the default file).
    static void resetForTesting(platform::Dispatcher* dispatcher = nullptr, std::filesystem::path file = {});

    // `dispatcher` null: the process dispatcher.
    VRDInstallations(platform::Dispatcher* dispatcher, std::string appName, std::string appID,
                     std::filesystem::path storeFile);
    ~VRDInstallations();

    void installationIDWithCompletion(Completion completion);

    struct State;

private:
    platform::QueueRef queue_;
    std::shared_ptr<State> state_;  // kept alive by queued answers
};
