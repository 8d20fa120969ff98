// The per-run directory's name and removing a directory tree.
#include "work_directory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "platform_files.h"
#include "test_support.h"

using namespace reader;

namespace {

namespace fs = std::filesystem;

TEST(PerRunDirectoryTest, NamesTheLow32BitsOfTheSecondsAsASignedNumber) {
  const char s = platform::kPathSeparator;
  EXPECT_EQ(PerRunDirectory("/tmp/", 1796741291), std::string("/tmp/SF1796741291") + s);
  EXPECT_EQ(PerRunDirectory("/t/", 0x100000005LL), std::string("/t/SF5") + s);
  EXPECT_EQ(PerRunDirectory("/t/", 0x80000000LL), std::string("/t/SF-2147483648") + s);
  EXPECT_EQ(PerRunDirectory("/t/", 0xFFFFFFFFLL), std::string("/t/SF-1") + s);
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

// Creates a directory link, or says why the test cannot (Wine has no
// symbolic links).
#define CREATE_DIRECTORY_LINK_OR_SKIP(target, link)                            \
  do {                                                                         \
    std::error_code error;                                                     \
    fs::create_directory_symlink(target, link, error);                         \
    if (error) GTEST_SKIP() << "no directory links here: " << error.message(); \
  } while (false)

TEST_F(RemoveDirectoryTreeTest, ADotDirectoryTheWalkMadeIsRemovedAndOneItDidNotIsKept) {
  fs::create_directories(tree_ / ".made/inner");
  fs::create_directories(tree_ / "plain/.found");
  test::WriteFile(tree_ / ".made/inner/file", "x");
  EXPECT_FALSE(RemoveDirectoryTree(tree_.string(), {(tree_ / ".made").string()}));
  EXPECT_FALSE(fs::exists(tree_ / ".made"));
  EXPECT_TRUE(fs::exists(tree_ / "plain/.found"));
}

TEST_F(RemoveDirectoryTreeTest, LinksAreRemovedWithoutFollowingThem) {
  CREATE_DIRECTORY_LINK_OR_SKIP(outside_, tree_ / "dir-link");
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
  CREATE_DIRECTORY_LINK_OR_SKIP(outside_, link);
  EXPECT_FALSE(RemoveDirectoryTree(link.string()));
  EXPECT_EQ(test::ReadFile(outside_ / "keep.txt"), "keep");
}

// Emptying, unlike the end-of-run removal, leaves nothing: dot-names and
// dot-directories go too, links go as links, and the directory stays.
TEST_F(RemoveDirectoryTreeTest, EmptyingRemovesEveryEntryAndFollowsNoLink) {
  fs::create_directories(tree_ / ".hidden" / ".deeper");
  test::WriteFile(tree_ / ".hidden" / ".deeper" / "planted", "p");
  std::error_code no_links;
  fs::create_directory_symlink(outside_, tree_ / "dir-link", no_links);
  if (!no_links) fs::create_symlink(outside_ / "keep.txt", tree_ / ".file-link");
  EXPECT_TRUE(EmptyDirectory(tree_.string() + "/"));
  EXPECT_TRUE(fs::is_directory(tree_));
  EXPECT_EQ(test::EntryNames(tree_), std::set<std::string>{});
  EXPECT_EQ(test::ReadFile(outside_ / "keep.txt"), "keep");
  EXPECT_EQ(test::ReadFile(outside_ / "inner" / "keep.txt"), "keep");

  EXPECT_FALSE(EmptyDirectory((scratch_.path() / "absent").string()));
}

// The work directory is entered and emptied only when it is a real
// directory; a file or a link in its place is refused, and what a link leads
// to is left alone.
TEST_F(RemoveDirectoryTreeTest, SetUpEntersAndEmptiesOnlyARealDirectory) {
  const fs::path before = fs::current_path();
  const std::string separator(1, platform::kPathSeparator);
  EXPECT_TRUE(SetUpWorkDirectory(tree_.string() + separator));
  EXPECT_TRUE(fs::equivalent(fs::current_path(), tree_));
  EXPECT_EQ(test::EntryNames(tree_), std::set<std::string>{});
  EXPECT_TRUE(SetUpWorkDirectory((scratch_.path() / "fresh").string() + separator));
  EXPECT_TRUE(fs::equivalent(fs::current_path(), scratch_.path() / "fresh"));
  fs::current_path(before);

  EXPECT_FALSE(SetUpWorkDirectory((outside_ / "keep.txt").string() + separator));
  EXPECT_EQ(test::ReadFile(outside_ / "keep.txt"), "keep");
  const fs::path link = scratch_.path() / "link";
  CREATE_DIRECTORY_LINK_OR_SKIP(outside_, link);
  EXPECT_FALSE(SetUpWorkDirectory(link.string() + separator));
  EXPECT_EQ(fs::current_path(), before);
  fs::current_path(before);
  EXPECT_EQ(test::EntryNames(outside_), (std::set<std::string>{"inner", "keep.txt"}));
}

using Clock = std::chrono::steady_clock;

#ifdef _WIN32
// Opens a file of the tree the way a scanner or a console host would hold
// it: without sharing deletion.
HANDLE Hold(const fs::path& path) {
  return CreateFileA(path.string().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     0, nullptr);
}

TEST_F(RemoveDirectoryTreeTest, AFileHeldForAMomentIsRemovedOnceItIsReleased) {
  const HANDLE held = Hold(tree_ / "a" / "mid.txt");
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread release([held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    CloseHandle(held);
  });
  EXPECT_TRUE(RemoveDirectoryTree(tree_.string()));
  release.join();
  EXPECT_FALSE(fs::exists(tree_));
}

TEST_F(RemoveDirectoryTreeTest, AFileHeldForGoodIsGivenUpAfterTheRetryTime) {
  const HANDLE held = Hold(tree_ / "a" / "mid.txt");
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(RemoveDirectoryTree(tree_.string()));
  const auto spent = Clock::now() - start;
  CloseHandle(held);
  // One budget for the whole tree: the held file and the two directories
  // above it that it keeps share it.
  EXPECT_GE(spent, std::chrono::milliseconds(1900));
  EXPECT_LT(spent, std::chrono::milliseconds(4000));
  EXPECT_TRUE(fs::exists(tree_ / "a" / "mid.txt"));
  EXPECT_FALSE(fs::exists(tree_ / "top.txt"));
}

TEST_F(RemoveDirectoryTreeTest, EmptyingFailsWhenAFileIsHeldForGood) {
  const HANDLE held = Hold(tree_ / "a" / "mid.txt");
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(EmptyDirectory(tree_.string()));
  const auto spent = Clock::now() - start;
  CloseHandle(held);
  EXPECT_GE(spent, std::chrono::milliseconds(1900)) << "retried as the removal is";
  EXPECT_EQ(test::EntryNames(tree_), std::set<std::string>{"a"});
}
#else
TEST_F(RemoveDirectoryTreeTest, EmptyingFailsWhenAnEntryCannotBeDeleted) {
  const test::UndeletableFile locked(tree_ / "a" / "b" / "locked");
  if (!locked.held()) GTEST_SKIP() << locked.reason();
  EXPECT_FALSE(EmptyDirectory(tree_.string()));
  EXPECT_TRUE(fs::exists(tree_ / "a" / "b" / "locked"));
  EXPECT_FALSE(fs::exists(tree_ / "top.txt")) << "the rest is removed all the same";
}

TEST_F(RemoveDirectoryTreeTest, AFailedRemovalIsNotRetried) {
  fs::create_directories(tree_ / ".kept");
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(RemoveDirectoryTree(tree_.string()));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
}
#endif

TEST_F(RemoveDirectoryTreeTest, AMissingPathRemovesNothing) {
  EXPECT_FALSE(RemoveDirectoryTree((scratch_.path() / "absent").string()));
  EXPECT_FALSE(RemoveDirectoryTree((tree_ / "top.txt").string()));
  EXPECT_TRUE(fs::exists(tree_ / "top.txt"));
}

}  // namespace
