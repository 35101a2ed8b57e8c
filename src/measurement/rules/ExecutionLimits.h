#pragma once
// The bounds of one run of a program:
// - instructions: at most kMaxInstructions evaluations between resets; the
//   next one fails with code 18;
// - nesting: evaluation (and the walk through nested arrays) deeper than
//   kMaxNestingDepth fails with code 19 instead of exhausting the C++ stack;
// - growth: a text longer than kMaxStringLength units, an array longer than
//   kMaxArrayLength slots, or more than kMaxGrowthPerRun units of new text
//   and array slots between resets fails with code 20;
// - program size: a program of more than kMaxProgramEntities entities (every
//   node of every statement tree, top level and activities together) does
//   not load (code 20), before any of it runs.

#include <cstddef>
#include <cstdint>

namespace measurement::rules {

inline constexpr std::int64_t kMaxInstructions = 1'000'000;
inline constexpr int kMaxNestingDepth = 1'000;
inline constexpr std::size_t kMaxStringLength = std::size_t{1} << 20;
inline constexpr std::size_t kMaxArrayLength = std::size_t{1} << 18;
inline constexpr std::size_t kMaxGrowthPerRun = std::size_t{1} << 24;
// Growth units charged per new array slot (a slot outweighs a code unit).
inline constexpr std::size_t kGrowthUnitsPerArraySlot = 8;
// Far above any real rule program, low enough that converting and keeping one
// stays cheap.
inline constexpr std::size_t kMaxProgramEntities = 100'000;

}  // namespace measurement::rules
