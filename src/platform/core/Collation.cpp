#include "platform/core/Collation.h"

#include <memory>
#include <string_view>

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>

#include "platform/core/Unicode.h"

namespace platform {

namespace {

// The user's locale; the POSIX locale of a bare environment ("C") orders
// capitals before all small letters, so it stands for no preference (root).
icu::Locale collationLocale() {
    const icu::Locale locale = icu::Locale::getDefault();
    if (std::string_view(locale.getVariant()) == "POSIX") return icu::Locale::getRoot();
    return locale;
}

// Secondary strength: base letters and accents count, letter case does not.
// Created once and only read afterwards (comparing is const and thread-safe).
const icu::Collator* sharedCollator() {
    static const std::unique_ptr<icu::Collator> collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> made(icu::Collator::createInstance(collationLocale(), status));
        if (U_FAILURE(status)) made.reset();
        if (made) made->setStrength(icu::Collator::SECONDARY);
        return made;
    }();
    return collator.get();
}

}  // namespace

int localizedCaseInsensitiveCompare(std::string_view a, std::string_view b) {
    const icu::Collator* collator = sharedCollator();
    if (!collator) return caseInsensitiveCompare(a, b);
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result = collator->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                                                          icu::StringPiece(b.data(), static_cast<int32_t>(b.size())),
                                                          status);
    if (U_FAILURE(status)) return caseInsensitiveCompare(a, b);
    return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
}

}  // namespace platform
