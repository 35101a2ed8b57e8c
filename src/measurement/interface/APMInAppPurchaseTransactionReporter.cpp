#include "measurement/interface/APMInAppPurchaseTransactionReporter.h"

#include <cmath>

#include "measurement/interface/APMErrorEventLogging.h"
#include "measurement/storage/APMMonitor.h"

namespace {

constexpr std::size_t kMaxCacheEntries = 100;

std::vector<APMInAppPurchaseItem> itemsOrEmpty(std::optional<std::vector<APMInAppPurchaseItem>> items) {
    return items ? std::move(*items) : std::vector<APMInAppPurchaseItem>{};
}

std::optional<double> wholeSeconds(std::optional<double> seconds) {
    // Formatting and reading back drops the fraction, as receipt dates do.
    return APMDateFromIA5String(APMIA5StringFromDate(seconds));
}

}  // namespace

// Product cache ---------------------------------------------------------------

std::shared_ptr<APMInAppPurchaseProductCache> APMInAppPurchaseProductCache::create(
    platform::Dispatcher& dispatcher, std::shared_ptr<platform::PaymentStore> store) {
    return std::shared_ptr<APMInAppPurchaseProductCache>(
        new APMInAppPurchaseProductCache(dispatcher, store ? std::move(store) : std::make_shared<platform::NoPaymentStore>()));
}

APMInAppPurchaseProductCache::APMInAppPurchaseProductCache(platform::Dispatcher& dispatcher,
                                                           std::shared_ptr<platform::PaymentStore> store)
    : store_(std::move(store)),
      queue_(dispatcher.makeSerialQueue("com.vadova.vaz.measurement.iap-cache")) {}

std::optional<platform::Product> APMInAppPurchaseProductCache::cachedProductForProductIdentifier(
    const std::string& productID) {
    std::optional<platform::Product> product;
    queue_->sync([&] {
        const auto found = products_.find(productID);
        if (found != products_.end()) product = found->second;
    });
    return product;
}

bool APMInAppPurchaseProductCache::isCachedAsInvalid(const std::string& productID) {
    bool invalid = false;
    queue_->sync([&] { invalid = invalid_.count(productID) > 0; });
    return invalid;
}

void APMInAppPurchaseProductCache::absorbOnQueue(const Products& products, const std::set<std::string>& invalid) {
    for (const auto& [id, product] : products) products_[id] = product;
    for (const auto& id : invalid) products_.erase(id);
    invalid_.insert(invalid.begin(), invalid.end());
    for (const auto& [id, product] : products) invalid_.erase(id);
    if (products_.size() + invalid_.size() > kMaxCacheEntries) {
        products_ = products;
        invalid_ = invalid;
    }
}

void APMInAppPurchaseProductCache::requestProductsWithProductIdentifiers(std::set<std::string> productIDs,
                                                                         platform::QueueRef queue, Handler handler) {
    if (!queue || !handler) return;
    std::weak_ptr<APMInAppPurchaseProductCache> weak = weak_from_this();
    APMProductsRequest::requestProductsWithProductIdentifiers(
        *store_, productIDs, queue_,
        [weak, queue, handler](Products products, std::set<std::string> invalid, std::optional<APMError> error) {
            if (const auto self = weak.lock()) self->absorbOnQueue(products, invalid);
            queue->async([handler, products = std::move(products), invalid = std::move(invalid),
                          error = std::move(error)]() mutable {
                handler(std::move(products), std::move(invalid), std::move(error));
            });
        });
}

void APMProductsRequest::requestProductsWithProductIdentifiers(platform::PaymentStore& store,
                                                               const std::set<std::string>& ids,
                                                               platform::QueueRef queue,
                                                               APMInAppPurchaseProductCache::Handler handler) {
    if (!queue || !handler) return;
    const bool started = store.requestProducts(
        ids, [queue, handler](std::optional<platform::ProductsResponse> response, std::optional<std::string> error) {
            APMInAppPurchaseProductCache::Products products;
            std::set<std::string> invalid;
            std::optional<APMError> failure;
            if (response) {
                for (auto& product : response->products) {
                    if (!product.productIdentifier.empty()) products[product.productIdentifier] = product;
                }
                invalid.insert(response->invalidProductIdentifiers.begin(), response->invalidProductIdentifiers.end());
            } else {
                failure = APMError::withCode(2, error.value_or("Product request failed."));
            }
            queue->async([handler, products = std::move(products), invalid = std::move(invalid),
                          failure = std::move(failure)]() mutable {
                handler(std::move(products), std::move(invalid), std::move(failure));
            });
        });
    if (!started) {
        queue->async([handler] { handler({}, {}, APMError::withCode(1, "Invalid product identifiers.")); });
    }
}

