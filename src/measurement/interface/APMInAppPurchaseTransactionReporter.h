#pragma once
// Purchase reporting: turns completed store purchases into the automatic
// events "_iap", "_iapx", "_assr" and "_assc" (origin "auto").
//
// Two roads lead here. The payment-queue road: the facade's payment-queue
// observer hands each update to paymentQueueUpdatedTransactions(), which asks
// the engine to drop purchases already reported and reports the rest. The
// caller road: reportTransaction() with a transaction the application got
// itself. Both classify each purchase against the receipt's purchase records,
// parsed afresh into a list owned by that one report, so concurrent reports
// share no mutable state.
//
// The engine remembers a purchase (its fingerprint) only once its event has
// been logged: a report dropped on the way, e.g. by a failing product request,
// leaves the purchase free to be reported by a later update.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "measurement/interface/APMInAppPurchase.h"
#include "measurement/storage/APMError.h"
#include "platform/core/AppReceipt.h"
#include "platform/core/Dispatch.h"
#include "platform/core/PaymentStore.h"

// A small cache of store products and of the IDs the store called invalid,
// at most 100 entries together. Its maps are used only on its serial queue
// "com.vadova.vaz.measurement.iap-cache".
class APMInAppPurchaseProductCache : public std::enable_shared_from_this<APMInAppPurchaseProductCache> {
public:
    using Products = std::map<std::string, platform::Product>;
    using Handler = std::function<void(Products products, std::set<std::string> invalid, std::optional<APMError> error)>;

    static std::shared_ptr<APMInAppPurchaseProductCache> create(platform::Dispatcher& dispatcher,
                                                                std::shared_ptr<platform::PaymentStore> store);

    [[nodiscard]] std::optional<platform::Product> cachedProductForProductIdentifier(const std::string& productID);
    bool isCachedAsInvalid(const std::string& productID);
    // Asks the store; the answer updates the cache and then goes to `handler`
    // on `queue`. Nothing happens without a queue or a handler.
    void requestProductsWithProductIdentifiers(std::set<std::string> productIDs, platform::QueueRef queue,
                                               Handler handler);
    bool supportsProductDiscounts() const { return store_->supportsProductDiscounts(); }

private:
    APMInAppPurchaseProductCache(platform::Dispatcher& dispatcher, std::shared_ptr<platform::PaymentStore> store);
    void absorbOnQueue(const Products& products, const std::set<std::string>& invalid);

    std::shared_ptr<platform::PaymentStore> store_;
    platform::QueueRef queue_;
    Products products_;              // on queue_
    std::set<std::string> invalid_;  // on queue_
};

// One store product request: the handler runs once, on `queue`. A request the
// store cannot start answers with error code 1 "Invalid product identifiers.".
struct APMProductsRequest {
    static void requestProductsWithProductIdentifiers(platform::PaymentStore& store, const std::set<std::string>& ids,
                                                      platform::QueueRef queue,
                                                      APMInAppPurchaseProductCache::Handler handler);
};

// A transaction that the application obtained and reports itself.
struct APMCallerTransaction {
    std::string productID;
    std::string transactionID;
    std::string originalTransactionID;
    std::optional<std::uint64_t> webOrderLineItemID;
    std::optional<std::int64_t> productType;
    bool isFreeTrial = false;
    bool isIntroductoryOffer = false;
    long paymentQuantity = 1;
    std::optional<double> purchaseDate;  // seconds since 1970
    std::optional<double> originalPurchaseDate;
    std::optional<double> subscriptionExpirationDate;
    std::optional<double> cancellationDate;
    std::optional<std::string> environment;
    bool isVerified = false;
};

class APMInAppPurchaseTransactionReporter : public std::enable_shared_from_this<APMInAppPurchaseTransactionReporter> {
public:
    using Transactions = std::vector<platform::PaymentTransaction>;
    // What the reporter needs of the engine; wired at start-up. Events go
    // out through the layer's internal-event entry (APMLogInternalEvent).
    struct Seams {
        // The engine's duplicate filter: calls back (on any thread) with the
        // purchased transactions whose fingerprint it has not recorded. It
        // must not record them itself.
        std::function<void(Transactions, std::function<void(Transactions)>)> filterPurchaseTransactions;
        // Records a fingerprint once its purchase's event is logged.
        std::function<void(const std::string&)> recordPurchaseFingerprint;
    };

    // Reports run on `reportingQueue`.
    static std::shared_ptr<APMInAppPurchaseTransactionReporter> create(
        platform::Dispatcher& dispatcher, platform::QueueRef reportingQueue,
        std::shared_ptr<APMInAppPurchaseProductCache> cache, std::shared_ptr<platform::AppReceipt> receipt, Seams seams);

    // The payment-queue observer's entry: duplicates filtered by the engine,
    // then paymentQueueUpdatedFilteredTransactions().
    void paymentQueueUpdatedTransactions(Transactions transactions);
    void paymentQueueUpdatedFilteredTransactions(Transactions transactions);
    void reportTransactionsFromArray(const Transactions& transactions);
    void reportTransaction(APMCallerTransaction transaction);

    // The receipt's purchase records; none without receipt data.
    std::optional<std::vector<APMInAppPurchaseItem>> parsePurchasedItemsFromReceipt() const;

private:
    APMInAppPurchaseTransactionReporter(platform::Dispatcher& dispatcher, platform::QueueRef reportingQueue,
                                        std::shared_ptr<APMInAppPurchaseProductCache> cache,
                                        std::shared_ptr<platform::AppReceipt> receipt, Seams seams);
    // Classifies and logs; true when an event was logged.
    bool report(const platform::Product* product, const APMPurchaseFacts& facts,
                const std::vector<APMInAppPurchaseItem>& items, const std::optional<std::string>& environment,
                bool verifiedByCaller, const char* storeKitVersion) const;

    const platform::QueueRef reportingQueue_;
    const std::shared_ptr<APMInAppPurchaseProductCache> cache_;
    const std::shared_ptr<platform::AppReceipt> receipt_;
    const Seams seams_;
};
