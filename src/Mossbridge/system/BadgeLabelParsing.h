#pragma once
// Reading badge labels out of the launch services tool's text: the
// application list ("lsappinfo list") and one application's information
// ("lsappinfo info -only StatusLabel ..."). The tool's format is not fixed,
// so the readers look for the bundle identifier and the StatusLabel record
// with tolerant expressions and never fail on any text.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Mossbridge/model/AppStatus.h"

namespace Mossbridge {

// Labels per target bundle identifier (as the target carries it), taken from
// StatusLabel blocks of the list output; identifiers compare in lower case.
std::map<std::string, std::string> parseLSAppInfoList(std::string_view output,
                                                      const std::vector<AppStatusTarget>& targets);

// The lower-cased bundle identifier a line names, or none.
std::optional<std::string> lsappinfoBundleIdentifier(std::string_view text);

// The normalised label in a StatusLabel record, or none.
std::optional<std::string> lsappinfoStatusLabel(std::string_view text);

// None for blank, "0", null markers ("null", "(null)", kCFNull in any case
// and punctuation); a positive decimal integer in canonical form; any other
// text trimmed but otherwise unchanged.
std::optional<std::string> normalizedBadgeLabel(std::string_view label);

}  // namespace Mossbridge
