#pragma once
// RADOdodavazi: the public analytics interface through which the
// application and the sibling libraries reach analytics. It holds almost no
// logic: each call checks at most that the default app is configured and
// forwards to the facade APMAnalytics. The default app starts it by class
// name: registerClass() puts its class object into VRDClassRegistry under
// "RADOdodavazi" (and the connector's library record), and the core's
// configure calls startWithConfiguration on it. Every member may be called
// from any thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "VeredodaAnalytics/APMAnalytics.h"
#include "VeredodaCore/VRDAnalyticsStarting.h"

class RADOdodavazi final : public VRDAnalyticsStarting {
public:
    // Registers the class object (once per process is enough; again is harmless).
    static void registerClass();
    // The instance the connector calls.
    static std::shared_ptr<RADOdodavazi> sharedInstance();
    static std::string topLevelVersion() { return "12.18.0"; }

    // Start, by the default app.
    void startWithConfiguration(const std::shared_ptr<RADOdodavaziConfiguration>& configuration,
                                const VRDOptions& options) override;
    static void updateVeredodaInstallationID();
    static void observeVeredodaInstallationIDChanges();

    // Guarded: dropped with their message before the default app is configured.
    static void logEventWithName(const std::string& name, std::optional<APMObjectParameters> parameters);
    static void logEventWithOrigin(const std::string& origin, const std::string& name,
                                   std::optional<APMObjectParameters> parameters);
    static void setUserPropertyString(const std::optional<std::string>& value, const std::string& name);
    static void initiateOnDeviceConversionMeasurementWithEmailAddress(const std::optional<std::string>& address);
    static void initiateOnDeviceConversionMeasurementWithPhoneNumber(const std::optional<std::string>& number);
    static void initiateOnDeviceConversionMeasurementWithHashedEmailAddress(
        const std::optional<platform::PropertyData>& digest);
    static void initiateOnDeviceConversionMeasurementWithHashedPhoneNumber(
        const std::optional<platform::PropertyData>& digest);

    // Forwarded without a check.
    static void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                           std::optional<APMObjectParameters> parameters);
    static void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                   std::optional<APMObjectParameters> parameters, double timestamp,
                                   bool ignoreEnabled, bool ignoreInterceptor);
    static void logTransaction(APMCallerTransaction transaction);
    static void setUserID(const std::optional<platform::PropertyValue>& userID);
    static void setAnalyticsCollectionEnabled(bool enabled);
    static void setSessionTimeoutInterval(double seconds);
    static void sessionIDWithCompletion(std::function<void(std::int64_t, std::optional<APMError>)> completion);
    static std::optional<std::string> appInstanceID();
    static void resetAnalyticsData();
    static void setConsent(const platform::PropertyDictionary& settings);
    static void setDefaultEventParameters(std::optional<APMDefaultParameterEntries> parameters);
    static void setLogEventInterceptor(APMLogEventInterceptor interceptor);
    static std::optional<APMLogEventListenerToken> addLogEventListener(APMLogEventListener listener);
    static void removeLogEventListener(std::optional<APMLogEventListenerToken> token);
    static void notifyEventListeners(const APMEvent& event);
    static void setOpenURLListener(std::function<void(const std::string& url)> listener);
    static void userPropertiesIncludingInternal(bool includingInternal, platform::QueueRef queue,
                                                std::function<void(APMUserPropertyList)> callback);
    static void handleOpenURL(const std::string& url);
    static void handleUserActivity(const std::optional<platform::UserActivity>& activity);
    // Never calls `completionHandler`: no background session is the analytics'.
    static void handleEventsForBackgroundURLSession(const std::string& identifier,
                                                    const std::function<void()>& completionHandler);
    static void dispatchAsyncOnSerialQueue(platform::Block block);
    static void queueOperationWithBlock(platform::Block block);
    static void unsuspendOperationQueue();
    // For the end of the process (APMAnalytics::shutDown).
    static void shutDown();
    static double loadTimestamp();

    // The instance entries of the connector (the facade's instance methods).
    void logInternalEvent(const std::string& origin, const std::string& name,
                          std::optional<APMObjectParameters> parameters);
    void setInternalUserProperty(const std::optional<APMObject>& value, const std::string& name,
                                 const std::string& origin);
    void maxUserPropertiesForOrigin(const std::string& origin, platform::QueueRef queue,
                                    std::function<void(std::int64_t)> callback);

    // Test hook: forgets the installation-ID observer.
    static void resetForTesting();
};
