#pragma once
// Shared by the snapshot tests: every rendered picture is written to
// <build>/<group>-snapshots/<name>.png for a person to look at, and compared
// with its committed reference tests/Mossbridge/pets/snapshots/<group>/<name>.png.
// To regenerate the references after an intended drawing change, run the
// snapshot tests with MOSSBRIDGE_UPDATE_SNAPSHOTS=1 (they then rewrite each
// reference that is missing or does not match, and leave the matching ones
// untouched) and look at the pictures before committing.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
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

// Where one snapshot's pictures go: the rendering as drawn, its committed
// reference, and the picture of their differences.
struct SnapshotFiles {
    std::filesystem::path output;
    std::filesystem::path reference;
    std::filesystem::path diff;
};

inline SnapshotFiles snapshotFiles(const std::string& group, const std::string& name) {
    const auto folder = snapshotFolder(group);
    const auto references = testpaths::sourceDir() / "tests/Mossbridge/pets/snapshots" / group;
    return {folder / (name + ".png"), references / (name + ".png"), folder / (name + "-diff.png")};
}

// Why a rendering does not match its reference, and a picture that shows it.
struct SnapshotMismatch {
    std::string reason;
    platform::Bitmap diff;
};

// The two pictures next to each other, `left` at the left, on a transparent
// ground where the shorter one ends: pictures of different sizes have no
// pixel-by-pixel difference, so a person compares them by eye.
inline platform::Bitmap sideBySide(const platform::Bitmap& left, const platform::Bitmap& right) {
    const int width = left.width() + right.width(), height = std::max(left.height(), right.height());
    std::vector<std::uint32_t> pixels(std::size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels[std::size_t(y) * width + x] =
                x < left.width() ? left.pixel(x, y) : right.pixel(x - left.width(), y);
    return {width, height, std::move(pixels)};
}

// Nothing when `actual` matches `reference` within the tolerance above;
// otherwise the reason, with the differing pixels red over a faded copy of
// `actual` or, when the sizes differ, `actual` beside `reference`.
inline std::optional<SnapshotMismatch> compareWithReference(const platform::Bitmap& actual,
                                                            const platform::Bitmap& reference) {
    std::ostringstream reason;
    if (reference.width() != actual.width() || reference.height() != actual.height()) {
        reason << "it is " << actual.width() << "x" << actual.height() << ", its reference " << reference.width()
               << "x" << reference.height() << " (the diff shows the two side by side)";
        return SnapshotMismatch{reason.str(), sideBySide(actual, reference)};
    }
    const std::uint32_t background = reference.pixel(0, 0);
    std::vector<std::uint32_t> diff(std::size_t(actual.width()) * actual.height());
    long content = 0, differing = 0;
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            const std::uint32_t a = actual.pixel(x, y), r = reference.pixel(x, y);
            content += a != background || r != background;
            const bool differs = channelDelta(a, r) > maxChannelDelta;
            differing += differs;
            diff[std::size_t(y) * actual.width() + x] = differs ? 0xffff0000u : (a >> 2) & 0x3f3f3f3fu;
        }
    }
    if (differing <= maxDifferingShare * content) return std::nullopt;
    reason << differing << " of " << content << " drawn pixels differ by more than " << maxChannelDelta << " (at most "
           << maxDifferingShare * 100 << " % may)";
    return SnapshotMismatch{reason.str(), platform::Bitmap(actual.width(), actual.height(), std::move(diff))};
}

// Writes `actual` to `files.output` and compares it with `files.reference`;
// on a mismatch also writes `files.diff`. With `updateReferences`, a reference
// that is missing or does not match is rewritten from `actual` and the check
// passes; one that matches is left as it is, so that regenerating the
// references after a drawing change rewrites only the pictures that changed.
inline ::testing::AssertionResult checkSnapshot(const platform::Bitmap& actual, const SnapshotFiles& files,
                                                bool updateReferences) {
    std::filesystem::remove(files.diff);
    if (!actual.writePng(files.output)) return ::testing::AssertionFailure() << "cannot write " << files.output;
    const auto reference = platform::Bitmap::loadPng(files.reference);
    const auto mismatch = reference ? compareWithReference(actual, *reference) : std::nullopt;
    if (reference && !mismatch) return ::testing::AssertionSuccess();
    if (updateReferences) {
        std::filesystem::create_directories(files.reference.parent_path());
        if (actual.writePng(files.reference)) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "cannot write " << files.reference;
    }
    if (!reference)
        return ::testing::AssertionFailure() << "no reference " << files.reference << " for " << files.output
                                             << " (MOSSBRIDGE_UPDATE_SNAPSHOTS=1 writes it)";
    const bool diffWritten = mismatch->diff.writePng(files.diff);
    return ::testing::AssertionFailure() << files.output << " differs from " << files.reference << ": "
                                         << mismatch->reason << "; diff "
                                         << (diffWritten ? files.diff.string() : "not written");
}

// The check of one rendering of a snapshot test against its committed
// reference (see the top of this file for the update mode).
inline ::testing::AssertionResult matchesReference(const platform::Bitmap& actual, const std::string& group,
                                                   const std::string& name) {
    const char* update = std::getenv("MOSSBRIDGE_UPDATE_SNAPSHOTS");
    return checkSnapshot(actual, snapshotFiles(group, name), update && std::string_view(update) == "1");
}

}  // namespace Mossbridge::testing
