#include "Mossbridge/model/DiagnosticLine.h"

#include <cstdio>
#include <string>

namespace Mossbridge {

void printDiagnosticLine(std::string_view message) {
    std::string line = "Mossbridge: ";
    line += message;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace Mossbridge
