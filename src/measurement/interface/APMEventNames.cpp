#include "measurement/interface/APMEventNames.h"

#include "measurement/interface/APMEvent.h"
#include "measurement/storage/APMMonitor.h"
#include "platform/core/Unicode.h"

namespace {

using NameSet = std::set<std::string, std::less<>>;

bool contains(const NameSet& set, std::string_view name) { return set.find(name) != set.end(); }

const NameSet& defaultConversionEventNames() {
    static const NameSet names = {"ecommerce_purchase", "_f", "_iap", "in_app_purchase", "purchase", "refund"};
    return names;
}

const NameSet& purchaseEventNames() {
    static const NameSet names = {"_iap", "purchase", "in_app_purchase", "ecommerce_purchase"};
    return names;
}

}  // namespace

const std::map<std::string, std::string>& APMAllowedReservedEventNameMap() {
    static const std::map<std::string, std::string> map = {{"ad_impression", "_ai"}, {"in_app_purchase", "_iap"}};
    return map;
}

const NameSet& APMEcommerceEventNames() {
    static const NameSet names = {
        "add_payment_info", "add_shipping_info", "add_to_cart",        "add_to_wishlist",     "begin_checkout",
        "purchase",         "refund",            "remove_from_cart",   "select_item",         "select_promotion",
        "view_cart",        "view_item",         "view_item_list",     "view_promotion",      "ecommerce_purchase",
        "checkout_progress", "purchase_refund",  "select_content",     "set_checkout_option", "view_search_results",
    };
    return names;
}

const NameSet& APMEcommerceParameterNames() {
    static const NameSet names = {
        "affiliation",    "coupon",         "creative_name",  "creative_slot",  "currency",     "discount",
        "index",          "item_id",        "item_brand",     "item_category",  "item_category2",
        "item_category3", "item_category4", "item_category5", "item_list_name", "item_list_id", "item_name",
        "item_variant",   "location_id",    "payment_type",   "price",          "promotion_id", "promotion_name",
        "quantity",       "shipping",       "shipping_tier",  "tax",            "transaction_id", "value",
        "checkout_step",  "checkout_option", "item_list",     "item_location_id",
    };
    return names;
}

const NameSet& APMNeverTrimmedParameterNames() {
    static const NameSet names = {"currency", "transaction_id", "value"};
    return names;
}

bool APMIsEcommerceEventName(std::string_view name) { return contains(APMEcommerceEventNames(), name); }
bool APMIsEcommerceParameterName(std::string_view name) { return contains(APMEcommerceParameterNames(), name); }
bool APMIsDefaultConversionEvent(std::string_view name) { return contains(defaultConversionEventNames(), name); }
bool APMIsPurchaseEventName(std::string_view name) { return contains(purchaseEventNames(), name); }

bool APMIsSubscriptionEvent(const APMEvent& event) {
    if (event.name() == "_assc" || event.name() == "_assr") return true;
    if (event.name() != "_iap") return false;
    const APMValue* subscription = event.parameters().find("subscription");
    return subscription && subscription->isInt64() && subscription->int64Value() == 1;
}

bool APMIsPublicName(std::string_view name) {
    if (!platform::isValidUtf8(name)) {
        APMMonitor::shared()->log(2, 18002, "Cannot check the name. Name is not a string");
        return false;
    }
    if (name.empty()) {
        APMMonitor::shared()->log(2, 18003, "Cannot check the name. Name is empty");
        return false;
    }
    // "_" is a single UTF-16 unit and a single UTF-8 byte alike.
    return name.front() != '_';
}

bool APMIsErrorEvent(const APMEvent& event) {
    if (event.name().empty()) {
        APMMonitor::shared()->log(2, 18004, "Cannot check the event name. Name is empty");
        return false;
    }
    return event.name() == "_err";
}

bool APMIsNotErrorEventName(std::string_view name) { return name != "_err"; }
