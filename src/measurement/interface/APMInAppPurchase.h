#pragma once
// The pure half of purchase reporting: exact micro-unit amounts, receipt
// date texts, purchase fingerprints, the classification of a purchase
// against the receipt's records, and the event it becomes. No state: every
// report works on its own copies.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "measurement/interface/APMReceipt.h"
#include "measurement/storage/APMValue.h"
#include "platform/core/PaymentStore.h"

// decimal x multiplier x 1000000, computed exactly from the decimal text and
// truncated toward zero ("0.99" x 3 gives 2970000). None for a text that is
// no plain decimal number or a result outside signed 64 bits.
std::optional<std::int64_t> APMMicros(const std::string& decimal, std::int64_t multiplier = 1);

// Receipt dates: "yyyy-MM-dd'T'HH:mm:ssZZZZZ" in GMT ("2024-03-01T10:00:00Z").
// Formatting drops the fraction of a second; parsing accepts "Z" or a
// "+hh:mm" / "-hh:mm" offset and answers whole seconds since 1970. A date
// that is not finite or lies outside the years 1 to 9999 has no text.
std::optional<std::string> APMIA5StringFromDate(std::optional<double> seconds);
std::optional<double> APMDateFromIA5String(const std::optional<std::string>& text);

// The last 8 bytes of the MD5 of original transaction ID, line-item ID (in
// decimal, when given) and product ID; -1 when either ID is empty.
std::int64_t APMPurchaseDid(const std::string& originalTransactionID, std::optional<std::uint64_t> webOrderLineItemID,
                            const std::string& productID);

// The engine's duplicate key of a payment-queue transaction: the lower-case
// hex MD5 of its identifier; none (logged 21014-21017) for a missing
// transaction, a state other than purchased, or a missing, empty or all
// "0"/"-" identifier.
std::optional<std::string> APMTransactionFingerprint(const platform::PaymentTransaction* transaction);

struct APMPurchaseFacts {
    const platform::Product* product = nullptr;
    bool discountsSupported = false;  // the store describes introductory prices
    long quantity = 0;
    std::string transactionID;
    std::string originalTransactionID;
    // Whole seconds since 1970; compared with the records' purchase dates.
    std::optional<double> transactionDate;
};

// The classified parameters of a purchase (with the transient "invalid",
// "sub_renew" and "sub_convert" marks), or none when it makes no event.
std::optional<APMParameters> APMClassifyPurchase(const APMPurchaseFacts& facts,
                                                 const std::vector<APMInAppPurchaseItem>& items);

struct APMPurchaseEvent {
    std::string name;
    APMParameters parameters;
};

// The event of classified parameters: "_iap", "_iapx", "_assr" or "_assc",
// with "validated", "sandbox" and "_skv" set as the environment says.
APMPurchaseEvent APMPurchaseEventFromParameters(APMParameters parameters, const std::optional<std::string>& environment,
                                                bool verifiedByCaller, bool sandboxReceipt,
                                                const std::string& storeKitVersion);