// Reporter --------------------------------------------------------------------

std::shared_ptr<APMInAppPurchaseTransactionReporter> APMInAppPurchaseTransactionReporter::create(
    platform::Dispatcher& dispatcher, platform::QueueRef reportingQueue,
    std::shared_ptr<APMInAppPurchaseProductCache> cache, std::shared_ptr<platform::AppReceipt> receipt, Seams seams) {
    return std::shared_ptr<APMInAppPurchaseTransactionReporter>(new APMInAppPurchaseTransactionReporter(
        dispatcher, std::move(reportingQueue), std::move(cache),
        receipt ? std::move(receipt) : std::make_shared<platform::NoAppReceipt>(), std::move(seams)));
}

APMInAppPurchaseTransactionReporter::APMInAppPurchaseTransactionReporter(
    platform::Dispatcher&, platform::QueueRef reportingQueue,
    std::shared_ptr<APMInAppPurchaseProductCache> cache, std::shared_ptr<platform::AppReceipt> receipt, Seams seams)
    : reportingQueue_(std::move(reportingQueue)),
      cache_(std::move(cache)),
      receipt_(std::move(receipt)),
      seams_(std::move(seams)) {}

std::optional<std::vector<APMInAppPurchaseItem>> APMInAppPurchaseTransactionReporter::parsePurchasedItemsFromReceipt()
    const {
    const auto data = receipt_->receiptData();
    if (!data || data->empty()) return std::nullopt;
    auto items = APMReceiptPurchaseItems(*data);
    APMMonitor::shared()->log(7, 21028, "Parsed purchase items from receipt");
    return items;
}

void APMInAppPurchaseTransactionReporter::paymentQueueUpdatedTransactions(Transactions transactions) {
    if (!seams_.filterPurchaseTransactions) {
        paymentQueueUpdatedFilteredTransactions(std::move(transactions));
        return;
    }
    std::weak_ptr<APMInAppPurchaseTransactionReporter> weak = weak_from_this();
    seams_.filterPurchaseTransactions(std::move(transactions), [weak](Transactions kept) {
        if (const auto self = weak.lock()) self->paymentQueueUpdatedFilteredTransactions(std::move(kept));
    });
}

void APMInAppPurchaseTransactionReporter::paymentQueueUpdatedFilteredTransactions(Transactions transactions) {
    Transactions kept;
    std::set<std::string> unknown;
    for (auto& transaction : transactions) {
        if (transaction.state != platform::PaymentTransactionState::Purchased || transaction.productIdentifier.empty()) {
            continue;
        }
        if (!cache_->cachedProductForProductIdentifier(transaction.productIdentifier)) {
            unknown.insert(transaction.productIdentifier);
        }
        kept.push_back(std::move(transaction));
    }
    if (kept.empty()) return;
    std::weak_ptr<APMInAppPurchaseTransactionReporter> weak = weak_from_this();
    if (unknown.empty()) {
        reportingQueue_->async([weak, kept = std::move(kept)] {
            if (const auto self = weak.lock()) self->reportTransactionsFromArray(kept);
        });
        return;
    }
    cache_->requestProductsWithProductIdentifiers(
        std::move(unknown), reportingQueue_,
        [weak, kept = std::move(kept)](APMInAppPurchaseProductCache::Products products, std::set<std::string>,
                                       std::optional<APMError> error) {
            if (error && products.empty()) {
                APMMonitor::shared()->log(1, 21027, "Cannot request product information. Error", *error);
                return;
            }
            if (const auto self = weak.lock()) self->reportTransactionsFromArray(kept);
        });
}

