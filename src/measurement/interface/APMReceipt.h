#pragma once
// Purchase records and the original application version read out of the
// application's store receipt. The receipt is not decoded as a whole: short
// byte templates slide over the raw bytes and the bytes after a match are
// taken, so every read is bounds-checked against the data and malformed
// receipts simply give fewer (or no) records.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {
class AppReceipt;
}

struct APMInAppPurchaseItem {
    bool freeTrial = false;
    bool introductoryOffer = false;
    std::optional<std::string> subscriptionExpirationDateIA5String;
    std::optional<std::string> productID;
    std::optional<std::string> originalTransactionID;
    std::optional<std::string> transactionID;
    std::optional<std::uint64_t> webOrderLineItemID;
    std::optional<std::string> originalPurchaseDateIA5String;
    std::optional<std::string> purchaseDateIA5String;
    std::optional<std::string> cancellationDateIA5String;
    // 0 non-consumable, 1 consumable, 2 non-renewing, 3 auto-renewable.
    std::optional<std::int64_t> purchaseType;

    bool operator==(const APMInAppPurchaseItem&) const = default;
};

// In a template the value 255 matches any byte.
inline constexpr std::uint8_t kAPMReceiptWildcard = 255;

// The bytes after `pattern` when it matches `data` at `offset`: their count is
// the data byte under the last wildcard. None when the offset is negative,
// either input is empty, the template does not end before the data does, no
// wildcard is in the template, the length is 0, or the value would run past
// the data. A length of 128 or more (a long-form length, not decoded) logs
// 39027 and is used as it is.
std::optional<std::span<const std::uint8_t>> APMReceiptTemplateMatch(std::span<const std::uint8_t> pattern,
                                                                      std::span<const std::uint8_t> data,
                                                                      long long offset);

// The template match of the start of one purchase record.
std::optional<std::span<const std::uint8_t>> APMReceiptRecordStartMatch(std::span<const std::uint8_t> data,
                                                                        long long offset);

// The purchase records of a receipt, in file order; none for empty data and
// an empty list when no record starts. Records without a product ID are
// dropped, except the last one.
std::optional<std::vector<APMInAppPurchaseItem>> APMReceiptPurchaseItems(std::span<const std::uint8_t> data);

// Whether the receipt's original application version equals `bundleVersion`
// (plain text equality). True without a store receipt to compare (sandbox
// receipt); false with no, empty or malformed data, each logged at level 5.
bool APMAppVersionMatchesReceipt(const std::optional<std::vector<std::uint8_t>>& receipt, bool sandboxReceipt,
                                 const std::string& bundleVersion);

// The flag above for this process's receipt and main bundle
// ("CFBundleShortVersionString"), computed on first use and then kept. The
// receipt source is the one installed below (none: no receipt).
bool APMIsAppVersionSameAsOriginalVersion();
void APMSetAppReceiptSource(std::shared_ptr<platform::AppReceipt> receipt);
std::shared_ptr<platform::AppReceipt> APMAppReceiptSource();
// Test hook: forgets the computed flag.
void APMResetAppVersionFlagForTesting();
