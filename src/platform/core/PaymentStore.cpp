#include "platform/core/PaymentStore.h"

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

}  // namespace platform
