#include "platform/core/Bookmark.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/core/Uuid.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class BookmarkTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::path(::testing::TempDir()) / ("bookmark-" + makeUuidString());
        fs::create_directories(root_ / "chosen");
    }
    void TearDown() override { fs::remove_all(root_); }

    PropertyData bookmarkOf(const fs::path& path) {
        std::string error;
        auto data = createBookmarkData(path, error);
        EXPECT_TRUE(data) << error;
        return data.value_or(PropertyData{});
    }

    fs::path root_;
};

TEST_F(BookmarkTest, ResolvesToTheSameFolderWithoutBeingStale) {
    const auto data = bookmarkOf(root_ / "chosen");
    std::string error;
    const auto resolved = resolveBookmarkData(data, error);
    ASSERT_TRUE(resolved) << error;
    EXPECT_EQ(resolved->path, root_ / "chosen");
    EXPECT_FALSE(resolved->isStale);
}

TEST_F(BookmarkTest, AFolderReplacedAtTheSamePathResolvesStale) {
    const auto data = bookmarkOf(root_ / "chosen");
    fs::remove_all(root_ / "chosen");
    fs::create_directories(root_ / "elsewhere");  // keeps the old inode from being reused at once
    fs::create_directories(root_ / "chosen");
    std::string error;
    const auto resolved = resolveBookmarkData(data, error);
    ASSERT_TRUE(resolved) << error;
    EXPECT_EQ(resolved->path, root_ / "chosen");
    EXPECT_TRUE(resolved->isStale);

    // A bookmark made afresh from the resolved path is current again.
    const auto renewed = resolveBookmarkData(bookmarkOf(resolved->path), error);
    ASSERT_TRUE(renewed);
    EXPECT_FALSE(renewed->isStale);
}

TEST_F(BookmarkTest, AFolderThatIsGoneFailsWithADescription) {
    const auto data = bookmarkOf(root_ / "chosen");
    fs::remove_all(root_ / "chosen");
    std::string error;
    EXPECT_FALSE(resolveBookmarkData(data, error));
    EXPECT_NE(error.find("chosen"), std::string::npos) << error;
}

TEST_F(BookmarkTest, DataThatIsNoBookmarkFails) {
    std::string error;
    EXPECT_FALSE(resolveBookmarkData(PropertyData{'n', 'o', 'p', 'e'}, error));
    EXPECT_FALSE(error.empty());

    // A property list of the wrong shape: the path is relative.
    const auto foreign = serializePropertyList(
        PropertyValue(PropertyDictionary{{"path", "relative"}, {"device", 1}, {"inode", 2}}), PropertyListFormat::Binary);
    error.clear();
    EXPECT_FALSE(resolveBookmarkData(*foreign, error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace platform
