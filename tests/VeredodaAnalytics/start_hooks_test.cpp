// What the start hooks up beside the engine: the tag manager, found by class
// name, and the facade as observer of the payment queue.

#include "AnalyticsTestSupport.h"

namespace analytics_test {
namespace {

struct TagManager final : VTMManagerClass {
    void initializeSharedInstance() override { ++initializations; }
    int initializations = 0;
};
struct NotATagManager final : VRDRuntimeClass {};

class StartHooksTest : public AnalyticsFixture {};

TEST_F(StartHooksTest, TheTagManagerIsInitializedWhenItsClassAnswers) {
    const auto tagManager = std::make_shared<TagManager>();
    const struct {
        const char* what;
        std::shared_ptr<VRDRuntimeClass> registered;
        std::size_t refusals;
    } cases[] = {{"absent", nullptr, 0}, {"without the call", std::make_shared<NotATagManager>(), 1},
                 {"present", tagManager, 0}};
    for (const auto& c : cases) {
        monitor.clear();
        VRDClassRegistry::shared().registerClass("VTMManager", c.registered);
        APMAnalytics::maybeEnableTagManager();
        EXPECT_EQ(monitor.linesWithCode(25016).size(), c.refusals) << c.what;
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
