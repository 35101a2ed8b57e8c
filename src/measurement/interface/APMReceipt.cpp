#include "measurement/interface/APMReceipt.h"

#include <array>
#include <memory>
#include <mutex>

#include "VadovaUtilities/VULMainBundle.h"
#include "measurement/storage/APMDigest.h"
#include "measurement/storage/APMMonitor.h"
#include "platform/core/AppReceipt.h"
#include "platform/core/Unicode.h"

namespace {

constexpr std::uint8_t W = kAPMReceiptWildcard;
constexpr std::array<std::uint8_t, 7> kRecordStart{0x02, 0x01, 0x11, 0x02, 0x01, W, 0x04};
constexpr std::array<std::uint8_t, 10> kOriginalVersion{0x30, W, 0x02, 0x01, 0x13, 0x02, 0x01, W, 0x04, W};

enum class Encoding { UTF8, IA5, Integer };

struct Field {
    std::uint8_t typeLowByte;
    Encoding encoding;
};

// Tried in this order at each offset, each at most once per record.
constexpr std::array<Field, 11> kFields{{
    {0xA6, Encoding::UTF8},     // 1702 product ID
    {0xA7, Encoding::UTF8},     // 1703 transaction ID
    {0xA9, Encoding::UTF8},     // 1705 original transaction ID
    {0xAC, Encoding::IA5},      // 1708 subscription expiration date
    {0xB1, Encoding::Integer},  // 1713 free trial
    {0xB7, Encoding::Integer},  // 1719 introductory offer
    {0xAB, Encoding::Integer},  // 1707 purchase type
    {0xAF, Encoding::Integer},  // 1711 web-order line-item ID
    {0xA8, Encoding::IA5},      // 1704 purchase date
    {0xAA, Encoding::IA5},      // 1706 original purchase date
    {0xB0, Encoding::IA5},      // 1712 cancellation date
}};

std::array<std::uint8_t, 11> fieldTemplate(const Field& field) {
    const std::uint8_t tag = field.encoding == Encoding::UTF8 ? 0x0C : field.encoding == Encoding::IA5 ? 0x16 : 0x02;
    return {0x02, 0x02, 0x06, field.typeLowByte, 0x02, 0x01, W, 0x04, W, tag, W};
}

std::optional<std::string> utf8Text(std::span<const std::uint8_t> bytes) {
    std::string text(bytes.begin(), bytes.end());
    if (!platform::isValidUtf8(text)) return std::nullopt;
    return text;
}

std::optional<std::string> asciiText(std::span<const std::uint8_t> bytes) {
    for (const auto byte : bytes) {
        if (byte > 0x7F) return std::nullopt;
    }
    return std::string(bytes.begin(), bytes.end());
}

void setFlag(bool& flag, std::span<const std::uint8_t> value, long code, const char* message) {
    if (value.size() != 1) return;
    if (value[0] == 0 || value[0] == 1) {
        flag = value[0] == 1;
    } else {
        APMMonitor::shared()->log(5, code, message, static_cast<int>(value[0]));
    }
}

void setField(APMInAppPurchaseItem& item, std::uint8_t typeLowByte, std::span<const std::uint8_t> value) {
    switch (typeLowByte) {
    case 0xA6: item.productID = utf8Text(value); break;
    case 0xA7: item.transactionID = utf8Text(value); break;
    case 0xA9: item.originalTransactionID = utf8Text(value); break;
    case 0xAC: item.subscriptionExpirationDateIA5String = asciiText(value); break;
    case 0xA8: item.purchaseDateIA5String = asciiText(value); break;
    case 0xAA: item.originalPurchaseDateIA5String = asciiText(value); break;
    case 0xB0: item.cancellationDateIA5String = asciiText(value); break;
    case 0xB1: setFlag(item.freeTrial, value, 39025, "Subdata FT unexpected value"); break;
    case 0xB7: setFlag(item.introductoryOffer, value, 39028, "Subdata IO unexpected value"); break;
    case 0xAB:
        if (value.size() == 1) item.purchaseType = value[0];
        break;
    case 0xAF: {
        const auto id = APM64LeastSignificantBits(value.data(), value.size());
        if (id != 0) item.webOrderLineItemID = id;
        break;
    }
    default: break;
    }
}

struct VersionState {
    std::mutex mutex;
    std::shared_ptr<platform::AppReceipt> receipt = std::make_shared<platform::NoAppReceipt>();
    std::optional<bool> flag;
};

VersionState& versionState() {
    static VersionState state;
    return state;
}

}  // namespace

