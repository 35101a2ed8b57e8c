// Listing an application's windows from three sources in order of
// preference: accessibility (exact, needs trust), the window server's
// on-screen list (no trust needed, names may be missing) and AppleScript
// (only when the caller allows scripting).

#include <set>

#include "Mossbridge/system/AppleScriptRunner.h"
#include "Mossbridge/model/DiagnosticLine.h"
#include "Mossbridge/system/RunningAppService.h"
#include "platform/core/Unicode.h"

namespace Mossbridge {

namespace {

constexpr double kMinListedWidth = 40.0;
constexpr double kMinListedHeight = 30.0;

const std::string kApplicationScriptTemplate =
    "tell application id \"{{ID}}\"\n"
    "    set windowNames to {}\n"
    "    try\n"
    "        repeat with currentWindow in windows\n"
    "            try\n"
    "                set windowName to name of currentWindow as text\n"
    "                if windowName is not \"\" then set end of windowNames to windowName\n"
    "            end try\n"
    "        end repeat\n"
    "    end try\n"
    "    set AppleScript's text item delimiters to linefeed\n"
    "    return windowNames as text\n"
    "end tell";

const std::string kSystemEventsScriptTemplate =
    "tell application \"System Events\"\n"
    "    set windowNames to {}\n"
    "    if exists process \"{{NAME}}\" then\n"
    "        tell process \"{{NAME}}\"\n"
    "            repeat with currentWindow in windows\n"
    "                try\n"
    "                    set windowName to name of currentWindow as text\n"
    "                    if windowName is \"\" then set windowName to \"{{NAME}} Window\"\n"
    "                    set end of windowNames to windowName\n"
    "                on error\n"
    "                    set end of windowNames to \"{{NAME}} Window\"\n"
    "                end try\n"
    "            end repeat\n"
    "        end tell\n"
    "    end if\n"
    "    set AppleScript's text item delimiters to linefeed\n"
    "    return windowNames as text\n"
    "end tell";

std::string replacingAll(std::string text, const std::string& placeholder, const std::string& value) {
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size())) {
        text.replace(at, placeholder.size(), value);
    }
    return text;
}

std::vector<AppWindowInfo> entriesFromScriptOutput(const std::optional<std::string>& output) {
    std::vector<AppWindowInfo> entries;
    if (!output || output->empty()) return entries;
    std::size_t start = 0;
    while (start <= output->size()) {
        const std::size_t end = std::min(output->find_first_of("\n\r\v\f", start), output->size());
        const std::string line = platform::trimWhitespaceAndNewlines(std::string_view(*output).substr(start, end - start));
        if (!line.empty()) entries.push_back({static_cast<int>(entries.size()), line, std::nullopt, std::nullopt});
        start = end + 1;
    }
    return entries;
}

// A window dictionary's number, when it is a number.
std::optional<double> numberAt(const platform::PropertyDictionary& entry, const char* key) {
    const auto found = entry.find(key);
    if (found == entry.end() || !found->second.isNumber()) return std::nullopt;
    return found->second.asReal();
}

// The window number read as an unsigned 32-bit value; none when it is not a
// number or does not fit exactly (a negative or fractional number).
std::optional<std::uint32_t> windowNumber(const platform::PropertyDictionary& entry) {
    const auto found = entry.find(platform::kCGWindowNumber);
    if (found == entry.end() || !found->second.isNumber()) return std::nullopt;
    if (found->second.kind() == platform::PropertyValue::Kind::Integer) {
        const std::int64_t integer = *found->second.asInteger();
        if (integer < 0 || integer > 0xFFFFFFFFLL) return std::nullopt;
        return static_cast<std::uint32_t>(integer);
    }
    const double real = *found->second.asReal();
    if (!(real >= 0 && real <= 4294967295.0) || real != static_cast<double>(static_cast<std::uint32_t>(real))) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(real);
}

bool boundsLargeEnough(const platform::PropertyDictionary& entry) {
    const auto found = entry.find(platform::kCGWindowBounds);
    if (found == entry.end()) return true;
    const platform::PropertyDictionary* bounds = found->second.asDictionary();
    if (!bounds) return true;
    const auto width = numberAt(*bounds, "Width");
    const auto height = numberAt(*bounds, "Height");
    return width && height && *width >= kMinListedWidth && *height >= kMinListedHeight;
}

// The application's name for titles and placeholders.
std::string appNameForTitles(const platform::RunningApplication& app) { return app.localizedName.value_or("App"); }

bool isPlaceholderOnly(const std::vector<AppWindowInfo>& windows, const std::string& appName) {
    return std::all_of(windows.begin(), windows.end(), [&](const AppWindowInfo& window) {
        return RunningAppService::isPlaceholderWindowTitle(window.title, appName);
    });
}

}  // namespace

