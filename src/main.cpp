// The Mossbridge executable: the whole application on the in-memory
// desktop described by a scenario (see `mossbridge --help`).

#include <malloc.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "Mossbridge/app/HeadlessRun.h"
#include "Mossbridge/app/SingleInstance.h"
#include "Mossbridge/app/TerminationSignals.h"
#include "Mossbridge/model/DiagnosticLine.h"

namespace {

// SIGINT and SIGTERM are blocked before any of the program's code runs: the
// initializers of the libraries and of static objects come before main, and
// a signal in their time, or in main's before the run waits for it, would
// otherwise end the process by its default action instead of the orderly end.
// An executable's pre-initializers run before every other initializer.
void blockTerminationSignalsFirst(int, char**, char**) { Mossbridge::blockTerminationSignals(); }
[[gnu::section(".preinit_array"), gnu::used]] void (*const blockSignalsAtStart)(int, char**, char**) =
    blockTerminationSignalsFirst;

}  // namespace

int main(int argc, char** argv) {
    // Pixel buffers of a few hundred kilobytes and more (screen pictures,
    // canvases, decoded sheets) come and go all run long: a fixed threshold
    // keeps them in their own mappings, returned when freed, where glibc's
    // moving one would let them pile up in the heap.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const Mossbridge::ParsedArguments parsed = Mossbridge::parseArguments(arguments);
    if (!parsed.options) {
        Mossbridge::printErrorLine(parsed.error + " (see --help)");
        return 2;
    }
    if (parsed.options->help) {
        std::fputs(Mossbridge::usageText().c_str(), stdout);
        return 0;
    }
    if (!Mossbridge::claimUserFolders()) return 0;
    std::error_code error;
    std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) executable = std::filesystem::absolute(argv[0], error);
    return Mossbridge::runHeadless(*parsed.options, executable.parent_path());
}
