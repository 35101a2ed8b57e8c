#include "measurement/interface/APMInAppPurchase.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "measurement/storage/APMDigest.h"
#include "measurement/storage/APMMonitor.h"

namespace {

using Int128 = __int128;

void verbose(long code, const char* message) { APMMonitor::shared()->log(8, code, message); }

bool isOne(const APMParameters& parameters, const char* name) {
    const auto* value = parameters.find(name);
    return value && value->isInt64() && value->int64Value() == 1;
}

struct DatedItem {
    const APMInAppPurchaseItem* item;
    std::optional<double> date;
};

// The records of one product, oldest purchase first (records whose date does
// not read come first, in file order).
std::vector<DatedItem> itemsOfProduct(const std::vector<APMInAppPurchaseItem>& items, const std::string& productID) {
    std::vector<DatedItem> result;
    for (const auto& item : items) {
        if (item.productID == productID) result.push_back({&item, APMDateFromIA5String(item.purchaseDateIA5String)});
    }
    std::stable_sort(result.begin(), result.end(), [](const DatedItem& a, const DatedItem& b) {
        if (!a.date || !b.date) return !a.date && b.date;
        return *a.date < *b.date;
    });
    return result;
}

std::int64_t didOf(const APMInAppPurchaseItem& item, bool withLineItem) {
    return APMPurchaseDid(item.originalTransactionID.value_or(""), withLineItem ? item.webOrderLineItemID : std::nullopt,
                          item.productID.value_or(""));
}

void markRenewal(APMParameters& parameters, const std::vector<DatedItem>& ofProduct, std::size_t index) {
    const auto& item = *ofProduct[index].item;
    if (item.originalTransactionID == item.transactionID) return;
    const bool previousWasTrial = index > 0 && ofProduct[index - 1].item->freeTrial;
    parameters.set(previousWasTrial ? "sub_convert" : "sub_renew", APMValue(1));
}

void applyFreeTrialPrice(APMParameters& parameters) {
    if (const auto* price = parameters.find("price")) parameters.set("original_price", *price);
    parameters.set("price_is_discounted", APMValue(1));
    parameters.set("price", APMValue(0));
    parameters.set("value", APMValue(0));
}

void applyDiscounts(APMParameters& parameters, const APMPurchaseFacts& facts) {
    if (isOne(parameters, "free_trial")) {
        applyFreeTrialPrice(parameters);
        return;
    }
    if (!isOne(parameters, "price_is_discounted")) return;
    if (!facts.discountsSupported || !facts.product->introductoryPrice) return;
    const auto& discount = *facts.product->introductoryPrice;
    if (discount.paymentMode == 2) {
        applyFreeTrialPrice(parameters);
        return;
    }
    if (!discount.price) return;
    const auto price = APMMicros(*discount.price);
    if (!price) return;
    if (const auto* original = parameters.find("price")) parameters.set("original_price", *original);
    parameters.set("price", APMValue(*price));
    if (facts.quantity != 0) {
        if (const auto value = APMMicros(*discount.price, facts.quantity)) {
            parameters.set("value", APMValue(*value));
        } else {
            parameters.erase("value");
        }
    }
}

// Steps after the base parameters; answers once the classification is done.
void classify(APMParameters& parameters, const APMPurchaseFacts& facts, const std::vector<APMInAppPurchaseItem>& items) {
    const auto& productID = facts.product->productIdentifier;
    const auto ofProduct = itemsOfProduct(items, productID);
    if (ofProduct.empty()) {
        APMMonitor::shared()->log(8, 40020, "Transaction missing in receipt will be reported as invalid", productID);
        parameters.set("invalid", APMValue(1));
        return;
    }
    const auto& last = *ofProduct.back().item;
    const bool idsDiffer = !facts.transactionID.empty() && !facts.originalTransactionID.empty() &&
                           facts.transactionID != facts.originalTransactionID;
    if (last.purchaseType == 0 && idsDiffer) {
        verbose(40005, "Restore/repurchase of non-consumable item will be reported as invalid");
        parameters.set("invalid", APMValue(1));
        return;
    }
    const bool subscription = last.purchaseType == 2 || last.purchaseType == 3 || last.webOrderLineItemID.has_value();
    if (!subscription) {
        if (last.transactionID == last.originalTransactionID) {
            if (last.purchaseType == 1) verbose(40021, "Transaction of consumable item will be reported");
            if (last.purchaseType == 0) verbose(40022, "Transaction of non-consumable item will be reported");
            parameters.set("_did", APMValue(didOf(last, false)));
        } else {
            verbose(40007, "Transaction with mismatched transaction ID and original transaction ID will be reported as "
                           "consumable");
        }
        return;
    }
    // Whole seconds on both sides: receipt dates carry no fraction.
    std::vector<std::size_t> sameDate;
    const auto wanted = facts.transactionDate ? std::optional<double>(std::floor(*facts.transactionDate)) : std::nullopt;
    for (std::size_t i = 0; i < ofProduct.size(); ++i) {
        if (wanted && ofProduct[i].date == wanted) sameDate.push_back(i);
    }
    if (sameDate.size() != 1) {
        if (sameDate.empty()) {
            verbose(40023, "Subscription transaction missing in receipt will be reported as invalid");
        } else {
            APMMonitor::shared()->log(8, 40024,
                                      "Subscription transaction with duplicate transaction date will be reported as "
                                      "invalid",
                                      productID, static_cast<unsigned long>(sameDate.size()));
        }
        parameters.set("invalid", APMValue(1));
        parameters.set("subscription", APMValue(1));
        return;
    }
    const auto index = sameDate.front();
    const auto& item = *ofProduct[index].item;
    if (item.purchaseType == 2) {
        parameters.set("subscription", APMValue(1));
        parameters.set("_did", APMValue(didOf(item, false)));
        verbose(40025, "Transaction of non-renewing subscription will be reported");
        return;
    }
    if (item.originalTransactionID == item.transactionID) parameters.set("subscription", APMValue(1));
    parameters.set("_did", APMValue(didOf(item, true)));
    if (!item.freeTrial && !item.introductoryOffer) {
        verbose(40008, "Transaction of auto-renewable subscription will be reported");
        markRenewal(parameters, ofProduct, index);
        return;
    }
    if (item.freeTrial) {
        parameters.set("free_trial", APMValue(1));
        if (idsDiffer) {
            verbose(40011, "Repurchase of free-trial auto-renewable subscription will be reported as invalid");
            parameters.set("invalid", APMValue(1));
            return;
        }
        verbose(40009, "Transaction of free-trial auto-renewable subscription will be reported");
    }
    if (item.introductoryOffer) {
        parameters.set("price_is_discounted", APMValue(1));
        markRenewal(parameters, ofProduct, index);
        verbose(40018, "Transaction of introductory offer will be reported");
    }
    verbose(40010, "Transaction of auto-renewable subscription renewal will be reported");
}

}  // namespace

