#pragma once
// The accessibility interface: whether this process is trusted to control
// other applications, and the elements it may then read and drive: one
// element per application (by process identifier) and one per window. Every
// call can fail on its own with an AccessibilityError. Main thread only.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

enum class [[nodiscard]] AccessibilityError {
    success,
    failure,
    apiDisabled,           // the process is not trusted
    cannotComplete,        // the application did not answer
    attributeUnsupported,
    actionUnsupported,
    invalidElement,        // the element no longer exists
    noValue,
};

// The error's name for diagnostics, e.g. "cannotComplete", and back.
std::string_view accessibilityErrorName(AccessibilityError error);
[[nodiscard]] std::optional<AccessibilityError> accessibilityErrorFromName(std::string_view name);

// An application element (window 0) or one of its windows.
struct AccessibilityElement {
    std::int32_t processIdentifier = 0;
    std::uint64_t window = 0;
    bool isApplication() const { return window == 0; }
    bool operator==(const AccessibilityElement&) const = default;
};

// Lists may hold null entries, as the interface itself may hand them out.
using AccessibilityElementList = std::vector<std::optional<AccessibilityElement>>;
using AccessibilityValue = std::variant<bool, std::string, AccessibilityElementList>;

struct [[nodiscard]] AccessibilityCopyResult {
    AccessibilityError error = AccessibilityError::success;
    std::optional<AccessibilityValue> value;  // none: success without a value
};

// Attribute and action names the application uses.
inline constexpr const char* kAXWindowsAttribute = "AXWindows";
inline constexpr const char* kAXTitleAttribute = "AXTitle";
inline constexpr const char* kAXFrontmostAttribute = "AXFrontmost";
inline constexpr const char* kAXMainAttribute = "AXMain";
inline constexpr const char* kAXFocusedAttribute = "AXFocused";
inline constexpr const char* kAXRaiseAction = "AXRaise";

class Accessibility {
public:
    virtual ~Accessibility() = default;

    virtual bool isProcessTrusted() const = 0;
    // When `prompt` is true and trust is missing, asks the user to grant it
    // (the answer comes later); answers the trust as it is now.
    virtual bool isProcessTrustedWithPrompt(bool prompt) = 0;

    static AccessibilityElement applicationElement(std::int32_t processIdentifier) { return {processIdentifier, 0}; }

    virtual AccessibilityCopyResult copyAttributeValue(const AccessibilityElement& element,
                                                       const std::string& attribute) = 0;
    virtual AccessibilityError setAttributeValue(const AccessibilityElement& element, const std::string& attribute,
                                                 bool value) = 0;
    virtual AccessibilityError performAction(const AccessibilityElement& element, const std::string& action) = 0;
};

}  // namespace platform
