// The per-run directory's name and removing a directory tree.
#include "work_directory.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

TEST(PerRunDirectoryTest, NamesTheLow32BitsOfTheSecondsAsASignedNumber) {
  EXPECT_EQ(PerRunDirectory("/tmp/", 1796741291), "/tmp/SF1796741291/");
  EXPECT_EQ(PerRunDirectory("/t/", 0x100000005LL), "/t/SF5/");
  EXPECT_EQ(PerRunDirectory("/t/", 0x80000000LL), "/t/SF-2147483648/");
  EXPECT_EQ(PerRunDirectory("/t/", 0xFFFFFFFFLL), "/t/SF-1/");
}

class RemoveDirectoryTreeTest : public testing::Test {
 protected:
  test::ScratchDirectory scratch_;
  fs::path tree_ = scratch_.path() / "tree";
  fs::path outside_ = scratch_.path() / "outside";

  void SetUp() override {
    fs::create_directories(tree_ / "a" / "b" / "c");
    test::WriteFile(tree_ / "top.txt", "1");
    test::WriteFile(tree_ / "a" / "mid.txt", "2");
    test::WriteFile(tree_ / "a" / "b" / "c" / "deep.txt", "3");
    test::WriteFile(tree_ / ".dotfile", "4");
    fs::create_directories(outside_ / "inner");
    test::WriteFile(outside_ / "keep.txt", "keep");
    test::WriteFile(outside_ / "inner" / "keep.txt", "keep");
  }
};

TEST_F(RemoveDirectoryTreeTest, RemovesNestedTreesWithOrWithoutASeparator) {
  EXPECT_TRUE(RemoveDirectoryTree(tree_.string()));
  EXPECT_FALSE(fs::exists(tree_));

  fs::create_directories(tree_ / "x" / "y");
  test::WriteFile(tree_ / "x" / "y" / "z", "z");
  EXPECT_TRUE(RemoveDirectoryTree(tree_.string() + "/"));
  EXPECT_FALSE(fs::exists(tree_));
}

TEST_F(RemoveDirectoryTreeTest, ADotDirectoryIsKeptAndSoIsItsParent) {
  fs::create_directories(tree_ / "a" / ".cache");
  test::WriteFile(tree_ / "a" / ".cache" / "kept", "k");
  EXPECT_FALSE(RemoveDirectoryTree(tree_.string()));
  EXPECT_TRUE(fs::exists(tree_ / "a" / ".cache" / "kept"));
  EXPECT_FALSE(fs::exists(tree_ / "top.txt"));
  EXPECT_FALSE(fs::exists(tree_ / ".dotfile")) << "only directories are skipped for a dot";
  EXPECT_FALSE(fs::exists(tree_ / "a" / "b"));
  EXPECT_FALSE(fs::exists(tree_ / "a" / "mid.txt"));
}

TEST_F(RemoveDirectoryTreeTest, LinksAreRemovedWithoutFollowingThem) {
  fs::create_directory_symlink(outside_, tree_ / "dir-link");
  fs::create_directory_symlink(outside_, tree_ / ".dot-dir-link");
  fs::create_symlink(outside_ / "keep.txt", tree_ / "a" / "file-link");
  fs::create_symlink(scratch_.path() / "nowhere", tree_ / "dangling");
  EXPECT_TRUE(RemoveDirectoryTree(tree_.string()));
  EXPECT_FALSE(fs::exists(fs::symlink_status(tree_)));
  EXPECT_EQ(test::ReadFile(outside_ / "keep.txt"), "keep");
  EXPECT_EQ(test::ReadFile(outside_ / "inner" / "keep.txt"), "keep");
}

TEST_F(RemoveDirectoryTreeTest, ALinkGivenAsTheTreeIsNotFollowed) {
  const fs::path link = scratch_.path() / "link";
  fs::create_directory_symlink(outside_, link);
  EXPECT_FALSE(RemoveDirectoryTree(link.string()));
  EXPECT_EQ(test::ReadFile(outside_ / "keep.txt"), "keep");
}

TEST_F(RemoveDirectoryTreeTest, AMissingPathRemovesNothing) {
  EXPECT_FALSE(RemoveDirectoryTree((scratch_.path() / "absent").string()));
  EXPECT_FALSE(RemoveDirectoryTree((tree_ / "top.txt").string()));
  EXPECT_TRUE(fs::exists(tree_ / "top.txt"));
}

}  // namespace
