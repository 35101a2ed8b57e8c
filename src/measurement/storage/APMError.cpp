#include "measurement/storage/APMError.h"

#include "measurement/storage/APMMonitor.h"

APMError APMError::withCode(long code, std::string description) {
    return APMError{kAPMErrorDomain, code, std::move(description)};
}

APMError APMError::withCode(long code, std::string description, const APMLogContext& monitorContext) {
    APMError error = withCode(code, std::move(description));
    APMMonitor::shared()->log(1, code, error.description, monitorContext);
    return error;
}

std::string APMError::text() const {
    return "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + description + "\"";
}

void APMSetError(APMError* error, long code, std::string description) {
    if (error) *error = APMError::withCode(code, std::move(description));
}

namespace {

bool failGuard(APMError* error, long code, const std::string& description, const APMLogContext& context) {
    APMError made = APMError::withCode(code, description, context);
    if (error) *error = std::move(made);
    return false;
}

}  // namespace

bool APMCheckNotNil(const void* object, APMError* error, long code, const std::string& description) {
    return object != nullptr || failGuard(error, code, description, "nil");
}

bool APMCheckNonZero(long long number, APMError* error, long code, const std::string& description) {
    return number != 0 || failGuard(error, code, description, 0LL);
}
