#pragma once
// Accessibility held in memory, for tests and runs without a display. Tests
// set the trust, describe each application's windows (title, and a failure
// for any single read, write or action) and read back every write and action
// in the order they happened. Without trust every call answers apiDisabled.

#include <map>
#include <vector>

#include "platform/desktop/Accessibility.h"

namespace platform {

struct AccessibilityWindow {
    std::uint64_t handle = 0;                        // unique within its application, not 0
    std::optional<AccessibilityValue> title;         // the "AXTitle" value; none: no value
    std::map<std::string, AccessibilityError> failures;  // attribute or action name -> its failure
};

struct AccessibilityApplication {
    std::vector<AccessibilityWindow> windows;
    // A failure of reading "AXWindows" or writing "AXFrontmost" on the
    // application element.
    std::map<std::string, AccessibilityError> failures;
    bool windowsHaveValue = true;  // false: "AXWindows" succeeds without a value
};

class InMemoryAccessibility final : public Accessibility {
public:
    void setTrusted(bool trusted) { trusted_ = trusted; }
    // Replaces what is known of the application.
    void setApplication(std::int32_t processIdentifier, AccessibilityApplication application);
    AccessibilityApplication* application(std::int32_t processIdentifier);

    // "set <pid>[/<window>] <attribute>=<true|false>" and "perform <pid>/<window> <action>",
    // successful or not, in call order.
    const std::vector<std::string>& calls() const { return calls_; }
    int promptCount() const { return prompts_; }

    bool isProcessTrusted() const override { return trusted_; }
    bool isProcessTrustedWithPrompt(bool prompt) override;
    AccessibilityCopyResult copyAttributeValue(const AccessibilityElement& element,
                                               const std::string& attribute) override;
    AccessibilityError setAttributeValue(const AccessibilityElement& element, const std::string& attribute,
                                         bool value) override;
    AccessibilityError performAction(const AccessibilityElement& element, const std::string& action) override;

private:
    // The window, or null; `error` says why there is none.
    AccessibilityWindow* window(const AccessibilityElement& element, AccessibilityError& error);
    static std::string elementText(const AccessibilityElement& element);

    bool trusted_ = false;
    int prompts_ = 0;
    std::map<std::int32_t, AccessibilityApplication> applications_;
    std::vector<std::string> calls_;
};

}  // namespace platform
