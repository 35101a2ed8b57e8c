#pragma once
// Shared by the tests that write PNGs for a person to look at: the folder in
// the build tree they go to, and a count of the pixels that hold any ink.

#include <filesystem>
#include <string>

#include "TestPaths.h"
#include "platform/drawing/Bitmap.h"

namespace Mossbridge::testing {

inline std::filesystem::path snapshotFolder(const std::string& name) {
    auto path = testpaths::binaryDir() / name;
    std::filesystem::create_directories(path);
    return path;
}

inline int inkedPixels(const platform::Bitmap& bitmap) {
    int count = 0;
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x) count += (bitmap.pixel(x, y) >> 24) > 0;
    return count;
}

}  // namespace Mossbridge::testing
