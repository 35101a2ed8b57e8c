#pragma once
// URL query strings: building one from ordered key-value pairs and reading
// one back into a dictionary.

#include <map>
#include <string>
#include <utility>
#include <vector>

using APMQueryItems = std::vector<std::pair<std::string, std::string>>;

// "key=value" pairs joined with "&" in the given order. Keys and values are
// percent-encoded (UTF-8 bytes, upper-case hexadecimal): everything but the
// characters a URL query allows is escaped, and so are "&", "=" and "+",
// which would otherwise change how the query reads back.
std::string APMQueryString(const APMQueryItems& items);

// The keys and values of a query ("a=1&b=x%20y"), percent-decoded; a part
// without "=" maps to the empty string, a later duplicate key wins, and a
// part whose escapes are malformed keeps its text as written.
std::map<std::string, std::string> APMDictionaryWithHttpArgumentsString(const std::string& query);
