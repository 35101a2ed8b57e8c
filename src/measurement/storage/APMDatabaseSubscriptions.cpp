// Subscription IDs and purchase fingerprints already reported: sets of
// identifiers that keep only their newest rows.

#include "measurement/storage/APMDatabase.h"

namespace {

constexpr std::int64_t kSubscriptionsLimit = 1000;
constexpr std::int64_t kPurchaseFingerprintsLimit = 1000;

}  // namespace

APMResult<bool> APMDatabase::insertIfNotDuplicateSubscriptionID(const std::string& subscriptionID) {
    if (subscriptionID.empty()) return APMResult<bool>::success(false);
    auto inserted = store_->execute("INSERT OR IGNORE INTO subscriptions (subscription_id) VALUES (?)", {subscriptionID});
    if (inserted.failed()) return APMResult<bool>::failure(*inserted.error);
    return APMResult<bool>::success(*inserted.value > 0);
}

APMResult<std::int64_t> APMDatabase::deleteSubscriptionsOverLimit() {
    return store_->execute("DELETE FROM subscriptions WHERE rowid NOT IN "
                           "(SELECT rowid FROM subscriptions ORDER BY rowid DESC LIMIT ?)",
                           {kSubscriptionsLimit});
}

APMResult<bool> APMDatabase::insertIfNotDuplicatePurchaseFingerprint(const std::string& fingerprint) {
    using Result = APMResult<bool>;
    if (fingerprint.empty()) {
        return Result::failure(
            APMError::withCode(kAPMDatabaseErrorInvalidArgument, "Received empty purchase fingerprint"));
    }
    bool isNew = false;
    APMError error;
    bool stored = runInTransaction(&error, [&](APMError* failure) {
        auto inserted =
            store_->execute("INSERT OR IGNORE INTO purchase_transactions (fingerprint) VALUES (?)", {fingerprint});
        if (inserted.failed()) {
            *failure = *inserted.error;
            return false;
        }
        isNew = *inserted.value > 0;
        return !isNew || run("DELETE FROM purchase_transactions WHERE rowid NOT IN "
                             "(SELECT rowid FROM purchase_transactions ORDER BY rowid DESC LIMIT ?)",
                             {kPurchaseFingerprintsLimit}, failure);
    });
    if (!stored) return Result::failure(error);
    return Result::success(isNew);
}

APMResult<bool> APMDatabase::containsPurchaseFingerprint(const std::string& fingerprint) {
    auto exists = queryInteger("SELECT EXISTS (SELECT 1 FROM purchase_transactions WHERE fingerprint = ?)", {fingerprint});
    if (exists.failed()) return APMResult<bool>::failure(*exists.error);
    return APMResult<bool>::success(exists.value.value_or(0) != 0);
}
