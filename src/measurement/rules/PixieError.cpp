#include "measurement/rules/PixieError.h"

namespace measurement::rules {

APMError pixieError(PixieErrorCode code) {
    return APMError{kPixieErrorDomain, static_cast<long>(code), {}};
}

bool fail(ErrorSlot& error, PixieErrorCode code) {
    error = pixieError(code);
    return false;
}

bool fail(ErrorSlot& error, EditingErrorCode code) {
    error = APMError{kEditingErrorDomain, static_cast<long>(code), {}};
    return false;
}

bool hasPixieCode(const ErrorSlot& error, PixieErrorCode code) {
    return error && error->domain == kPixieErrorDomain && error->code == static_cast<long>(code);
}

}  // namespace measurement::rules
