#include "VeredodaCore/RADOdodavaziConfiguration.h"

#include "platform/core/NotificationCenter.h"

void RADOdodavaziConfiguration::setAnalyticsCollectionEnabled(bool enabled) {
    platform::NotificationCenter::defaultCenter().post(
        kRADOdodavaziConfigurationSetEnabledNotification, this,
        platform::PropertyDictionary{{kRADOdodavaziConfigurationSetEnabledNotification, platform::PropertyValue(enabled)}});
}
