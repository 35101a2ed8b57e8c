#pragma once
// A name reduced for loose comparison: lower-cased, then every character
// other than the ASCII letters a-z and digits 0-9 removed, so "Example Mail"
// and "example-mail" both give "examplemail".

#include <string>
#include <string_view>

namespace Mossbridge {

std::string normalizedName(std::string_view text);

}  // namespace Mossbridge
