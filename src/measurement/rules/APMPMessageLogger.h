#pragma once
// The module "internal.logger" and its variants. logger.log(...) writes a
// line through the APMPixieLogger: one argument is the message at level 4;
// two or more are level (number, truncated), message and up to three
// context strings (later arguments ignored); none fails with code 9.
// logger.silent() and logger.unmonitored() answer variant objects whose own
// "log" writes silent, or unmonitored. Every call answers undefined.

#include <memory>

#include "measurement/rules/APMPFunctionValue.h"
#include "measurement/rules/APMPixieLogger.h"

namespace measurement::rules {

class APMPMessageLogger final : public APMPFunctionValue {
public:
    explicit APMPMessageLogger(std::shared_ptr<const APMPixieLogger> logger);
};

class APMPFunctionLogSilent final : public APMPFunctionValue,
                               public std::enable_shared_from_this<APMPFunctionLogSilent> {
public:
    explicit APMPFunctionLogSilent(std::shared_ptr<const APMPixieLogger> logger);
    ValuePtr invokeWithArguments(const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error) override;
};

class APMPFunctionLogUnmonitored final : public APMPFunctionValue,
                               public std::enable_shared_from_this<APMPFunctionLogUnmonitored> {
public:
    explicit APMPFunctionLogUnmonitored(std::shared_ptr<const APMPixieLogger> logger);
    ValuePtr invokeWithArguments(const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error) override;
};

class APMPFunctionLog final : public APMPFunctionValue {
public:
    APMPFunctionLog(std::shared_ptr<const APMPixieLogger> logger, bool silent, bool monitored);
    ValuePtr invokeWithArguments(const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error) override;

private:
    std::shared_ptr<const APMPixieLogger> logger_;
    bool silent_;
    bool monitored_;
};

}  // namespace measurement::rules
