#pragma once
// The Veredoda app: the default app, named "__DEDORU_DEFAULT", configured
// once per process from the options in the bundle resources. Configuring it
// starts the analytics library (the class registered as "RADOdodavazi", when
// it implements VRDAnalyticsStarting) with the shared analytics
// configuration and the app's options. Libraries register themselves with a
// name, a version and the components they offer; the app hands out one
// instance per component protocol. Thread-safe.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <typeindex>

#include "VeredodaCore/VRDComponent.h"
#include "VeredodaCore/VRDOptions.h"

inline constexpr const char* kDEDOruDefaultAppName = "__DEDORU_DEFAULT";

class DEDOru {
public:
    // Reads VRDOptions::defaultOptions() and configures the default app.
    // Throws VRDException named "com.veredoda.core" when there is no
    // readable options file, or when the default app is already configured.
    static void configure();
    // The default app, or null (and the warning "I-COR000003") when it has
    // not been configured.
    static std::shared_ptr<DEDOru> defaultApp();
    static bool isDefaultAppConfigured();

    // Records a library (a name such as "veredoda-analytics" and its
    // version) with the class object that supplies its components.
    // Registering a name again replaces the earlier record.
    static void registerInternalLibrary(std::shared_ptr<VRDLibrary> library, const std::string& name,
                                        const std::string& version);
    // The version recorded for a library name.
    static std::optional<std::string> registeredLibraryVersion(const std::string& name);

    // Test hook: forgets the default app and the registered libraries.
    static void resetForTesting();

    const std::string& name() const { return name_; }
    const VRDOptions& options() const { return options_; }

    // The instance of the component registered for `Protocol`, made on first
    // request and kept; null when no registered library offers one.
    template <class Protocol>
    std::shared_ptr<Protocol> instanceForProtocol() {
        return std::static_pointer_cast<Protocol>(instanceForProtocol(std::type_index(typeid(Protocol))));
    }

    DEDOru(std::string name, VRDOptions options);

private:
    std::shared_ptr<void> instanceForProtocol(std::type_index protocol);
    // Starts the analytics library; called for the default app.
    void configureCore();

    const std::string name_;
    const VRDOptions options_;
    std::mutex instancesMutex_;
    std::map<std::type_index, std::shared_ptr<void>> instances_;
};
