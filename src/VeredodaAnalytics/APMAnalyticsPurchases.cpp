// The facade's purchase entries: the application's own transactions and the
// payment-queue observer, both handed to the purchase reporter made at start.

#include <utility>

#include "VeredodaAnalytics/APMAnalytics.h"
#include "VeredodaAnalytics/APMAnalyticsState.h"

using apm_analytics::state;

namespace apm_analytics {
namespace {

class PaymentQueueObserver final : public platform::PaymentTransactionObserver {
public:
    void paymentQueueUpdatedTransactions(const std::vector<platform::PaymentTransaction>& transactions) override {
        APMAnalytics::paymentQueueUpdatedTransactions(transactions);
    }
};

}  // namespace

std::shared_ptr<platform::PaymentTransactionObserver> makePaymentObserver() {
    return std::make_shared<PaymentQueueObserver>();
}

}  // namespace apm_analytics

std::shared_ptr<APMInAppPurchaseTransactionReporter> APMAnalytics::purchaseReporter() {
    const auto facade = state();
    std::lock_guard lock(facade->purchaseMutex);
    return facade->purchaseReporter;
}

void APMAnalytics::logTransaction(APMCallerTransaction transaction) {
    if (const auto reporter = purchaseReporter()) reporter->reportTransaction(std::move(transaction));
}

void APMAnalytics::paymentQueueUpdatedTransactions(APMInAppPurchaseTransactionReporter::Transactions transactions) {
    std::weak_ptr<apm_analytics::FacadeState> weak = state();
    queueOperationWithBlock([weak, transactions = std::move(transactions)]() mutable {
        const auto facade = weak.lock();
        if (!facade || !facade->enabled) return;
        std::shared_ptr<APMInAppPurchaseTransactionReporter> reporter;
        {
            std::lock_guard lock(facade->purchaseMutex);
            reporter = facade->purchaseReporter;
        }
        if (!reporter) return;
        APMAnalyticsEngineBridge::filterPurchaseTransactions(
            std::move(transactions), [reporter](APMInAppPurchaseTransactionReporter::Transactions kept) {
                reporter->paymentQueueUpdatedFilteredTransactions(std::move(kept));
            });
    });
}
