#include "platform/core/PaymentStore.h"

#include <algorithm>

namespace platform {

void InMemoryPaymentStore::addProduct(Product product) {
    std::lock_guard lock(mutex_);
    auto id = product.productIdentifier;
    products_[id] = std::move(product);
}

void InMemoryPaymentStore::failNextRequests(int count, std::string error) {
    std::lock_guard lock(mutex_);
    failures_ = count;
    failureText_ = std::move(error);
}

int InMemoryPaymentStore::requestCount() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool InMemoryPaymentStore::requestProducts(const std::set<std::string>& productIdentifiers, Completion completion) {
    std::optional<ProductsResponse> response;
    std::optional<std::string> error;
    {
        std::lock_guard lock(mutex_);
        ++requests_;
        if (failures_ > 0) {
            --failures_;
            error = failureText_;
        } else {
            response.emplace();
            for (const auto& id : productIdentifiers) {
                const auto found = products_.find(id);
                if (found == products_.end()) {
                    response->invalidProductIdentifiers.push_back(id);
                } else {
                    response->products.push_back(found->second);
                }
            }
        }
    }
    if (completion) completion(std::move(response), std::move(error));
    return true;
}

void InMemoryPaymentStore::addTransactionObserver(const std::shared_ptr<PaymentTransactionObserver>& observer) {
    if (!observer) return;
    std::lock_guard lock(mutex_);
    const bool known = std::any_of(observers_.begin(), observers_.end(),
                                   [&](const auto& weak) { return weak.lock() == observer; });
    if (!known) observers_.push_back(observer);
}

void InMemoryPaymentStore::removeTransactionObserver(const PaymentTransactionObserver* observer) {
    std::lock_guard lock(mutex_);
    std::erase_if(observers_, [&](const auto& weak) {
        const auto strong = weak.lock();
        return !strong || strong.get() == observer;
    });
}

void InMemoryPaymentStore::deliverTransactions(const std::vector<PaymentTransaction>& transactions) {
    std::vector<std::shared_ptr<PaymentTransactionObserver>> living;
    {
        std::lock_guard lock(mutex_);
        for (const auto& weak : observers_) {
            if (auto strong = weak.lock()) living.push_back(std::move(strong));
        }
    }
    for (const auto& observer : living) observer->paymentQueueUpdatedTransactions(transactions);
}

}  // namespace platform
