// Purchase de-duplication: the fingerprints of purchases already reported
// live in the database; a purchase is dropped only when the store is sure it
// has seen it.

#include <set>

#include "measurement/engine/APMMeasurement.h"
#include "measurement/interface/APMInAppPurchase.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"

void APMMeasurement::filterPurchaseTransactions(PurchaseTransactions transactions,
                                                std::function<void(PurchaseTransactions)> callback) {
    scheduleWeakly("APMMeasurement:3901", [transactions = std::move(transactions),
                                           callback = std::move(callback)](APMMeasurement& self) {
        const auto& log = monitor();
        const std::shared_ptr<APMDatabase> database = self.database();
        PurchaseTransactions kept;
        std::set<std::string> seenInThisCall;
        for (const platform::PaymentTransaction& transaction : transactions) {
            if (transaction.state != platform::PaymentTransactionState::Purchased) continue;
            const std::optional<std::string> fingerprint = APMTransactionFingerprint(&transaction);
            if (!fingerprint || fingerprint->empty()) {
                log->log(2, 23139,
                         "Purchase has nil or empty fingerprint. Purchase will not be checked for duplicates. "
                         "Product ID",
                         APMLogContext(transaction.productIdentifier));
                kept.push_back(transaction);
                continue;
            }
            bool known = seenInThisCall.contains(*fingerprint);
            if (!known && database) {
                APMResult<bool> stored = database->containsPurchaseFingerprint(*fingerprint);
                if (stored.failed()) {
                    log->log(1, 23140,
                             "Failed to save purchase fingerprint. Purchase will not be checked for duplicates. "
                             "Product ID, error",
                             APMLogContext(transaction.productIdentifier), APMLogContext(*stored.error));
                } else {
                    known = stored.value.value_or(false);
                }
            }
            if (known) {
                log->log(4, 23141, "Purchase is a duplicate and will not be reported. Product ID",
                         APMLogContext(transaction.productIdentifier));
                continue;
            }
            seenInThisCall.insert(*fingerprint);
            kept.push_back(transaction);
        }
        if (callback) self.answerOnCallbackQueue([callback, kept = std::move(kept)] { callback(kept); });
    });
}

void APMMeasurement::recordPurchaseFingerprint(const std::string& fingerprint) {
    scheduleWeakly("APMMeasurement:3902", [fingerprint](APMMeasurement& self) {
        const std::shared_ptr<APMDatabase> database = self.database();
        if (!database) return;
        APMResult<bool> inserted = database->insertIfNotDuplicatePurchaseFingerprint(fingerprint);
        if (inserted.failed()) {
            monitor()->log(1, 23140,
                           "Failed to save purchase fingerprint. Purchase will not be checked for duplicates. "
                           "Product ID, error",
                           APMLogContext(fingerprint), APMLogContext(*inserted.error));
        }
    });
}
