#pragma once
// Raw bytes: encoded messages and blobs as the analytics layer stores them.

#include <cstdint>
#include <vector>

using APMBytes = std::vector<std::uint8_t>;
