#pragma once
// A JSON number too large for a double (1e400) makes the JSON parser reject
// the whole text, and with it every other stored value. Before parsing, each
// such number is rewritten as a marker object that the decoders read as an
// infinite number, so that only the member holding it is affected.

#include <string>
#include <string_view>

namespace Mossbridge {

// The only key of a marker object; its value is "+" or "-".
inline constexpr std::string_view jsonOverflowMarkerKey{"\0overflow", 9};

// `json` with every well-formed number that overflows a double, outside
// strings, replaced by {"\u0000overflow":"+"} or {"\u0000overflow":"-"}.
// Everything else is left byte for byte.
std::string rewriteOverflowingJsonNumbers(std::string_view json);

}  // namespace Mossbridge
