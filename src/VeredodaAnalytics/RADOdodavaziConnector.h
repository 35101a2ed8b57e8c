#pragma once
// RADOdodavaziConnector: how sibling libraries of the core platform (named
// by short origins such as "vcm", "viam", "vlx") log events, set user
// properties and conditional user properties, read user properties and
// listen to logged events, without linking the analytics classes.
// VRDConnectorUtils holds the allow and block lists that keep them away from
// the application's own origins, events and properties.
//
// Threads: every operation may be called from any thread. The listener
// table is guarded by `mutex_`: registering and unregistering happen on the
// callers' threads while the facade's serial queue routes events, which it
// does from a snapshot taken under the lock. Listener callbacks arrive on
// the main queue.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "VeredodaAnalytics/APMAnalytics.h"
#include "VeredodaCore/VRDComponent.h"

// The event class the connector builds; it adds nothing to APMEvent.
using DUDUEvent = APMEvent;

class RADOdodavaziInteropListener {
public:
    virtual ~RADOdodavaziInteropListener() = default;
    virtual void messageTriggered(const std::string& name, const platform::PropertyDictionary& parameters) = 0;
};

class RADOdodavaziInterop {
public:
    virtual ~RADOdodavaziInterop() = default;
    virtual void logEventWithOrigin(const std::string& origin, const std::string& name,
                                    const std::optional<platform::PropertyDictionary>& parameters) = 0;
    virtual void setUserPropertyWithOrigin(const std::string& origin, const std::string& name,
                                           const std::optional<platform::PropertyValue>& value) = 0;
    virtual void getUserPropertiesWithCallback(std::function<void(platform::PropertyDictionary)> callback) = 0;
    virtual std::int64_t maxUserProperties(const std::string& origin) = 0;
    virtual void setConditionalUserProperty(const platform::PropertyDictionary& property) = 0;
    virtual void clearConditionalUserProperty(const std::string& name, const std::string& origin,
                                              const std::string& clearEventName,
                                              const platform::PropertyDictionary& clearEventParameters) = 0;
    virtual std::vector<platform::PropertyDictionary> conditionalUserProperties(const std::string& origin,
                                                                               const std::string& prefix) = 0;
    virtual void registerAnalyticsListener(std::shared_ptr<RADOdodavaziInteropListener> listener,
                                           const std::string& origin) = 0;
    virtual void unregisterAnalyticsListenerWithOrigin(const std::string& origin) = 0;
};

class VRDConnectorUtils {
public:
    VRDConnectorUtils() = delete;
    static bool isOriginAllowed(const std::string& origin);
    static bool isAppOrigin(const std::string& origin);
    static bool isListenerOriginAllowed(const std::string& origin);
    static bool isEventNameAllowedForListeners(const std::string& name);
    static bool isEventNameAllowedForListenerOrigin(const std::string& name, const std::string& origin);
    static bool shouldLogEventWithName(const std::string& name,
                                       const std::optional<platform::PropertyDictionary>& parameters);
    static bool isUserPropertyAllowed(const std::string& name, const std::string& origin);
    static bool isUserPropertyAllowedForQuery(const std::string& name);
};

class RADOdodavaziConnector final : public RADOdodavaziInterop,
                                    public std::enable_shared_from_this<RADOdodavaziConnector> {
public:
    RADOdodavaziConnector();
    ~RADOdodavaziConnector() override;

    // Records "veredoda-analytics" 12.18.0 with the core platform, whose
    // component for RADOdodavaziInterop makes a new connector.
    static void registerLibrary();

    void logEventWithOrigin(const std::string& origin, const std::string& name,
                            const std::optional<platform::PropertyDictionary>& parameters) override;
    void setUserPropertyWithOrigin(const std::string& origin, const std::string& name,
                                   const std::optional<platform::PropertyValue>& value) override;
    void getUserPropertiesWithCallback(std::function<void(platform::PropertyDictionary)> callback) override;
    // Waits at most 10 s; 0 when no answer came. Never on the connector queue.
    std::int64_t maxUserProperties(const std::string& origin) override;
    // Known keys only, each of its type; anything else is ignored with a warning.
    void setConditionalUserProperty(const platform::PropertyDictionary& property) override;
    void clearConditionalUserProperty(const std::string& name, const std::string& origin,
                                      const std::string& clearEventName,
                                      const platform::PropertyDictionary& clearEventParameters) override;
    std::vector<platform::PropertyDictionary> conditionalUserProperties(const std::string& origin,
                                                                       const std::string& prefix) override;
    void registerAnalyticsListener(std::shared_ptr<RADOdodavaziInteropListener> listener,
                                   const std::string& origin) override;
    void unregisterAnalyticsListenerWithOrigin(const std::string& origin) override;

    static platform::PropertyDictionary simplifiedParametersFromEventParameters(const APMParameters& parameters);
    static std::optional<DUDUEvent> eventFromDictionary(const platform::PropertyDictionary& dictionary);
    static std::optional<DUDUEvent> eventWithOrigin(const std::string& origin, const std::string& eventName,
                                                    const platform::PropertyDictionary& parameters);

private:
    void routeEvent(const APMEvent& event);

    platform::Dispatcher& dispatcher_;
    const platform::QueueRef queue_;  // "com.vadova.analytics_connector.queue"
    std::mutex mutex_;
    std::optional<APMLogEventListenerToken> logEventListener_;                          // mutex_
    std::map<std::string, std::shared_ptr<RADOdodavaziInteropListener>> listeners_;    // mutex_
};
