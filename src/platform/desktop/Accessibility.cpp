#include "platform/desktop/Accessibility.h"

namespace platform {

std::string_view accessibilityErrorName(AccessibilityError error) {
    switch (error) {
        case AccessibilityError::success: return "success";
        case AccessibilityError::failure: return "failure";
        case AccessibilityError::apiDisabled: return "apiDisabled";
        case AccessibilityError::cannotComplete: return "cannotComplete";
        case AccessibilityError::attributeUnsupported: return "attributeUnsupported";
        case AccessibilityError::actionUnsupported: return "actionUnsupported";
        case AccessibilityError::invalidElement: return "invalidElement";
        case AccessibilityError::noValue: return "noValue";
    }
    return "failure";
}

std::optional<AccessibilityError> accessibilityErrorFromName(std::string_view name) {
    for (auto error : {AccessibilityError::success, AccessibilityError::failure, AccessibilityError::apiDisabled,
                       AccessibilityError::cannotComplete, AccessibilityError::attributeUnsupported,
                       AccessibilityError::actionUnsupported, AccessibilityError::invalidElement,
                       AccessibilityError::noValue}) {
        if (accessibilityErrorName(error) == name) return error;
    }
    return std::nullopt;
}

}  // namespace platform
