// Fuzz target: arbitrary bytes read as a store receipt. The record scan and
// the version check must stay inside the bytes they are given, and every
// value they take must be a piece of those bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "measurement/interface/APMReceipt.h"
#include "measurement/storage/APMMonitor.h"

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "receipt parser: %s\n", what);
        std::abort();
    }
}

void checkText(const std::optional<std::string>& text, std::size_t size) {
    if (text) check(text->size() <= size, "a field is longer than the receipt");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    APMMonitor::Options options;
    options.sink = [](const std::string&) {};
    APMMonitor::resetSharedForTesting(std::make_shared<APMMonitor>(std::move(options)));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const auto items = APMReceiptPurchaseItems(bytes);
    check(items.has_value() == (size > 0), "records for empty data, or none for data");
    if (items) {
        check(items->size() <= size, "more records than bytes");
        for (const auto& item : *items) {
            checkText(item.productID, size);
            checkText(item.transactionID, size);
            checkText(item.originalTransactionID, size);
            checkText(item.purchaseDateIA5String, size);
            checkText(item.originalPurchaseDateIA5String, size);
            checkText(item.subscriptionExpirationDateIA5String, size);
            checkText(item.cancellationDateIA5String, size);
        }
    }
    for (long long offset = 0; offset < static_cast<long long>(size); ++offset) {
        if (const auto match = APMReceiptRecordStartMatch(bytes, offset)) {
            check(match->data() >= data && match->data() + match->size() <= data + size, "a match outside the data");
        }
    }
    const std::vector<std::uint8_t> copy(data, data + size);
    (void)APMAppVersionMatchesReceipt(copy, false, "1.2");
    return 0;
}
