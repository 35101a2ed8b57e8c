// Lifetime value of purchases and the exact money conversions behind it.

#include "measurement/engine/APMLifetimeValueRecorder.h"

#include <cctype>
#include <cmath>
#include <limits>
#include <string>

#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMDecimalNumber.h"
#include "measurement/storage/APMMonitor.h"

namespace {

constexpr std::int64_t kMillion = 1000000;
constexpr int kScaleDigits = 6;

APMMillionths ok(std::int64_t value) { return {APMMillionths::Status::Ok, value}; }
APMMillionths invalid() { return {APMMillionths::Status::InvalidValue, 0}; }
APMMillionths outOfBounds() { return {APMMillionths::Status::OutOfBounds, 0}; }

// Scales the fixed-notation text of a finite number by 10^6. The digits are
// accumulated in 128 bits and refused as soon as they leave 64, so no
// intermediate step rounds.
APMMillionths scaleDecimalText(const std::string& text, APMMillionthsRounding rounding) {
    std::size_t position = 0;
    bool negative = false;
    if (position < text.size() && (text[position] == '-' || text[position] == '+')) {
        negative = text[position] == '-';
        ++position;
    }
    constexpr __int128 kLimit = static_cast<__int128>(std::numeric_limits<std::int64_t>::max()) + 1;
    __int128 magnitude = 0;
    int fractionDigits = -1;  // -1 before the point
    bool roundUp = false;
    for (; position < text.size(); ++position) {
        const char c = text[position];
        if (c == '.') {
            if (fractionDigits >= 0) return invalid();
            fractionDigits = 0;
            continue;
        }
        if (!std::isdigit(static_cast<unsigned char>(c))) return invalid();
        if (fractionDigits >= kScaleDigits) {
            // The first dropped digit decides rounding half away from zero.
            if (fractionDigits == kScaleDigits) roundUp = c >= '5';
            ++fractionDigits;
            continue;
        }
        magnitude = magnitude * 10 + (c - '0');
        if (fractionDigits >= 0) ++fractionDigits;
        if (magnitude > kLimit * 10) return outOfBounds();
    }
    for (int digits = std::max(fractionDigits, 0); digits < kScaleDigits; ++digits) {
        magnitude *= 10;
        if (magnitude > kLimit * 10) return outOfBounds();
    }
    if (rounding == APMMillionthsRounding::HalfAwayFromZero && roundUp) ++magnitude;
    if (negative ? magnitude > kLimit : magnitude >= kLimit) return outOfBounds();
    return ok(static_cast<std::int64_t>(negative ? -magnitude : magnitude));
}

bool isThreeLetterCode(const std::string& code) { return code.size() == 3; }

std::string upperCased(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

APMMillionths APMCheckedInt64FromDouble(double value) {
    if (!std::isfinite(value)) return invalid();
    const double truncated = std::trunc(value);
    // 2^63 is exact as a double; every double below it converts safely.
    if (truncated >= 9223372036854775808.0 || truncated < -9223372036854775808.0) return outOfBounds();
    return ok(static_cast<std::int64_t>(truncated));
}

APMMillionths APMMillionthsFromValue(const APMValue& value, APMMillionthsRounding rounding) {
    if (value.isInt64()) {
        std::int64_t scaled = 0;
        if (__builtin_mul_overflow(value.int64Value(), kMillion, &scaled)) return outOfBounds();
        return ok(scaled);
    }
    if (!value.isDouble()) return invalid();
    const double number = value.doubleValue();
    if (!std::isfinite(number)) return invalid();
    return scaleDecimalText(APMDecimalText(number), rounding);
}

bool APMLifetimeValueRecorder::isEcommercePurchaseEvent(const APMEvent& event) {
    const std::string& name = event.name();
    return name == "ecommerce_purchase" || name == "purchase" || name == "refund";
}

bool APMLifetimeValueRecorder::isPurchaseEvent(const APMEvent& event) {
    return event.name() == "_iap" || event.name() == "in_app_purchase" || isEcommercePurchaseEvent(event);
}

bool APMLifetimeValueRecorder::recordLifetimeValueToDatabase(APMDatabase& database, const APMEvent& event,
                                                             std::int64_t maxTrackedCurrencies, double now) {
    if (!isPurchaseEvent(event)) return true;
    const auto& log = APMMonitor::shared();
    const APMValue* currency = event.parameters().find("currency");
    if (!currency || !currency->stringValue() || !isThreeLetterCode(*currency->stringValue())) {
        log->log(1, 22000, "Cannot record transaction with invalid currency code",
                 currency ? APMLogContext(*currency) : APMLogContext("(null)"));
        return true;
    }
    const APMValue* value = event.parameters().find("value");
    if (!value || !(value->isInt64() || value->isDouble())) {
        log->log(1, 22001, "Cannot record transaction with invalid transaction value",
                 value ? APMLogContext(*value) : APMLogContext("(null)"));
        return true;
    }
    APMMillionths amount;
    if (event.name() == "_iap") {
        // Automatic purchases carry millionths already.
        amount = value->isInt64() ? ok(value->int64Value()) : APMCheckedInt64FromDouble(value->doubleValue());
    } else {
        amount = APMMillionthsFromValue(*value, APMMillionthsRounding::HalfAwayFromZero);
        if (amount.status == APMMillionths::Status::Ok && event.name() == "refund") {
            if (amount.value == std::numeric_limits<std::int64_t>::min()) {
                amount = outOfBounds();
            } else {
                amount.value = -amount.value;
            }
        }
    }
    if (amount.status == APMMillionths::Status::InvalidValue) {
        log->log(1, 22001, "Cannot record transaction with invalid transaction value", *value);
        return true;
    }
    if (amount.status == APMMillionths::Status::OutOfBounds) {
        log->log(1, 22002, "Cannot record transaction with value that is out of bounds", *value);
        return false;
    }

    const std::string name = "_ltv_" + upperCased(*currency->stringValue());
    auto stored = database.allLifetimeValueUserAttributes();
    if (!stored.value) {
        log->log(1, 22003, "Failed to query all Lifetime Value User properties. Error",
                 stored.error ? APMLogContext(*stored.error) : APMLogContext("(null)"));
        return false;
    }
    std::int64_t newValue = amount.value;
    const APMUserAttribute* existing = nullptr;
    for (const APMUserAttribute& attribute : *stored.value) {
        if (attribute.name() == name) existing = &attribute;
    }
    if (existing) {
        if (__builtin_add_overflow(existing->value().int64Value(), amount.value, &newValue)) {
            log->log(1, 22002, "Cannot record transaction with value that is out of bounds", *value);
            return false;
        }
    } else if (static_cast<std::int64_t>(stored.value->size()) >= maxTrackedCurrencies && !stored.value->empty()) {
        const std::string& oldest = stored.value->back().name();
        APMError error;
        if (!database.deleteUserAttributeWithName(oldest, &error)) {
            log->log(1, 22004, "Unable to delete Lifetime Value User property. Name, error", oldest, error);
            return false;
        }
    }
    const APMUserAttribute attribute("auto", name, APMValue(newValue), now);
    APMError error;
    if (!database.updateUserAttribute(attribute, &error)) {
        log->log(1, 22005, "Unable to upsert Lifetime Value User Attribute in database. Name, error", name, error);
        return false;
    }
    if (log->isLoggable(7)) {
        log->log(7, 22006, "Lifetime value has been updated in database", name + " = " + std::to_string(newValue));
    }
    return true;
}
