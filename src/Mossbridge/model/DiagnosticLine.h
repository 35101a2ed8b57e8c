#pragma once
// The application's own lines, "Mossbridge: <message>", one write per line so
// lines from different threads never interleave. The diagnostics the
// application's features print (a click, a badge list, a bookmark that failed)
// go to standard output; errors and warnings of the run itself (bad arguments,
// a bad scenario or resources folder, stored data that could not be read,
// analytics left off, a second instance) go to standard error, with the
// analytics layer's lines.

#include <string_view>

namespace Mossbridge {

void printDiagnosticLine(std::string_view message);
void printErrorLine(std::string_view message);

}  // namespace Mossbridge
