#include "measurement/storage/APMStringAdditions.h"

#include "platform/core/Unicode.h"

std::size_t APMUTF32Length(std::string_view text) { return platform::codePointCount(text); }

std::vector<std::uint8_t> APMUTF32Bytes(std::string_view text, std::size_t maxBytes) {
    std::vector<std::uint8_t> bytes;
    for (char32_t codePoint : platform::codePoints(text)) {
        for (int shift = 0; shift < 32; shift += 8) {
            if (bytes.size() >= maxBytes) return bytes;
            bytes.push_back(static_cast<std::uint8_t>((static_cast<std::uint32_t>(codePoint) >> shift) & 0xff));
        }
    }
    return bytes;
}

bool APMIsBitEnabledAtIndex(std::string_view bits, long long index) {
    if (index < 0 || static_cast<unsigned long long>(index) >= platform::utf16Length(bits)) return false;
    // Bit texts are ASCII; a text with other characters is read by UTF-16 position.
    std::u16string units = platform::utf8ToUtf16(bits).value_or(std::u16string());
    return static_cast<std::size_t>(index) < units.size() && units[static_cast<std::size_t>(index)] == u'1';
}
