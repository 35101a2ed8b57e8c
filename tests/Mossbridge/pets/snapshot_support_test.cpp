// The snapshot check itself (SnapshotSupport.h), on tiny pictures in a
// temporary folder: what the update mode rewrites, and the diff it leaves.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "SnapshotSupport.h"

namespace Mossbridge {
namespace {

class SnapshotSupport : public ::testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() / "snapshot-support" /
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    static platform::Bitmap filled(int width, int height, std::uint32_t word) {
        return {width, height, std::vector<std::uint32_t>(std::size_t(width) * height, word)};
    }
    static std::string contents(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    testing::SnapshotFiles files() const {
        return {folder / "actual.png", folder / "reference" / "actual.png", folder / "actual-diff.png"};
    }

    std::filesystem::path folder;
};

TEST_F(SnapshotSupport, UpdateRewritesOnlyTheReferencesThatDoNotMatch) {
    const auto actual = filled(4, 3, 0xff406080u);
    struct Row {
        const char* label;
        std::optional<platform::Bitmap> reference;
        bool rewritten;
    };
    const Row rows[] = {
        {"missing", std::nullopt, true},
        {"within the tolerance", filled(4, 3, 0xff406080u + 0x080808u), false},
        {"beyond the tolerance", filled(4, 3, 0xff000000u), true},
        {"of another size", filled(3, 4, 0xff406080u), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        std::filesystem::remove_all(files().reference.parent_path());
        if (row.reference) {
            std::filesystem::create_directories(files().reference.parent_path());
            ASSERT_TRUE(row.reference->writePng(files().reference));
        }
        const std::string before = contents(files().reference);
        EXPECT_TRUE(testing::checkSnapshot(actual, files(), true));
        EXPECT_EQ(contents(files().reference), row.rewritten ? contents(files().output) : before);
    }
}

TEST_F(SnapshotSupport, AReferenceOfAnotherSizeFailsAndTheDiffShowsTheRenderingBesideIt) {
    const std::uint32_t drawn = 0xff406080u, referenced = 0xff804020u;
    const auto actual = filled(2, 3, drawn), reference = filled(3, 2, referenced);
    std::filesystem::create_directories(files().reference.parent_path());
    ASSERT_TRUE(reference.writePng(files().reference));

    EXPECT_FALSE(testing::checkSnapshot(actual, files(), false));
    const auto diff = platform::Bitmap::loadPng(files().diff);
    ASSERT_TRUE(diff);
    ASSERT_EQ(diff->width(), actual.width() + reference.width());
    ASSERT_EQ(diff->height(), std::max(actual.height(), reference.height()));
    for (int y = 0; y < diff->height(); ++y)
        for (int x = 0; x < diff->width(); ++x) {
            const bool left = x < actual.width();
            const std::uint32_t expected = left ? drawn : y < reference.height() ? referenced : 0;
            EXPECT_EQ(diff->pixel(x, y), expected) << x << ", " << y;
        }
}

}  // namespace
}  // namespace Mossbridge
