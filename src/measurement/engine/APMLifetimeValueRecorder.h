#pragma once
// APMLifetimeValueRecorder: adds the amount of a purchase event to the
// per-currency lifetime-value user property ("_ltv_" + currency, origin
// "auto", 64-bit millionths of the currency unit), keeping at most the
// configured number of currencies (the one set longest ago goes first).
//
// Money is converted exactly: an amount is scaled by 1,000,000 on the
// decimal text of the number (2.01 gives 2,010,000), and every conversion of
// a double to an integer is checked. NaN and infinities are invalid values
// (nothing is recorded, the event is kept); a result, or a lifetime sum,
// beyond 64 bits is out of bounds (the write is refused).
//
// Runs on the measurement worker queue, inside the event's write transaction.

#include <cstdint>
#include <optional>

#include "measurement/interface/APMEvent.h"
#include "measurement/storage/APMValue.h"

class APMDatabase;

// How a scaled amount keeps its fraction.
enum class APMMillionthsRounding { HalfAwayFromZero, TowardZero };

// The outcome of scaling a number to millionths.
struct APMMillionths {
    enum class Status { Ok, InvalidValue, OutOfBounds };
    Status status = Status::InvalidValue;
    std::int64_t value = 0;
};

// `value` (an int64 or a double) × 1,000,000 in decimal arithmetic.
APMMillionths APMMillionthsFromValue(const APMValue& value, APMMillionthsRounding rounding);
// A double truncated toward zero; NaN and infinities are invalid, a number
// beyond 64 bits is out of bounds.
APMMillionths APMCheckedInt64FromDouble(double value);

class APMLifetimeValueRecorder {
public:
    // False only when the amount is out of bounds or a database step fails;
    // true otherwise, also when nothing was recorded. `maxTrackedCurrencies`
    // and `now` come from the engine.
    [[nodiscard]] static bool recordLifetimeValueToDatabase(APMDatabase& database, const APMEvent& event,
                                                            std::int64_t maxTrackedCurrencies, double now);
    static bool isPurchaseEvent(const APMEvent& event);
    static bool isEcommercePurchaseEvent(const APMEvent& event);
};