void APMInAppPurchaseTransactionReporter::reportTransactionsFromArray(const Transactions& transactions) {
    const auto items = itemsOrEmpty(parsePurchasedItemsFromReceipt());
    for (const auto& transaction : transactions) {
        const auto product = cache_->cachedProductForProductIdentifier(transaction.productIdentifier);
        APMPurchaseFacts facts;
        facts.quantity = transaction.quantity;
        facts.transactionID = transaction.transactionIdentifier.value_or("");
        facts.originalTransactionID = transaction.originalTransactionIdentifier.value_or("");
        facts.transactionDate = wholeSeconds(transaction.transactionDate);
        const bool logged =
            report(product ? &*product : nullptr, facts, items, std::nullopt, /*verifiedByCaller=*/false, "1");
        if (!logged || !seams_.recordPurchaseFingerprint) continue;
        if (const auto fingerprint = APMTransactionFingerprint(&transaction)) seams_.recordPurchaseFingerprint(*fingerprint);
    }
}

void APMInAppPurchaseTransactionReporter::reportTransaction(APMCallerTransaction transaction) {
    auto items = itemsOrEmpty(parsePurchasedItemsFromReceipt());
    if (transaction.isVerified) {
        bool known = false;
        for (const auto& item : items) known = known || item.transactionID == transaction.transactionID;
        if (!known) {
            APMInAppPurchaseItem item;
            item.freeTrial = transaction.isFreeTrial;
            item.introductoryOffer = transaction.isIntroductoryOffer;
            item.productID = transaction.productID;
            item.originalTransactionID = transaction.originalTransactionID;
            item.transactionID = transaction.transactionID;
            item.webOrderLineItemID = transaction.webOrderLineItemID;
            item.purchaseType = transaction.productType;
            item.purchaseDateIA5String = APMIA5StringFromDate(transaction.purchaseDate);
            item.originalPurchaseDateIA5String = APMIA5StringFromDate(transaction.originalPurchaseDate);
            item.subscriptionExpirationDateIA5String = APMIA5StringFromDate(transaction.subscriptionExpirationDate);
            item.cancellationDateIA5String = APMIA5StringFromDate(transaction.cancellationDate);
            items.insert(items.begin(), std::move(item));
        }
    }
    APMPurchaseFacts facts;
    facts.quantity = transaction.paymentQuantity;
    facts.transactionID = transaction.transactionID;
    facts.originalTransactionID = transaction.originalTransactionID;
    facts.transactionDate = wholeSeconds(transaction.purchaseDate);

    std::weak_ptr<APMInAppPurchaseTransactionReporter> weak = weak_from_this();
    auto finish = [weak, facts, items = std::move(items), environment = transaction.environment,
                   verified = transaction.isVerified](platform::Product product) {
        if (const auto self = weak.lock()) self->report(&product, facts, items, environment, verified, "2");
    };
    if (auto product = cache_->cachedProductForProductIdentifier(transaction.productID)) {
        reportingQueue_->async([finish, product = std::move(*product)] { finish(product); });
        return;
    }
    cache_->requestProductsWithProductIdentifiers(
        {transaction.productID}, reportingQueue_,
        [finish](APMInAppPurchaseProductCache::Products products, std::set<std::string>, std::optional<APMError> error) {
            if (products.empty()) {
                APMMonitor::shared()->log(1, 21027, "Cannot request product information. Error",
                                          error ? APMLogContext(*error) : APMLogContext("(null)"));
                return;
            }
            finish(products.begin()->second);
        });
}

bool APMInAppPurchaseTransactionReporter::report(const platform::Product* product, const APMPurchaseFacts& factsIn,
                                                 const std::vector<APMInAppPurchaseItem>& items,
                                                 const std::optional<std::string>& environment, bool verifiedByCaller,
                                                 const char* storeKitVersion) const {
    auto facts = factsIn;
    facts.product = product;
    facts.discountsSupported = cache_->supportsProductDiscounts();
    auto parameters = APMClassifyPurchase(facts, items);
    if (!parameters) return false;
    auto event = APMPurchaseEventFromParameters(std::move(*parameters), environment, verifiedByCaller,
                                                receipt_->isSandboxReceipt(), storeKitVersion);
    APMLogInternalEvent("auto", event.name, event.parameters);
    return true;
}
