#pragma once
// The application store's purchase side, as the measurement library sees it:
// payment transactions the payment queue delivers to its observers, the
// products they refer to, and product requests. Linux has no application
// store: NoPaymentStore delivers no transaction and answers every request
// with "no store". InMemoryPaymentStore holds products that tests add and
// answers requests from them, and delivers the transactions tests hand it.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace platform {

enum class PaymentTransactionState { Purchasing = 0, Purchased = 1, Failed = 2, Restored = 3, Deferred = 4 };

struct PaymentTransaction {
    PaymentTransactionState state = PaymentTransactionState::Purchased;
    std::string productIdentifier;  // of the payment
    long quantity = 1;              // of the payment
    std::optional<std::string> transactionIdentifier;
    // The original transaction's identifier; none when there is no original.
    std::optional<std::string> originalTransactionIdentifier;
    std::optional<double> transactionDate;  // seconds since 1970
    long errorCode = 0;                     // of the transaction's error, 0 when none
};

// An introductory price. Payment mode 2 is a free trial.
struct ProductDiscount {
    std::optional<std::string> price;  // decimal text, e.g. "0.49"
    long paymentMode = 0;
};

struct Product {
    std::string productIdentifier;
    std::string price;  // exact decimal text, e.g. "0.99"
    std::optional<std::string> currencyCode;
    std::optional<std::string> localizedTitle;
    std::optional<ProductDiscount> introductoryPrice;
};

struct ProductsResponse {
    std::vector<Product> products;
    std::vector<std::string> invalidProductIdentifiers;
};

// Told of each update of the payment queue's transactions.
class PaymentTransactionObserver {
public:
    virtual ~PaymentTransactionObserver() = default;
    virtual void paymentQueueUpdatedTransactions(const std::vector<PaymentTransaction>& transactions) = 0;
};

class PaymentStore {
public:
    // Exactly one of the response and the error text is set.
    using Completion = std::function<void(std::optional<ProductsResponse> response, std::optional<std::string> error)>;
    virtual ~PaymentStore() = default;
    // Starts a product request whose completion runs once, on any thread.
    // False when no request can be made; the completion is then never called.
    [[nodiscard]] virtual bool requestProducts(const std::set<std::string>& productIdentifiers, Completion completion) = 0;
    // Whether the store describes introductory prices at all.
    virtual bool supportsProductDiscounts() const = 0;
    // Observers are held weakly; one added twice is told once.
    virtual void addTransactionObserver(const std::shared_ptr<PaymentTransactionObserver>& observer) = 0;
    virtual void removeTransactionObserver(const PaymentTransactionObserver* observer) = 0;
};

class NoPaymentStore final : public PaymentStore {
public:
    [[nodiscard]] bool requestProducts(const std::set<std::string>&, Completion) override { return false; }
    bool supportsProductDiscounts() const override { return false; }
    void addTransactionObserver(const std::shared_ptr<PaymentTransactionObserver>&) override {}
    void removeTransactionObserver(const PaymentTransactionObserver*) override {}
};

// Answers at once, on the calling thread: the known products, every other ID
// as invalid; or, after failNextRequests(), with an error. Delivers
// transactions on the calling thread too, with no lock held.
class InMemoryPaymentStore final : public PaymentStore {
public:
    void addProduct(Product product);
    // The next `count` requests fail with `error`.
    void failNextRequests(int count, std::string error);
    int requestCount() const;
    [[nodiscard]] bool requestProducts(const std::set<std::string>& productIdentifiers, Completion completion) override;
    bool supportsProductDiscounts() const override { return true; }
    void addTransactionObserver(const std::shared_ptr<PaymentTransactionObserver>& observer) override;
    void removeTransactionObserver(const PaymentTransactionObserver* observer) override;
    // Tells every living observer, in the order they were added.
    void deliverTransactions(const std::vector<PaymentTransaction>& transactions);

private:
    mutable std::mutex mutex_;
    std::vector<std::weak_ptr<PaymentTransactionObserver>> observers_;
    std::map<std::string, Product> products_;
    int failures_ = 0;
    std::string failureText_;
    int requests_ = 0;
};

}  // namespace platform
