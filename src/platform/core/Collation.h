#pragma once
// Ordering text for people: the language-aware comparison of the user's
// locale, ignoring letter case ("alpha" sorts before "Beta", and "Émile"
// next to "Emile"). Negative, zero or positive like strcmp. Thread-safe.

#include <string_view>

namespace platform {

int localizedCaseInsensitiveCompare(std::string_view a, std::string_view b);

}  // namespace platform
