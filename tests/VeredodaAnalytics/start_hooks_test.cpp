// What the start hooks up beside the engine: the tag manager, found by class
// name, and the facade as observer of the payment queue.

#include <gmock/gmock.h>

#include "AnalyticsTestSupport.h"

namespace analytics_test {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

struct TagManager final : VTMManagerClass {
    void initializeSharedInstance() override { ++initializations; }
    int initializations = 0;
};
struct NotATagManager final : VRDRuntimeClass {};

class StartHooksTest : public AnalyticsFixture {};

TEST_F(StartHooksTest, TheTagManagerIsInitializedWhenItsClassAnswers) {
    const auto tagManager = std::make_shared<TagManager>();
    const auto refusal = HasSubstr("ERROR I-ACS025016 VTMManager class doesn't define initializeSharedInstance");
    const struct {
        const char* what;
        std::shared_ptr<VRDRuntimeClass> registered;
        bool refused;
    } cases[] = {{"absent", nullptr, false}, {"without the call", std::make_shared<NotATagManager>(), true},
                 {"present", tagManager, false}};
    for (const auto& c : cases) {
        monitor.clear();
        VRDClassRegistry::shared().registerClass("VTMManager", c.registered);
        APMAnalytics::maybeEnableTagManager();
        if (c.refused) {
            EXPECT_THAT(monitor.linesWithCode(25016), ElementsAre(refusal)) << c.what;
        } else {
            EXPECT_THAT(monitor.linesWithCode(25016), IsEmpty()) << c.what;
        }
    }
    EXPECT_EQ(tagManager->initializations, 1);
    startFacade();
    EXPECT_EQ(tagManager->initializations, 2);
}

TEST_F(StartHooksTest, ThePaymentQueueReachesTheFacadeFromTheStartOn) {
    paymentStore->addProduct({"gems", "0.99", "USD", "Gems", std::nullopt});
    const auto purchase = [](const char* identifier) {
        platform::PaymentTransaction transaction;
        transaction.productIdentifier = "gems";
        transaction.transactionIdentifier = identifier;
        transaction.originalTransactionIdentifier = identifier;
        transaction.transactionDate = 1.7e9;
        return transaction;
    };
    const auto purchases = [&] {
        std::size_t count = 0;
        for (const auto& event : heard) count += event.name.rfind("_iap", 0) == 0;
        return count;
    };
    paymentStore->deliverTransactions({purchase("1")});
    startFacade();
    EXPECT_EQ(purchases(), 0u);
    paymentStore->deliverTransactions({purchase("2")});
    dispatcher.drain();
    EXPECT_EQ(purchases(), 1u);
}

}  // namespace
}  // namespace analytics_test
