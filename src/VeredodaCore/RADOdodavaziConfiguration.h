#pragma once
// The analytics configuration handed to the analytics library when the
// default app starts it. Switching collection posts
// "RADOdodavaziConfigurationSetEnabledNotification" on the default
// notification centre, with this object as sender and the new value as a
// Boolean under the user-info key of the same name.

inline constexpr const char* kRADOdodavaziConfigurationSetEnabledNotification =
    "RADOdodavaziConfigurationSetEnabledNotification";

class RADOdodavaziConfiguration {
public:
    void setAnalyticsCollectionEnabled(bool enabled);
};
