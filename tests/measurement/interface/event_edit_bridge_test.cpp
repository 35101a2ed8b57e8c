#include "measurement/interface/APMEvent.h"

#include "EventTestSupport.h"

using event_test::object;
using platform::PropertyArray;
using platform::PropertyDictionary;
using platform::PropertyValue;

TEST(EditBridge, TheRuleEngineSeesPublicNamesAndPlainValues) {
    const PropertyDictionary item{{"item_id", "a"}, {"nested", PropertyArray{PropertyDictionary{{"x", 1}}}}};
    auto event = *APMEvent::initWithOrigin("app", false, "_vs", 12.5, 0, {});
    event.applyParameters({{"s", object("t")}, {"i", object(3)}, {"d", object(0.5)}}, false);
    const APMValue items(std::vector<APMParameters>{{{"item_id", APMValue("a")}, {"q", APMValue(2)}}});
    const auto purchase = *APMEvent::initWithOrigin("app", false, "purchase", 1, 0, {{"items", items}});

    EXPECT_EQ(event.editEventName(), "screen_view");
    EXPECT_EQ(purchase.editEventName(), "purchase");
    const APMObjectParameters expected = {{"_o", object("app")},
                                          {"s", object("t")},
                                          {"i", object(3)},
                                          {"d", object(0.5)}};
    EXPECT_EQ(event.editEventParameters(), expected);
    const auto plainItems = purchase.editEventParameters();
    ASSERT_EQ(plainItems.size(), 2u);
    EXPECT_EQ(plainItems[0].second,
              object(PropertyArray{PropertyDictionary{{"item_id", "a"}, {"q", 2}}}));
}

TEST(EditBridge, EventsComeBackAsInternalEvents) {
    struct Case {
        const char* label;
        std::string name;
        APMObjectParameters parameters;
        const char* origin;
        const char* internalName;
    };
    const Case cases[] = {
        {"public name and string origin", "screen_view", {{"_o", object("auto")}}, "auto", "_vs"},
        {"origin as a value", "e", {{"_o", APMValue("am")}}, "am", "e"},
        {"no origin", "e", {}, "app", "e"},
        {"numeric origin", "e", {{"_o", object(4)}}, "app", "e"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto event = APMEvent::eventFromEditEvent(c.name, 42, c.parameters);
        ASSERT_TRUE(event);
        EXPECT_EQ(event->origin(), c.origin);
        EXPECT_EQ(event->name(), c.internalName);
        EXPECT_EQ(event->timestamp(), 42);
        EXPECT_EQ(event->previousTimestamp(), 0);
    }
    const auto internal = APMEvent::eventFromEditEvent("e", 1, {{"_p", object(1)}, {"q-r", object(1)}});
    EXPECT_EQ(internal->parameters(), (APMParameters{{"_p", APMValue(1)}, {"_err", APMValue(3)},
                                                     {"_ev", APMValue("q-r")}, {"_o", APMValue("app")}}));
}
