#include "Mossbridge/system/BadgeLabelParsing.h"

#include <array>
#include <charconv>
#include <cstdlib>
#include <cstdint>

#include "Mossbridge/system/NormalizedName.h"
#include "platform/core/Unicode.h"

namespace Mossbridge {

namespace {

using platform::Regex;

Regex compiled(std::string_view pattern) {
    platform::RegexError error;
    auto regex = Regex::compile(pattern, error);
    if (!regex) std::abort();  // the patterns are constants of this file
    return *regex;
}

const std::array<Regex, 4>& bundleIdentifierExpressions() {
    static const std::array<Regex, 4> expressions = {
        compiled(R"re("(?:BundleIdentifier|bundleid|kLSBundleIdentifierLowerCaseKey)"\s*=\s*"([^"]+)")re"),
        compiled(R"re((?:BundleIdentifier|bundleid|kLSBundleIdentifierLowerCaseKey)\s*=\s*"([^"]+)")re"),
        compiled(R"re("(?:BundleIdentifier|bundleid|kLSBundleIdentifierLowerCaseKey)"\s*=\s*([^";\s]+))re"),
        compiled(R"re((?:BundleIdentifier|bundleid|kLSBundleIdentifierLowerCaseKey)\s*=\s*([^";\s]+))re"),
    };
    return expressions;
}

const Regex& statusLabelBlockExpression() {
    static const Regex expression = compiled(R"re("StatusLabel"\s*=\s*\{[^}]*\})re");
    return expression;
}

const Regex& innerLabelExpression() {
    static const Regex expression = compiled(R"re("label"\s*=\s*"[^"]+")re");
    return expression;
}

const std::array<Regex, 4>& labelExpressions() {
    static const std::array<Regex, 4> expressions = {
        compiled(R"re("StatusLabel"\s*=\s*\{\s*"label"\s*=\s*"?([^";}\n]+)"?)re"),
        compiled(R"re(StatusLabel\s*=\s*\{\s*label\s*=\s*"?([^";}\n]+)"?)re"),
        compiled(R"re("label"\s*=\s*"?([^";}\n]+)"?)re"),
        compiled(R"re(label\s*=\s*"?([^";}\n]+)"?)re"),
    };
    return expressions;
}

std::optional<platform::RegexMatch> search(const Regex& regex, std::string_view text) {
    platform::RegexError ignored;
    return regex.firstMatch(text, ignored);
}

// Trims white space and line breaks together with the ASCII characters of
// `extra` from both ends.
std::string trimmed(std::string_view text, std::string_view extra) {
    std::string current(text);
    for (;;) {
        std::string next = platform::trimWhitespaceAndNewlines(current);
        std::size_t first = 0;
        std::size_t last = next.size();
        while (first < last && extra.find(next[first]) != std::string_view::npos) ++first;
        while (last > first && extra.find(next[last - 1]) != std::string_view::npos) --last;
        next = next.substr(first, last - first);
        if (next == current) return next;
        current = std::move(next);
    }
}

std::string afterFirstEquals(const std::string& text) {
    const auto equals = text.find('=');
    return equals == std::string::npos ? std::string() : text.substr(equals + 1);
}

std::optional<std::string> cleanedLabel(const std::string& raw) { return normalizedBadgeLabel(trimmed(raw, "\"; }")); }

// A decimal integer (optional sign, ASCII digits only) within the signed
// 64-bit range.
std::optional<std::int64_t> decimalInteger(std::string_view text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    const std::string_view unsignedPart = !digits.empty() && digits.front() == '-' ? digits.substr(1) : digits;
    if (unsignedPart.empty()) return std::nullopt;
    for (const char c : unsignedPart) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<std::string> normalizedBadgeLabel(std::string_view label) {
    const std::string text = platform::trimWhitespaceAndNewlines(label);
    if (text.empty() || text == "0") return std::nullopt;
    if (normalizedName(text) == "kcfnull") return std::nullopt;
    const std::string lower = platform::toLowerCase(text);
    if (lower == "null" || lower == "(null)") return std::nullopt;
    if (const auto value = decimalInteger(text); value && *value >= 1) return std::to_string(*value);
    return text;
}

std::optional<std::string> lsappinfoBundleIdentifier(std::string_view text) {
    for (const auto& expression : bundleIdentifierExpressions()) {
        const auto match = search(expression, text);
        if (!match) continue;
        std::string identifier = platform::toLowerCase(trimmed(afterFirstEquals(match->whole().text), "\";"));
        if (!identifier.empty()) return identifier;
    }
    return std::nullopt;
}

std::optional<std::string> lsappinfoStatusLabel(std::string_view text) {
    if (const auto block = search(statusLabelBlockExpression(), text)) {
        if (const auto inner = search(innerLabelExpression(), block->whole().text)) {
            if (auto label = cleanedLabel(afterFirstEquals(inner->whole().text))) return label;
        }
    }
    for (const auto& expression : labelExpressions()) {
        const auto match = search(expression, text);
        if (!match || match->captures.size() < 2 || !match->captures[1]) continue;
        if (auto label = cleanedLabel(match->captures[1]->text)) return label;
    }
    return std::nullopt;
}

std::map<std::string, std::string> parseLSAppInfoList(std::string_view output,
                                                      const std::vector<AppStatusTarget>& targets) {
    std::map<std::string, std::string> targetByLowerIdentifier;
    for (const auto& target : targets) {
        targetByLowerIdentifier.emplace(platform::toLowerCase(target.bundleIdentifier), target.bundleIdentifier);
    }

    std::map<std::string, std::string> labels;
    std::optional<std::string> currentIdentifier;
    std::string block;
    bool collecting = false;
    const auto completeBlock = [&] {
        if (currentIdentifier) {
            const auto target = targetByLowerIdentifier.find(*currentIdentifier);
            if (target != targetByLowerIdentifier.end()) {
                if (auto label = lsappinfoStatusLabel(block)) labels[target->second] = std::move(*label);
            }
        }
        block.clear();
    };

    std::size_t position = 0;
    while (position <= output.size()) {
        const std::size_t end = output.find_first_of("\r\n", position);
        const std::string_view rawLine =
            output.substr(position, end == std::string_view::npos ? std::string_view::npos : end - position);
        position = end == std::string_view::npos ? output.size() + 1 : end + 1;
        const std::string line = platform::trimWhitespaceAndNewlines(rawLine);

        if (auto identifier = lsappinfoBundleIdentifier(line)) currentIdentifier = std::move(identifier);
        if (collecting) {
            block += ' ';
            block += line;
            if (line.find('}') != std::string::npos) {
                collecting = false;
                completeBlock();
            }
        } else if (line.find("StatusLabel") != std::string::npos) {
            block = line;
            if (line.find('}') != std::string::npos) completeBlock();
            else collecting = true;
        }
    }
    return labels;  // a block still open at the end is dropped
}

}  // namespace Mossbridge
