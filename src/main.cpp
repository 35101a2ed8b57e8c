// The Mossbridge executable: the whole application on the in-memory
// desktop described by a scenario (see `mossbridge --help`).

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "Mossbridge/app/HeadlessRun.h"
#include "Mossbridge/model/DiagnosticLine.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const Mossbridge::ParsedArguments parsed = Mossbridge::parseArguments(arguments);
    if (!parsed.options) {
        Mossbridge::printDiagnosticLine(parsed.error + " (see --help)");
        return 2;
    }
    if (parsed.options->help) {
        std::fputs(Mossbridge::usageText().c_str(), stdout);
        return 0;
    }
    std::error_code error;
    std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) executable = std::filesystem::absolute(argv[0], error);
    return Mossbridge::runHeadless(*parsed.options, executable.parent_path());
}
