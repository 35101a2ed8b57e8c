#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "measurement/interface/APMInAppPurchase.h"

namespace engine_test {
namespace {

platform::PaymentTransaction purchase(const std::string& product, std::optional<std::string> identifier,
                                      platform::PaymentTransactionState state = platform::PaymentTransactionState::Purchased) {
    platform::PaymentTransaction transaction;
    transaction.state = state;
    transaction.productIdentifier = product;
    transaction.transactionIdentifier = std::move(identifier);
    return transaction;
}

class PurchaseFilter : public EngineFixture {
protected:
    std::vector<std::string> filter(APMMeasurement::PurchaseTransactions transactions) {
        std::optional<std::vector<std::string>> kept;
        engine->filterPurchaseTransactions(std::move(transactions), [&](APMMeasurement::PurchaseTransactions answer) {
            kept.emplace();
            for (const auto& transaction : answer) kept->push_back(transaction.productIdentifier);
        });
        dispatcher.drain();
        EXPECT_TRUE(kept) << "the callback was not answered";
        return kept.value_or(std::vector<std::string>{});
    }
};

TEST_F(PurchaseFilter, KeepsNewPurchasesInOrderAndRecordsNothingItself) {
    start();
    const auto kept = filter({purchase("restored", "1", platform::PaymentTransactionState::Restored),
                              purchase("no-id", std::nullopt), purchase("a", "1001"), purchase("b", "1002"),
                              purchase("a-again", "1001")});
    EXPECT_EQ(kept, (std::vector<std::string>{"no-id", "a", "b"}));
    EXPECT_EQ(monitor.linesWithCode(23141).size(), 1u) << "a second one in one call is a duplicate";
    // Nothing was recorded: the same purchases pass again.
    EXPECT_EQ(filter({purchase("a", "1001")}), (std::vector<std::string>{"a"}));
}

TEST_F(PurchaseFilter, ARecordedFingerprintDropsLaterReportsOfThatPurchase) {
    start();
    const platform::PaymentTransaction reported = purchase("a", "1001");
    engine->recordPurchaseFingerprint(*APMTransactionFingerprint(&reported));
    dispatcher.drain();
    EXPECT_EQ(filter({purchase("a", "1001"), purchase("b", "1002")}), (std::vector<std::string>{"b"}));
}

TEST_F(PurchaseFilter, WithoutADatabasePurchasesAreKept) {
    failingOpens = 100;
    start();
    EXPECT_EQ(filter({purchase("a", "1001")}), (std::vector<std::string>{"a"}));
}

}  // namespace
}  // namespace engine_test
