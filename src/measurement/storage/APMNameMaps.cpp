#include "measurement/storage/APMNameMaps.h"

#include "measurement/storage/APMMonitor.h"

const std::map<std::string, std::string>& APMPublicToInternalEventNameMap() {
    static const std::map<std::string, std::string> map = {
        {"adunit_exposure", "_xu"},
        {"ad_activeview", "_aa"},
        {"ad_click", "_ac"},
        {"ad_exposure", "_xa"},
        {"ad_impression", "_ai"},
        {"ad_query", "_aq"},
        {"ad_reward", "_ar"},
        {"app_clear_data", "_cd"},
        {"app_exception", "_ae"},
        {"app_remove", "_ui"},
        {"app_store_refund", "_asr"},
        {"app_store_subscription_cancel", "_asse"},
        {"app_store_subscription_convert", "_assc"},
        {"app_store_subscription_renew", "_assr"},
        {"app_update", "_au"},
        {"app_upgrade", "_ug"},
        {"error", "_err"},
        {"veredoda_campaign", "_cmp"},
        {"first_open", "_f"},
        {"first_visit", "_v"},
        {"va_campaign", "_cmp"},
        {"va_extra_parameter", "_ep"},
        {"in_app_purchase", "_iap"},
        {"notification_dismiss", "_nd"},
        {"notification_foreground", "_nf"},
        {"notification_open", "_no"},
        {"notification_receive", "_nr"},
        {"os_update", "_ou"},
        {"screen_view", "_vs"},
        {"session_start", "_s"},
        {"session_start_with_rollout", "_ssr"},
        {"user_engagement", "_e"},
    };
    return map;
}

namespace {

std::map<std::string, std::string> reversed(const std::map<std::string, std::string>& map) {
    std::map<std::string, std::string> out;
    // The map is walked in key order, so of two public names the later one wins.
    for (const auto& [publicName, internalName] : map) out[internalName] = publicName;
    return out;
}

std::string displayName(const std::string& name, const std::map<std::string, std::string>& publicToInternal) {
    if (!APMMonitor::shared()->isDebugModeEnabled()) return name;
    for (const auto& [publicName, internalName] : publicToInternal) {
        if (internalName == name) return publicName + " (" + internalName + ")";
    }
    return name;
}

}  // namespace

const std::map<std::string, std::string>& APMInternalToPublicEventNameMap() {
    static const std::map<std::string, std::string> map = reversed(APMPublicToInternalEventNameMap());
    return map;
}

const std::map<std::string, std::string>& APMParameterInternalNames() {
    static const std::map<std::string, std::string> map = {
        {"screen_class", "_sc"},
        {"screen_name", "_sn"},
        {"va_session_id", "_sid"},
        {"va_session_number", "_sno"},
    };
    return map;
}

const std::map<std::string, std::string>& APMUserPropertyInternalNames() {
    static const std::map<std::string, std::string> map = {
        {"veredoda_last_notification", "_ln"},
        {"first_open_after_install", "_fi"},
        {"first_open_time", "_fot"},
        {"va_session_id", "_sid"},
        {"va_session_number", "_sno"},
        {"last_advertising_id_reset", "_lair"},
        {"last_deep_link_referrer", "_ldl"},
        {"lifetime_user_engagement", "_lte"},
        {"session_user_engagement", "_se"},
        {"user_id", "_id"},
    };
    return map;
}

std::string APMEventDisplayName(const std::string& name) {
    if (!APMMonitor::shared()->isDebugModeEnabled()) return name;
    const auto& map = APMInternalToPublicEventNameMap();
    auto found = map.find(name);
    return found == map.end() ? name : found->second + " (" + name + ")";
}

std::string APMParameterDisplayName(const std::string& name) { return displayName(name, APMParameterInternalNames()); }

std::string APMUserPropertyDisplayName(const std::string& name) {
    return displayName(name, APMUserPropertyInternalNames());
}
