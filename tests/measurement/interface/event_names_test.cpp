#include "measurement/interface/APMEventNames.h"

#include "EventTestSupport.h"
#include "measurement/interface/APMEvent.h"

using event_test::expectOneLine;
using event_test::MonitorCapture;

TEST(EventNameTables, SizesAndMembers) {
    EXPECT_EQ(APMEcommerceEventNames().size(), 20u);
    EXPECT_EQ(APMEcommerceParameterNames().size(), 33u);
    EXPECT_EQ(APMAllowedReservedEventNameMap().at("in_app_purchase"), "_iap");
    EXPECT_TRUE(APMIsEcommerceEventName("view_search_results"));
    EXPECT_FALSE(APMIsEcommerceEventName("items"));
    EXPECT_TRUE(APMIsEcommerceParameterName("item_location_id"));
    for (const char* name : {"ecommerce_purchase", "_f", "_iap", "in_app_purchase", "purchase", "refund"}) {
        EXPECT_TRUE(APMIsDefaultConversionEvent(name)) << name;
    }
    EXPECT_FALSE(APMIsDefaultConversionEvent("_s"));
    EXPECT_TRUE(APMIsPurchaseEventName("ecommerce_purchase"));
    EXPECT_FALSE(APMIsPurchaseEventName("refund"));
    EXPECT_FALSE(APMIsNotErrorEventName("_err"));
}

TEST(EventNamePredicates, PublicNames) {
    MonitorCapture capture;
    EXPECT_TRUE(APMIsPublicName("name"));
    EXPECT_FALSE(APMIsPublicName("_name"));
    EXPECT_TRUE(capture.lines().empty());
    EXPECT_FALSE(APMIsPublicName(""));
    expectOneLine(capture, 18003, "ERROR Cannot check the name. Name is empty");
    EXPECT_FALSE(APMIsPublicName("\xff"));
    expectOneLine(capture, 18002, "ERROR Cannot check the name. Name is not a string");
}

TEST(EventNamePredicates, SubscriptionAndErrorEvents) {
    auto event = [](const std::string& name, APMObjectParameters parameters = {}) {
        return *APMEvent::initWithOrigin("app", false, name, 1, 0, parameters);
    };
    EXPECT_TRUE(APMIsSubscriptionEvent(event("_assc")));
    EXPECT_TRUE(APMIsSubscriptionEvent(event("_assr")));
    EXPECT_FALSE(APMIsSubscriptionEvent(event("_asse")));
    EXPECT_TRUE(APMIsSubscriptionEvent(event("_iap", {{"subscription", APMValue(1)}})));
    EXPECT_FALSE(APMIsSubscriptionEvent(event("_iap", {{"subscription", APMValue("1")}})));
    EXPECT_FALSE(APMIsSubscriptionEvent(event("_iap")));
    EXPECT_TRUE(APMIsErrorEvent(event("_err")));
    EXPECT_FALSE(APMIsErrorEvent(event("err")));
}
