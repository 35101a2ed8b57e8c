#include "measurement/storage/APMQueryString.h"

#include <optional>
#include <string_view>

namespace {

// The URL-query allowed set less the three characters that structure a query.
bool isLeftAsIs(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("!$'()*,-./:;?@_~").find(static_cast<char>(c)) != std::string_view::npos;
}

std::string percentEncoded(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (isLeftAsIs(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0f];
        }
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        int high = hexValue(text[i + 1]);
        int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

}  // namespace

std::string APMQueryString(const APMQueryItems& items) {
    std::string out;
    for (const auto& [key, value] : items) {
        if (!out.empty()) out += '&';
        out += percentEncoded(key) + "=" + percentEncoded(value);
    }
    return out;
}

std::map<std::string, std::string> APMDictionaryWithHttpArgumentsString(const std::string& query) {
    std::map<std::string, std::string> result;
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find('&', start);
        if (end == std::string::npos) end = query.size();
        std::string_view part(query.data() + start, end - start);
        if (!part.empty()) {
            std::size_t equals = part.find('=');
            std::string_view key = part.substr(0, equals);
            std::string_view value = equals == std::string_view::npos ? std::string_view() : part.substr(equals + 1);
            result[percentDecoded(key).value_or(std::string(key))] = percentDecoded(value).value_or(std::string(value));
        }
        start = end + 1;
    }
    return result;
}