std::vector<AppWindowInfo> RunningAppService::visibleWindowList(const platform::RunningApplication& app) {
    std::vector<AppWindowInfo> windows;
    const auto list = services_.windowList->copyWindowInfo(
        platform::kWindowListOptionOnScreenOnly | platform::kWindowListExcludeDesktopElements, platform::kNullWindowID);
    const platform::PropertyArray* entries = list ? list->asArray() : nullptr;
    if (!entries) return windows;
    const bool allDictionaries = std::all_of(entries->begin(), entries->end(),
                                             [](const platform::PropertyValue& v) { return v.asDictionary() != nullptr; });
    if (!allDictionaries) return windows;

    std::set<std::uint32_t> taken;
    for (const platform::PropertyValue& value : *entries) {
        const platform::PropertyDictionary& entry = *value.asDictionary();
        const auto owner = numberAt(entry, platform::kCGWindowOwnerPID);
        if (!owner || *owner != static_cast<double>(app.processIdentifier)) continue;
        const auto number = windowNumber(entry);
        if (!number || taken.count(*number)) continue;
        if (numberAt(entry, platform::kCGWindowLayer).value_or(0) != 0) continue;
        if (const auto alpha = numberAt(entry, platform::kCGWindowAlpha); alpha && !(*alpha > 0)) continue;
        if (!boundsLargeEnough(entry)) continue;

        taken.insert(*number);
        const int position = static_cast<int>(windows.size());
        std::string title;
        if (const auto name = entry.find(platform::kCGWindowName); name != entry.end() && name->second.asString()) {
            title = platform::trimWhitespaceAndNewlines(*name->second.asString());
        }
        if (title.empty()) title = appNameForTitles(app) + " Window " + std::to_string(position + 1);
        windows.push_back({position, title, std::nullopt, *number});
    }
    return windows;
}

bool RunningAppService::isPlaceholderWindowTitle(const std::string& title, const std::string& appName) {
    platform::RegexError error;
    for (const std::string& pattern :
         {"^" + platform::Regex::escapedPattern(appName) + " Window [0-9]+$", std::string("^Window [0-9]+$")}) {
        const auto regex = platform::Regex::compile(pattern, error);
        if (regex && regex->firstMatch(title, error)) return true;
    }
    return false;
}

std::vector<AppWindowInfo> RunningAppService::scriptedWindowTitles(const std::string& bundleIdentifier) {
    const std::string script =
        replacingAll(kApplicationScriptTemplate, "{{ID}}", escapedForAppleScriptString(bundleIdentifier));
    return entriesFromScriptOutput(services_.runScript(script));
}

std::vector<AppWindowInfo> RunningAppService::systemEventsWindowTitles(const std::optional<std::string>& processName) {
    const std::string name = processName ? platform::trimWhitespaceAndNewlines(*processName) : std::string();
    if (name.empty()) return {};
    const std::string script = replacingAll(kSystemEventsScriptTemplate, "{{NAME}}", escapedForAppleScriptString(name));
    return entriesFromScriptOutput(services_.runScript(script));
}

std::vector<AppWindowInfo> RunningAppService::joinedScriptedTitles(const std::string& bundleIdentifier,
                                                                   const platform::RunningApplication& app) {
    std::vector<AppWindowInfo> joined = scriptedWindowTitles(bundleIdentifier);
    const auto fromSystemEvents = systemEventsWindowTitles(app.localizedName);
    joined.insert(joined.end(), fromSystemEvents.begin(), fromSystemEvents.end());
    return joined;
}

AppContextMenuInfo RunningAppService::contextMenuInfo(const std::string& bundleIdentifier, bool allowScripting) {
    const bool trusted = services_.accessibility->isProcessTrusted();
    const auto running = runningApplication(bundleIdentifier);
    if (!running) return {{}, trusted, "That app is not running."};

    if (trusted) {
        const auto [elements, error] = accessibilityWindows(*running);
        if (error) {
            printDiagnosticLine("AX window list fell back to CG for " + bundleIdentifier + ": " + *error);
        } else {
            std::vector<AppWindowInfo> windows;
            for (std::size_t i = 0; i < elements.size(); ++i) {
                const auto copied = services_.accessibility->copyAttributeValue(elements[i], platform::kAXTitleAttribute);
                const std::string* title = copied.error == platform::AccessibilityError::success && copied.value
                                               ? std::get_if<std::string>(&*copied.value)
                                               : nullptr;
                const int position = static_cast<int>(i);
                windows.push_back({position,
                                   title && !platform::trimWhitespaceAndNewlines(*title).empty()
                                       ? *title
                                       : "Window " + std::to_string(position + 1),
                                   position, std::nullopt});
            }
            if (!windows.empty()) return {windows, trusted, std::nullopt};
        }
    }

    std::vector<AppWindowInfo> visible = visibleWindowList(*running);
    const auto untrustedNote = [&](const char* message) {
        return trusted ? std::nullopt : std::optional<std::string>(message);
    };
    if (!visible.empty()) {
        if (allowScripting && isPlaceholderOnly(visible, appNameForTitles(*running))) {
            const auto scripted = joinedScriptedTitles(bundleIdentifier, *running);
            if (!scripted.empty()) {
                printDiagnosticLine("scripted window titles replaced placeholder CG titles for " + bundleIdentifier);
                for (std::size_t i = 0; i < visible.size() && i < scripted.size(); ++i) visible[i].title = scripted[i].title;
                return {visible, trusted,
                        untrustedNote("Scripted app access supplied window titles. Accessibility enables exact selection.")};
            }
        }
        return {visible, trusted, untrustedNote("Visible windows only. Accessibility enables exact window selection.")};
    }
    if (allowScripting) {
        const auto scripted = joinedScriptedTitles(bundleIdentifier, *running);
        if (!scripted.empty()) {
            printDiagnosticLine("scripted window fallback found " + std::to_string(scripted.size()) + " windows for " +
                                bundleIdentifier);
            return {scripted, trusted,
                    untrustedNote("Scripted app access listed these windows. Accessibility enables exact selection.")};
        }
    }
    return {{}, trusted,
            trusted ? "No visible windows for this app."
                    : "No visible windows. Accessibility may help with hidden or minimized windows."};
}

}  // namespace Mossbridge
