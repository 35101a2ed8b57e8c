#pragma once
// Where the tests find the source tree and the build tree: the environment
// CTest sets, or else the folders this test executable was configured with,
// so that a test binary run by hand behaves the same.

#include <cstdlib>
#include <filesystem>

namespace testpaths {

inline std::filesystem::path sourceDir() {
    const char* value = std::getenv("MOSSBRIDGE_SOURCE_DIR");
    return value ? value : MOSSBRIDGE_CONFIGURED_SOURCE_DIR;
}

inline std::filesystem::path binaryDir() {
    const char* value = std::getenv("MOSSBRIDGE_BINARY_DIR");
    return value ? value : MOSSBRIDGE_CONFIGURED_BINARY_DIR;
}

}  // namespace testpaths
