#include "Mossbridge/model/DiagnosticLine.h"

#include <cstdio>
#include <string>

namespace Mossbridge {
namespace {

void writeLine(std::FILE* stream, std::string_view message) {
    std::string line = "Mossbridge: ";
    line += message;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

}  // namespace

void printDiagnosticLine(std::string_view message) { writeLine(stdout, message); }

void printErrorLine(std::string_view message) { writeLine(stderr, message); }

}  // namespace Mossbridge
