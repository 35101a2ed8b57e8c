#pragma once
// Diagnostic lines on standard output: "Mossbridge: <message>", one write
// per line so lines from different threads never interleave.

#include <string_view>

namespace Mossbridge {

void printDiagnosticLine(std::string_view message);

}  // namespace Mossbridge