std::optional<std::span<const std::uint8_t>> APMReceiptTemplateMatch(std::span<const std::uint8_t> pattern,
                                                                      std::span<const std::uint8_t> data,
                                                                      long long offset) {
    if (offset < 0 || data.empty() || pattern.empty()) return std::nullopt;
    const auto start = static_cast<std::size_t>(offset);
    // Written so that no sum can wrap: start + size < data.size().
    if (start >= data.size() || pattern.size() >= data.size() - start) return std::nullopt;
    std::optional<std::uint8_t> length;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const auto byte = data[start + i];
        if (pattern[i] == kAPMReceiptWildcard) {
            length = byte;
        } else if (pattern[i] != byte) {
            return std::nullopt;
        }
    }
    if (!length || *length == 0) return std::nullopt;
    const std::size_t valueStart = start + pattern.size();
    if (*length > data.size() - valueStart) return std::nullopt;
    if (*length >= 128) APMMonitor::shared()->log(5, 39027, "Data is longer than 127");
    return data.subspan(valueStart, *length);
}

std::optional<std::span<const std::uint8_t>> APMReceiptRecordStartMatch(std::span<const std::uint8_t> data,
                                                                        long long offset) {
    return APMReceiptTemplateMatch(kRecordStart, data, offset);
}

std::optional<std::vector<APMInAppPurchaseItem>> APMReceiptPurchaseItems(std::span<const std::uint8_t> data) {
    if (data.empty()) return std::nullopt;
    std::vector<APMInAppPurchaseItem> items;
    // No record until the first record start: a receipt without one has no
    // records at all.
    std::optional<APMInAppPurchaseItem> current;
    std::array<bool, kFields.size()> found{};
    std::array<std::array<std::uint8_t, 11>, kFields.size()> templates;
    for (std::size_t f = 0; f < kFields.size(); ++f) templates[f] = fieldTemplate(kFields[f]);

    for (std::size_t i = 0; i < data.size(); ++i) {
        const auto offset = static_cast<long long>(i);
        if (const auto start = APMReceiptRecordStartMatch(data, offset)) {
            if (current && current->productID) items.push_back(std::move(*current));
            current.emplace();
            found.fill(false);
            i += start->size();
            continue;
        }
        if (!current) continue;
        for (std::size_t f = 0; f < kFields.size(); ++f) {
            if (found[f]) continue;
            if (const auto value = APMReceiptTemplateMatch(templates[f], data, offset)) {
                found[f] = true;
                setField(*current, kFields[f].typeLowByte, *value);
                i += value->size();
                break;
            }
        }
    }
    if (current) items.push_back(std::move(*current));
    return items;
}

bool APMAppVersionMatchesReceipt(const std::optional<std::vector<std::uint8_t>>& receipt, bool sandboxReceipt,
                                 const std::string& bundleVersion) {
    auto& monitor = *APMMonitor::shared();
    if (sandboxReceipt) return true;
    if (!receipt) {
        monitor.log(5, 39002, "Version data is nil");
        return false;
    }
    if (receipt->empty()) {
        monitor.log(5, 39004, "Version data is empty");
        return false;
    }
    const std::span<const std::uint8_t> data(*receipt);
    std::optional<std::span<const std::uint8_t>> value;
    for (std::size_t i = 0; i < data.size() && !value; ++i) {
        value = APMReceiptTemplateMatch(kOriginalVersion, data, static_cast<long long>(i));
    }
    const std::size_t length = value ? value->size() : 0;
    if (length < 3) {
        monitor.log(5, 39006, "V data is too short. Length", static_cast<unsigned long>(length));
        return false;
    }
    if ((*value)[0] != 12) monitor.log(5, 39007, "V data byte 0 is wrong. Value", static_cast<int>((*value)[0]));
    if ((*value)[1] != length - 2) {
        monitor.log(5, 39008, "V data byte 1 is wrong. Value, expected", static_cast<int>((*value)[1]),
                    static_cast<unsigned long>(length - 2));
    }
    return std::string(value->begin() + 2, value->end()) == bundleVersion;
}

bool APMIsAppVersionSameAsOriginalVersion() {
    auto& state = versionState();
    std::shared_ptr<platform::AppReceipt> receipt;
    {
        std::lock_guard lock(state.mutex);
        if (state.flag) return *state.flag;
        receipt = state.receipt;
    }
    std::string bundleVersion;
    if (const auto value = VULMainBundle::objectForInfoDictionaryKey("CFBundleShortVersionString")) {
        if (const auto* text = value->asString()) bundleVersion = *text;
    }
    const bool flag = APMAppVersionMatchesReceipt(receipt->receiptData(), receipt->isSandboxReceipt(), bundleVersion);
    std::lock_guard lock(state.mutex);
    if (!state.flag) state.flag = flag;
    return *state.flag;
}

void APMSetAppReceiptSource(std::shared_ptr<platform::AppReceipt> receipt) {
    auto& state = versionState();
    std::lock_guard lock(state.mutex);
    state.receipt = receipt ? std::move(receipt) : std::make_shared<platform::NoAppReceipt>();
}

std::shared_ptr<platform::AppReceipt> APMAppReceiptSource() {
    auto& state = versionState();
    std::lock_guard lock(state.mutex);
    return state.receipt;
}

void APMResetAppVersionFlagForTesting() {
    auto& state = versionState();
    std::lock_guard lock(state.mutex);
    state.flag.reset();
}