std::optional<std::int64_t> APMMicros(const std::string& decimal, std::int64_t multiplier) {
    std::size_t i = 0;
    bool negative = false;
    if (i < decimal.size() && (decimal[i] == '+' || decimal[i] == '-')) negative = decimal[i++] == '-';
    Int128 mantissa = 0;
    int scale = 0;
    bool digits = false;
    bool point = false;
    constexpr Int128 kLimit = Int128(1) << 100;
    for (; i < decimal.size(); ++i) {
        const char c = decimal[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') return std::nullopt;
        digits = true;
        // Digits beyond what can matter after truncation to micro-units of a
        // 64-bit amount are dropped (truncation toward zero keeps the result).
        if (mantissa >= kLimit / 10) {
            if (!point) return std::nullopt;
            continue;
        }
        mantissa = mantissa * 10 + (c - '0');
        if (point) ++scale;
    }
    if (!digits) return std::nullopt;
    Int128 result = mantissa;
    Int128 product = 0;
    if (__builtin_mul_overflow(result, static_cast<Int128>(multiplier), &product)) return std::nullopt;
    if (__builtin_mul_overflow(product, static_cast<Int128>(1000000), &result)) return std::nullopt;
    for (int s = 0; s < scale; ++s) result /= 10;  // truncates toward zero
    if (negative) result = -result;
    if (result > INT64_MAX || result < INT64_MIN) return std::nullopt;
    return static_cast<std::int64_t>(result);
}

std::optional<std::string> APMIA5StringFromDate(std::optional<double> seconds) {
    // The text holds a four-digit year; outside years 1 to 9999 (and for NaN or
    // infinity, which these comparisons reject) there is no date text, and the
    // conversion to time_t below stays in range.
    constexpr double kFirstSecond = -62135596800.0;     // 0001-01-01T00:00:00Z
    constexpr double kPastLastSecond = 253402300800.0;  // 10000-01-01T00:00:00Z
    if (!seconds || !(*seconds >= kFirstSecond && *seconds < kPastLastSecond)) return std::nullopt;
    const auto whole = static_cast<std::time_t>(std::floor(*seconds));
    std::tm parts{};
    if (!gmtime_r(&whole, &parts)) return std::nullopt;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return std::string(text);
}

std::optional<double> APMDateFromIA5String(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    int year, month, day, hour, minute, second, consumed = 0;
    if (std::sscanf(text->c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute, &second,
                    &consumed) != 6 || consumed != 19) {
        return std::nullopt;
    }
    const std::string zone = text->substr(19);
    long offset = 0;
    if (zone != "Z") {
        int zh, zm, used = 0;
        if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') ||
            std::sscanf(zone.c_str() + 1, "%2d:%2d%n", &zh, &zm, &used) != 2 || used != 5) {
            return std::nullopt;
        }
        offset = (zh * 3600L + zm * 60L) * (zone[0] == '-' ? -1 : 1);
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return std::nullopt;
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return static_cast<double>(timegm(&parts) - offset);
}

std::int64_t APMPurchaseDid(const std::string& originalTransactionID, std::optional<std::uint64_t> webOrderLineItemID,
                            const std::string& productID) {
    if (originalTransactionID.empty() || productID.empty()) return -1;
    std::string text = originalTransactionID;
    if (webOrderLineItemID) text += std::to_string(*webOrderLineItemID);
    text += productID;
    return APM64LSBMD5(text);
}

std::optional<std::string> APMTransactionFingerprint(const platform::PaymentTransaction* transaction) {
    auto& monitor = *APMMonitor::shared();
    if (!transaction) {
        monitor.log(2, 21014, "Transaction is nil");
        return std::nullopt;
    }
    if (transaction->state != platform::PaymentTransactionState::Purchased) return std::nullopt;
    if (!transaction->transactionIdentifier) {
        monitor.log(2, 21015, "Transaction identifier is nil. Code", transaction->errorCode);
        return std::nullopt;
    }
    const auto& identifier = *transaction->transactionIdentifier;
    if (identifier.empty()) {
        monitor.log(2, 21016, "Transaction identifier is empty. Code", transaction->errorCode);
        return std::nullopt;
    }
    if (identifier.find_first_not_of("0-") == std::string::npos) {
        monitor.log(2, 21017, "Transaction identifier is only zeroes. Code", transaction->errorCode);
        return std::nullopt;
    }
    return APMMD5String(identifier);
}

std::optional<APMParameters> APMClassifyPurchase(const APMPurchaseFacts& facts,
                                                 const std::vector<APMInAppPurchaseItem>& items) {
    if (!facts.product) {
        verbose(40026, "IAP Transaction cannot be created from nil product");
        return std::nullopt;
    }
    const auto& product = *facts.product;
    if (product.productIdentifier.empty()) {
        verbose(40027, "IAP Transaction cannot be created from empty or nil product ID");
        return std::nullopt;
    }
    APMParameters parameters;
    parameters.set("product_id", APMValue(product.productIdentifier));
    if (const auto price = APMMicros(product.price)) parameters.set("price", APMValue(*price));
    if (facts.quantity != 0) {
        if (const auto value = APMMicros(product.price, facts.quantity)) parameters.set("value", APMValue(*value));
        parameters.set("quantity", APMValue(static_cast<std::int64_t>(facts.quantity)));
    }
    if (product.currencyCode) parameters.set("currency", APMValue(*product.currencyCode));
    if (product.localizedTitle) parameters.set("product_name", APMValue(*product.localizedTitle));
    if (facts.transactionID.empty()) verbose(40003, "Transaction ID cannot be nil or empty.");

    classify(parameters, facts, items);
    if (isOne(parameters, "free_trial") || isOne(parameters, "price_is_discounted")) applyDiscounts(parameters, facts);
    for (const char* required : {"price", "value", "currency", "product_id"}) {
        if (!parameters.contains(required)) return std::nullopt;
    }
    return parameters;
}

APMPurchaseEvent APMPurchaseEventFromParameters(APMParameters parameters, const std::optional<std::string>& environment,
                                                bool verifiedByCaller, bool sandboxReceipt,
                                                const std::string& storeKitVersion) {
    std::string lowered = environment.value_or("");
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool production = lowered != "sandbox" && lowered != "xcode" && !sandboxReceipt;
    APMPurchaseEvent event{"_iap", std::move(parameters)};
    auto& p = event.parameters;
    if (isOne(p, "invalid")) {
        event.name = "_iapx";
        if (!production) p.set("sandbox", APMValue(1));
        p.erase("invalid");
    } else if (verifiedByCaller) {
        p.set("validated", APMValue(1));
        if (!production) p.set("sandbox", APMValue(1));
    }
    if (isOne(p, "sub_renew")) {
        p.erase("sub_renew");
        event.name = "_assr";
    }
    if (isOne(p, "sub_convert")) {
        p.erase("sub_convert");
        event.name = "_assc";
    }
    p.set("_skv", APMValue(storeKitVersion));
    return event;
}
