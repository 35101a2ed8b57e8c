#include "measurement/rules/APMPMessageLogger.h"

#include <algorithm>

#include "measurement/rules/APMPEvaluator.h"
#include "measurement/rules/NumberConversion.h"
#include "measurement/rules/ScalarValues.h"
#include "measurement/rules/Utf16Text.h"

namespace measurement::rules {

namespace {
constexpr std::int64_t kDefaultLevel = 4;
constexpr std::size_t kMaxContextStrings = 3;
}  // namespace

APMPMessageLogger::APMPMessageLogger(std::shared_ptr<const APMPixieLogger> logger)
    : APMPFunctionValue(u"internal.logger") {
    setValue(std::make_shared<APMPFunctionLog>(logger, false, true), u"log");
    setValue(std::make_shared<APMPFunctionLogSilent>(logger), u"silent");
    setValue(std::make_shared<APMPFunctionLogUnmonitored>(logger), u"unmonitored");
}

APMPFunctionLogSilent::APMPFunctionLogSilent(std::shared_ptr<const APMPixieLogger> logger)
    : APMPFunctionValue(u"silent") {
    setValue(std::make_shared<APMPFunctionLog>(std::move(logger), true, true), u"log");
}

ValuePtr APMPFunctionLogSilent::invokeWithArguments(const ValueList&, const ScopePtr&, ErrorSlot&) {
    return shared_from_this();
}

APMPFunctionLogUnmonitored::APMPFunctionLogUnmonitored(std::shared_ptr<const APMPixieLogger> logger)
    : APMPFunctionValue(u"unmonitored") {
    setValue(std::make_shared<APMPFunctionLog>(std::move(logger), false, false), u"log");
}

ValuePtr APMPFunctionLogUnmonitored::invokeWithArguments(const ValueList&, const ScopePtr&, ErrorSlot&) {
    return shared_from_this();
}

APMPFunctionLog::APMPFunctionLog(std::shared_ptr<const APMPixieLogger> logger, bool silent, bool monitored)
    : APMPFunctionValue(u"log"), logger_(std::move(logger)), silent_(silent), monitored_(monitored) {}

ValuePtr APMPFunctionLog::invokeWithArguments(const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error) {
    if (!checkArgumentCountAtLeast(arguments, 1, error)) return undefinedValue();
    const ValueList values = evaluateArguments(arguments, scope, error);
    if (error) return undefinedValue();
    std::int64_t level = kDefaultLevel;
    std::u16string message;
    std::vector<std::string> context;
    if (values.size() == 1) {
        message = values[0]->stringValueOrError(error);
    } else {
        level = saturatingInt64(values[0]->doubleValueOrError(error));
        if (!error) message = values[1]->stringValueOrError(error);
        const std::size_t end = std::min(values.size(), 2 + kMaxContextStrings);
        for (std::size_t i = 2; i < end && !error; ++i) context.push_back(utf8FromUtf16(values[i]->stringValueOrError(error)));
    }
    if (error) return undefinedValue();
    logger_->logWithLevel(level, utf8FromUtf16(message), context, silent_, monitored_);
    return undefinedValue();
}

}  // namespace measurement::rules
