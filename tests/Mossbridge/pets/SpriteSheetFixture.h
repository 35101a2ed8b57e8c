#pragma once
// Test support: a private bundle resources folder with sheets written as real
// PNG files, and empty sprite-sheet caches around every test.

#include "TestPaths.h"
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "Mossbridge/pets/SpriteSheet.h"
#include "VadovaUtilities/VULMainBundle.h"

namespace Mossbridge::testing {

// A sheet of `columns` x `rows` square cells of `cell` pixels; each cell is
// opaque with red = row and green = column, so a cut can be identified.
inline platform::BitmapRef labelledSheet(int columns, int rows, int cell) {
    std::vector<std::uint32_t> pixels;
    for (int y = 0; y < rows * cell; ++y)
        for (int x = 0; x < columns * cell; ++x)
            pixels.push_back(0xff000000u | (std::uint32_t(y / cell) << 16) | (std::uint32_t(x / cell) << 8));
    return platform::Bitmap::make(columns * cell, rows * cell, pixels);
}

// The row and column a labelled cut came from.
inline std::pair<int, int> cellLabel(const platform::Bitmap& cut) {
    const std::uint32_t p = cut.pixel(0, 0);
    return {int((p >> 16) & 0xff), int((p >> 8) & 0xff)};
}

class SpriteSheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        folder_ = std::filesystem::path(tmp ? tmp : "/tmp") /
                  ("sheets-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        VULMainBundle::setResourcesDirectory(folder_);
        resetSpriteSheetCachesForTesting();
    }
    void TearDown() override {
        resetSpriteSheetCachesForTesting();
        VULMainBundle::setResourcesDirectory(std::nullopt);
    }

    void writeSheet(const std::string& name, const platform::BitmapRef& bitmap) {
        ASSERT_TRUE(bitmap->writePng(folder_ / (name + ".png")));
    }
    // Switches to the sheets the build generated.
    static void useGeneratedResources() {
        VULMainBundle::setResourcesDirectory(testpaths::binaryDir() / "resources");
    }

    std::filesystem::path folder_;
};

}  // namespace Mossbridge::testing
