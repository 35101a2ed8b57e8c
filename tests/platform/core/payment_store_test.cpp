// The payment queue's observers: who hears a delivery of transactions.

#include <gtest/gtest.h>

#include "platform/core/PaymentStore.h"

namespace {

struct Listener final : platform::PaymentTransactionObserver {
    void paymentQueueUpdatedTransactions(const std::vector<platform::PaymentTransaction>& transactions) override {
        for (const auto& transaction : transactions) heard.push_back(transaction.productIdentifier);
    }
    std::vector<std::string> heard;
};

TEST(PaymentStoreTest, DeliveriesReachEachLivingObserverOnce) {
    platform::InMemoryPaymentStore store;
    auto twice = std::make_shared<Listener>();
    auto removed = std::make_shared<Listener>();
    auto released = std::make_shared<Listener>();
    store.addTransactionObserver(twice);
    store.addTransactionObserver(twice);
    store.addTransactionObserver(removed);
    store.addTransactionObserver(released);
    store.removeTransactionObserver(removed.get());
    released.reset();
    platform::PaymentTransaction first;
    first.productIdentifier = "p1";
    platform::PaymentTransaction second;
    second.productIdentifier = "p2";
    store.deliverTransactions({first, second});
    EXPECT_EQ(twice->heard, (std::vector<std::string>{"p1", "p2"}));
    EXPECT_TRUE(removed->heard.empty());
}

}  // namespace
