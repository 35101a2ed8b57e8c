#include "platform/desktop/InMemoryAccessibility.h"

namespace platform {

namespace {

AccessibilityError failureFor(const std::map<std::string, AccessibilityError>& failures, const std::string& name) {
    const auto found = failures.find(name);
    return found == failures.end() ? AccessibilityError::success : found->second;
}

}  // namespace

void InMemoryAccessibility::setApplication(std::int32_t processIdentifier, AccessibilityApplication application) {
    applications_[processIdentifier] = std::move(application);
}

AccessibilityApplication* InMemoryAccessibility::application(std::int32_t processIdentifier) {
    const auto found = applications_.find(processIdentifier);
    return found == applications_.end() ? nullptr : &found->second;
}

bool InMemoryAccessibility::isProcessTrustedWithPrompt(bool prompt) {
    if (prompt && !trusted_) ++prompts_;
    return trusted_;
}

std::string InMemoryAccessibility::elementText(const AccessibilityElement& element) {
    std::string text = std::to_string(element.processIdentifier);
    if (!element.isApplication()) text += "/" + std::to_string(element.window);
    return text;
}

AccessibilityWindow* InMemoryAccessibility::window(const AccessibilityElement& element, AccessibilityError& error) {
    AccessibilityApplication* app = application(element.processIdentifier);
    if (!app) {
        error = AccessibilityError::cannotComplete;
        return nullptr;
    }
    for (auto& candidate : app->windows) {
        if (candidate.handle == element.window) return &candidate;
    }
    error = AccessibilityError::invalidElement;
    return nullptr;
}

AccessibilityCopyResult InMemoryAccessibility::copyAttributeValue(const AccessibilityElement& element,
                                                                  const std::string& attribute) {
    if (!trusted_) return {AccessibilityError::apiDisabled, std::nullopt};
    if (element.isApplication()) {
        AccessibilityApplication* app = application(element.processIdentifier);
        if (!app) return {AccessibilityError::cannotComplete, std::nullopt};
        if (attribute != kAXWindowsAttribute) return {AccessibilityError::attributeUnsupported, std::nullopt};
        if (const auto failure = failureFor(app->failures, attribute); failure != AccessibilityError::success) {
            return {failure, std::nullopt};
        }
        if (!app->windowsHaveValue) return {};
        AccessibilityElementList list;
        for (const auto& w : app->windows) list.push_back(AccessibilityElement{element.processIdentifier, w.handle});
        return {AccessibilityError::success, AccessibilityValue(std::move(list))};
    }
    AccessibilityError error = AccessibilityError::success;
    AccessibilityWindow* target = window(element, error);
    if (!target) return {error, std::nullopt};
    if (attribute != kAXTitleAttribute) return {AccessibilityError::attributeUnsupported, std::nullopt};
    if (const auto failure = failureFor(target->failures, attribute); failure != AccessibilityError::success) {
        return {failure, std::nullopt};
    }
    if (!target->title) return {AccessibilityError::noValue, std::nullopt};
    return {AccessibilityError::success, target->title};
}

AccessibilityError InMemoryAccessibility::setAttributeValue(const AccessibilityElement& element,
                                                            const std::string& attribute, bool value) {
    calls_.push_back("set " + elementText(element) + " " + attribute + "=" + (value ? "true" : "false"));
    if (!trusted_) return AccessibilityError::apiDisabled;
    if (element.isApplication()) {
        AccessibilityApplication* app = application(element.processIdentifier);
        if (!app) return AccessibilityError::cannotComplete;
        if (attribute != kAXFrontmostAttribute) return AccessibilityError::attributeUnsupported;
        return failureFor(app->failures, attribute);
    }
    AccessibilityError error = AccessibilityError::success;
    AccessibilityWindow* target = window(element, error);
    if (!target) return error;
    if (attribute != kAXMainAttribute && attribute != kAXFocusedAttribute) {
        return AccessibilityError::attributeUnsupported;
    }
    return failureFor(target->failures, attribute);
}

AccessibilityError InMemoryAccessibility::performAction(const AccessibilityElement& element,
                                                        const std::string& action) {
    calls_.push_back("perform " + elementText(element) + " " + action);
    if (!trusted_) return AccessibilityError::apiDisabled;
    AccessibilityError error = AccessibilityError::success;
    AccessibilityWindow* target = element.isApplication() ? nullptr : window(element, error);
    if (element.isApplication()) return AccessibilityError::actionUnsupported;
    if (!target) return error;
    if (action != kAXRaiseAction) return AccessibilityError::actionUnsupported;
    return failureFor(target->failures, action);
}

}  // namespace platform
