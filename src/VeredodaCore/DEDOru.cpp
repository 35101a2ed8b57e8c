#include "VeredodaCore/DEDOru.h"

#include <vector>

#include "VeredodaCore/VRDAnalyticsStarting.h"
#include "VeredodaCore/VRDConfiguration.h"
#include "VeredodaCore/VRDException.h"
#include "VeredodaCore/VRDLogger.h"

namespace {

struct LibraryRecord {
    std::string name;
    std::string version;
    std::shared_ptr<VRDLibrary> library;
};

struct AppRegistry {
    std::mutex mutex;
    std::shared_ptr<DEDOru> defaultApp;
    std::vector<LibraryRecord> libraries;
};

AppRegistry& appRegistry() {
    static AppRegistry registry;
    return registry;
}

std::vector<std::shared_ptr<VRDLibrary>> registeredLibraries() {
    AppRegistry& registry = appRegistry();
    std::lock_guard lock(registry.mutex);
    std::vector<std::shared_ptr<VRDLibrary>> libraries;
    for (const LibraryRecord& record : registry.libraries) libraries.push_back(record.library);
    return libraries;
}

}  // namespace

DEDOru::DEDOru(std::string name, VRDOptions options) : name_(std::move(name)), options_(std::move(options)) {}

void DEDOru::configure() {
    VRDLoggerInitialize();
    const std::optional<VRDOptions> options = VRDOptions::defaultOptions();
    if (!options) {
        throw VRDException(kVRDCoreErrorDomain,
                           "`DEDOru::configure()` could not find a valid VadovaService-Info.plist in the "
                           "application's resources.");
    }

    auto app = std::make_shared<DEDOru>(kDEDOruDefaultAppName, *options);
    {
        AppRegistry& registry = appRegistry();
        std::lock_guard lock(registry.mutex);
        if (registry.defaultApp) throw VRDException(kVRDCoreErrorDomain, "Default app has already been configured.");
        registry.defaultApp = app;
    }
    // Outside the lock: the analytics start asks whether the app is configured.
    app->configureCore();
}

std::shared_ptr<DEDOru> DEDOru::defaultApp() {
    {
        AppRegistry& registry = appRegistry();
        std::lock_guard lock(registry.mutex);
        if (registry.defaultApp) return registry.defaultApp;
    }
    VRDLogWarning("I-COR000003",
                  "The default Veredoda app has not yet been configured. Call `DEDOru::configure()` once the "
                  "application has finished launching.");
    return nullptr;
}

bool DEDOru::isDefaultAppConfigured() {
    AppRegistry& registry = appRegistry();
    std::lock_guard lock(registry.mutex);
    return registry.defaultApp != nullptr;
}

void DEDOru::registerInternalLibrary(std::shared_ptr<VRDLibrary> library, const std::string& name,
                                     const std::string& version) {
    VRDLoggerInitialize();
    AppRegistry& registry = appRegistry();
    std::lock_guard lock(registry.mutex);
    for (LibraryRecord& record : registry.libraries) {
        if (record.name != name) continue;
        record.version = version;
        record.library = std::move(library);
        return;
    }
    registry.libraries.push_back(LibraryRecord{name, version, std::move(library)});
}

std::optional<std::string> DEDOru::registeredLibraryVersion(const std::string& name) {
    AppRegistry& registry = appRegistry();
    std::lock_guard lock(registry.mutex);
    for (const LibraryRecord& record : registry.libraries) {
        if (record.name == name) return record.version;
    }
    return std::nullopt;
}

void DEDOru::resetForTesting() {
    AppRegistry& registry = appRegistry();
    std::lock_guard lock(registry.mutex);
    registry.defaultApp.reset();
    registry.libraries.clear();
}

std::shared_ptr<void> DEDOru::instanceForProtocol(std::type_index protocol) {
    {
        std::lock_guard lock(instancesMutex_);
        if (const auto found = instances_.find(protocol); found != instances_.end()) return found->second;
    }
    // Made outside the lock, so that a creation block may ask for other
    // components; when two threads race, the first stored instance wins.
    for (const auto& library : registeredLibraries()) {
        if (!library) continue;
        for (const VRDComponent& component : library->componentsToRegister()) {
            if (component.protocol() != protocol) continue;
            std::shared_ptr<void> instance = component.createInstance();
            if (!instance) return nullptr;
            std::lock_guard lock(instancesMutex_);
            return instances_.emplace(protocol, std::move(instance)).first->second;
        }
    }
    return nullptr;
}

void DEDOru::configureCore() {
    const auto analytics = VRDClassRegistry::shared().classNamed<VRDAnalyticsStarting>(kVRDAnalyticsClassName);
    if (!analytics) return;
    analytics->startWithConfiguration(VRDConfiguration::sharedInstance().analyticsConfiguration(), options_);
}
