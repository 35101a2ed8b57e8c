#pragma once
// Shared by the snapshot tests: every rendered picture is written to
// <build>/<group>-snapshots/<name>.png for a person to look at, and compared
// with its committed reference tests/Mossbridge/pets/snapshots/<group>/<name>.png.
// To regenerate the references after an intended drawing change, run the
// snapshot tests with MOSSBRIDGE_UPDATE_SNAPSHOTS=1 (they then write the
// references instead of comparing) and look at the pictures before committing.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "TestPaths.h"
#include "platform/drawing/Bitmap.h"

namespace Mossbridge::testing {

// How far a rendering may drift from its reference. With the same Debian
// packages the pictures come out identical whichever processor-specific paths
// pixman and the C library take; what can still move them is a point update
// of Cairo, pixman, Pango or FreeType, which shifts antialiased edges and
// unhinted glyph coverage by a few levels: 16 of 255 in any premultiplied
// channel absorbs that. Pixels past it may make up at most 0.25 % of the
// pixels that show something (that differ from the picture's corner, its
// background, in either picture), so a pet on a large empty desktop is held as
// tightly as a pet alone, and one changed badge digit (about 0.45 % of a pet
// panel) already fails.
inline constexpr int maxChannelDelta = 16;
inline constexpr double maxDifferingShare = 0.0025;

inline std::filesystem::path snapshotFolder(const std::string& group) {
    auto path = testpaths::binaryDir() / (group + "-snapshots");
    std::filesystem::create_directories(path);
    return path;
}

inline int inkedPixels(const platform::Bitmap& bitmap) {
    int count = 0;
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x) count += (bitmap.pixel(x, y) >> 24) > 0;
    return count;
}

// The largest difference of one premultiplied channel between two words.
inline int channelDelta(std::uint32_t a, std::uint32_t b) {
    int delta = 0;
    for (int shift = 0; shift < 32; shift += 8)
        delta = std::max(delta, std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)));
    return delta;
}

// Writes `actual` to the build folder and compares it with the reference; on a
// mismatch also writes <name>-diff.png (differing pixels red over a faded copy).
inline ::testing::AssertionResult matchesReference(const platform::Bitmap& actual, const std::string& group,
                                                   const std::string& name) {
    const auto output = snapshotFolder(group) / (name + ".png");
    const auto diffPath = snapshotFolder(group) / (name + "-diff.png");
    const auto referencePath = testpaths::sourceDir() / "tests/Mossbridge/pets/snapshots" / group / (name + ".png");
    std::filesystem::remove(diffPath);
    if (!actual.writePng(output)) return ::testing::AssertionFailure() << "cannot write " << output;
    if (const char* update = std::getenv("MOSSBRIDGE_UPDATE_SNAPSHOTS"); update && std::string_view(update) == "1") {
        std::filesystem::create_directories(referencePath.parent_path());
        if (actual.writePng(referencePath)) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "cannot write " << referencePath;
    }
    const auto reference = platform::Bitmap::loadPng(referencePath);
    if (!reference)
        return ::testing::AssertionFailure() << "no reference " << referencePath << " for " << output
                                             << " (MOSSBRIDGE_UPDATE_SNAPSHOTS=1 writes it)";
    if (reference->width() != actual.width() || reference->height() != actual.height())
        return ::testing::AssertionFailure() << output << " is " << actual.width() << "x" << actual.height()
                                             << ", its reference " << referencePath << " " << reference->width()
                                             << "x" << reference->height();
    const std::uint32_t background = reference->pixel(0, 0);
    std::vector<std::uint32_t> diff(std::size_t(actual.width()) * actual.height());
    long content = 0, differing = 0;
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            const std::uint32_t a = actual.pixel(x, y), r = reference->pixel(x, y);
            content += a != background || r != background;
            const bool differs = channelDelta(a, r) > maxChannelDelta;
            differing += differs;
            diff[std::size_t(y) * actual.width() + x] = differs ? 0xffff0000u : (a >> 2) & 0x3f3f3f3fu;
        }
    }
    if (differing <= maxDifferingShare * content) return ::testing::AssertionSuccess();
    const bool diffWritten = platform::Bitmap(actual.width(), actual.height(), std::move(diff)).writePng(diffPath);
    return ::testing::AssertionFailure() << output << " differs from " << referencePath << ": " << differing << " of "
                                         << content << " drawn pixels differ by more than " << maxChannelDelta
                                         << " (at most " << maxDifferingShare * 100 << " % may); diff "
                                         << (diffWritten ? diffPath.string() : "not written");
}

}  // namespace Mossbridge::testing
