#pragma once
// APMIdentifiers: the read-only front through which other libraries of the
// process read the app IDs, the app instance ID, an ad event ID, the library
// version and the data-collection origin. The IDs come from the engine's
// identity when an engine with one exists (the engine installs a provider
// for it), else from the shared identity; a missing ID is logged and
// answered as the empty string. Thread-safe.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class APMIdentity;

class APMIdentifiers {
public:
    static APMIdentifiers& sharedInstance();

    // Gives the engine's identity, or null when there is no engine or it has
    // none yet. An empty function removes the provider.
    using IdentityProvider = std::function<std::shared_ptr<APMIdentity>()>;
    static void setEngineIdentityProvider(IdentityProvider provider);

    std::string vadovaAppID() const;
    std::string analyticsAppID() const;
    std::string appInstanceID() const;
    // A process-wide counter that starts at a random value: each call answers
    // the current value as decimal text and moves it on by one.
    std::string adEventID();
    std::string libraryVersion() const;

    std::string origin() const;
    // An empty origin logs 37004 and keeps the old one.
    void setOrigin(const std::string& origin);

    // Test hook: no origin, no provider, a new random ad event ID seed.
    static void resetForTesting();

private:
    APMIdentifiers();
    std::shared_ptr<APMIdentity> engineIdentity() const;

    mutable std::mutex mutex_;
    std::string origin_;
    IdentityProvider provider_;
    std::atomic<std::int64_t> adEventID_;
};
