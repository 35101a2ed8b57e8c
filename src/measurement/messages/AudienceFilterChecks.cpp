// The number- and string-filter checks of AudienceValidation.h.
#include <string>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/AudienceValidation.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/storage/APMDecimalNumber.h"
#include "measurement/storage/APMMonitor.h"

namespace {

constexpr int kErrorLevel = 1;

constexpr std::int32_t kLastComparisonType = 4;
constexpr std::int32_t kBetween = 4;
constexpr std::int32_t kRegularExpression = 1;
constexpr std::int32_t kInList = 6;

// Work allowed to one search of a remote pattern, in the regular-expression
// engine's steps (roughly milliseconds): a pathological pattern is abandoned
// instead of stalling the worker queue.
constexpr std::int32_t kRegexTimeLimit = 200;

void logRefusal(long code, const char* message) { APMMonitor::shared()->log(kErrorLevel, code, message); }

// Checks one decimal operand, logging `code` when it is missing or no number.
bool isDecimalOperand(const APMPBNumberFilter& filter, int slot, long code, const char* message) {
    std::optional<std::string> operand = APMPBGetString(filter, slot);
    if (operand && APMIsDecimalNumberString(*operand)) {
        return true;
    }
    APMMonitor::shared()->log(kErrorLevel, code, message, operand ? *operand : std::string("(null)"));
    return false;
}

}  // namespace

bool APMAudienceIsValidNumberFilter(const APMPBNumberFilter& filter) {
    if (!APMPBHasField(filter, NumberFilterSlot::ComparisonType)) {
        logRefusal(8006, "Number filter has no comparison type");
        return false;
    }
    const std::int32_t type = APMPBGetInt32(filter, NumberFilterSlot::ComparisonType);
    if (type == 0) {
        logRefusal(8007, "Number filter has unknown comparison type");
        return false;
    }
    if (type < 0 || type > kLastComparisonType) {
        logRefusal(8011, "Number filter has a real unknown comparison type");
        return false;
    }
    if (type != kBetween) {
        return isDecimalOperand(filter, NumberFilterSlot::ComparisonValue, 8008,
                                "Numeric filter does not have a valid comparison value. Filter");
    }
    // Both bounds are checked so that each problem is reported.
    const bool validMinimum = isDecimalOperand(filter, NumberFilterSlot::MinComparisonValue, 8009,
                                               "Numeric filter does not have a valid min comparison value. Filter");
    const bool validMaximum = isDecimalOperand(filter, NumberFilterSlot::MaxComparisonValue, 8010,
                                               "Numeric filter does not have a valid max comparison value. Filter");
    return validMinimum && validMaximum;
}

bool APMAudienceIsValidStringFilter(const APMPBStringFilter& filter,
                                    std::optional<platform::Regex>* compiledExpression) {
    if (!APMPBHasField(filter, StringFilterSlot::MatchType)) {
        logRefusal(9000, "String filter has no match type");
        return false;
    }
    const std::int32_t type = APMPBGetInt32(filter, StringFilterSlot::MatchType);
    if (type == 0) {
        logRefusal(9001, "String filter has unknown match type");
        return false;
    }
    if (type == kInList) {
        std::optional<APMPBArray> candidates = APMPBGetArray(filter, StringFilterSlot::ExpressionList);
        if (!candidates || candidates->empty()) {
            logRefusal(9003, "String filter has no expression list");
            return false;
        }
        return true;
    }
    std::optional<std::string> expression = APMPBGetString(filter, StringFilterSlot::Expression);
    if (!expression) {
        logRefusal(9002, "String filter has no expression");
        return false;
    }
    if (type != kRegularExpression) {
        return true;
    }
    platform::RegexOptions options;
    options.caseInsensitive = !APMPBGetBool(filter, StringFilterSlot::CaseSensitive);
    options.timeLimit = kRegexTimeLimit;
    platform::RegexError error;
    std::optional<platform::Regex> compiled = platform::Regex::compile(*expression, error, options);
    if (!compiled) {
        APMMonitor::shared()->log(kErrorLevel, 9004, "Unable to parse regular expression", *expression,
                                  error.message);
        return false;
    }
    if (compiledExpression != nullptr) {
        *compiledExpression = std::move(compiled);
    }
    return true;
}
