#pragma once
// Names for the cases of value-parameterised suites, made from a row's own
// text. gtest accepts only letters, digits and underscores in a name, and a
// name made of the row's data stays the same from build to build, so a CTest
// filter or a CI history that holds it keeps working.

#include <string>
#include <string_view>

namespace testnames {

// `text` with every run of characters other than ASCII letters and digits
// turned into one underscore, none at either end; "empty" when nothing is left.
inline std::string fromText(std::string_view text) {
    const auto kept = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    };
    std::string name;
    bool gap = false;
    for (const char c : text) {
        if (!kept(c)) {
            gap = !name.empty();
            continue;
        }
        if (gap) name += '_';
        name += c;
        gap = false;
    }
    return name.empty() ? "empty" : name;
}

}  // namespace testnames
