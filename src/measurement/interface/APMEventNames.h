#pragma once
// The fixed name tables of measurement beyond the public/internal event name
// maps (APMNameMaps.h): the reserved names a public caller may still log,
// ecommerce events and parameters, the parameters never trimmed to meet a
// limit, conversion, purchase and subscription events, and the screen
// parameters; with the predicates built on them. Built once, immutable.

#include <map>
#include <set>
#include <string>
#include <string_view>

class APMEvent;

// "ad_impression" -> "_ai", "in_app_purchase" -> "_iap".
const std::map<std::string, std::string>& APMAllowedReservedEventNameMap();
// The 20 events that may carry an array ("items") parameter.
const std::set<std::string, std::less<>>& APMEcommerceEventNames();
// The 33 parameter names that are not custom parameters inside an item.
const std::set<std::string, std::less<>>& APMEcommerceParameterNames();
// "currency", "transaction_id", "value": counted, never removed to meet a limit.
const std::set<std::string, std::less<>>& APMNeverTrimmedParameterNames();

bool APMIsEcommerceEventName(std::string_view name);
bool APMIsEcommerceParameterName(std::string_view name);
bool APMIsDefaultConversionEvent(std::string_view name);
bool APMIsPurchaseEventName(std::string_view name);
// "_assc" and "_assr"; "_iap" when its "subscription" is the integer 1.
bool APMIsSubscriptionEvent(const APMEvent& event);

// A non-empty string whose first UTF-16 unit is not "_". A text that is not
// UTF-8 logs 18002 and an empty one 18003 (level 2); both answer false.
bool APMIsPublicName(std::string_view name);
// The event is "_err"; an empty name logs 18004 (level 2) and answers false.
bool APMIsErrorEvent(const APMEvent& event);
bool APMIsNotErrorEventName(std::string_view name);

inline constexpr const char* kAPMScreenNameParameter = "_sn";
inline constexpr const char* kAPMScreenClassParameter = "_sc";
inline constexpr const char* kAPMScreenInstanceIDParameter = "_si";
