// Listing a folder tree to pack, and reading its files while they may change.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_support.h"
#include "tool_error.h"
#include "tree_source.h"
#include "utf8_path.h"

using namespace tool;

namespace {

namespace fs = std::filesystem;

// The message ListTree gives for `root`, or "(no error)".
std::string ListError(const fs::path& root) {
  try {
    ListTree(root);
  } catch (const ToolError& error) {
    return error.what();
  }
  return "(no error)";
}

template <typename Action>
std::string ToolErrorOf(Action action) {
  try {
    action();
  } catch (const ToolError& error) {
    return error.what();
  }
  return "(no error)";
}

TEST(TreeSource, ListsFilesAndDirectoriesInByteOrderWithoutTheRoot) {
  test::ScratchDirectory scratch;
  const fs::path root = scratch.path() / "tree";
  // Made out of order; "a/empty" stays empty.
  const struct {
    const char* path;
    const char* contents;  // nullptr: a directory
    fs::perms permissions;
  } made[] = {
      {"über.txt", "ü", fs::perms::owner_read | fs::perms::owner_write},
      {"a", nullptr, fs::perms::none},
      {"a/z", "#!/bin/sh\n", fs::perms::owner_all | fs::perms::group_read},
      {"a/empty", nullptr, fs::perms::none},
      {"a-b.txt", "ab", fs::perms::owner_read | fs::perms::others_exec},
      {"Z.txt", "", fs::perms::owner_read | fs::perms::owner_write},
      {"Größe.txt", "größe", fs::perms::owner_read | fs::perms::group_exec},
  };
  fs::create_directory(root);
  for (const auto& entry : made) {
    const fs::path path = root / PathFromUtf8(entry.path);
    if (entry.contents == nullptr) {
      fs::create_directory(path);
    } else {
      test::WriteFile(path, entry.contents);
      fs::permissions(path, entry.permissions);
    }
  }

  const struct {
    const char* path;
    bool directory;
    bool executable;
    uint64_t size;
  } expected[] = {
      {"Größe.txt", false, true, 7},  // "G" < "Z" < "a" < "\xC3"; the group's execute bit
      {"Z.txt", false, false, 0},     // empty
      {"a", true, false, 0},          // a directory comes before what lies in it
      {"a-b.txt", false, true, 2},    // "-" < "/"; others' execute bit
      {"a/empty", true, false, 0},    // an empty directory is listed
      {"a/z", false, true, 10},       // the owner's execute bit
      {"über.txt", false, false, 2},
  };
  const std::vector<TreeEntry> entries = ListTree(root);
  ASSERT_EQ(entries.size(), std::size(expected));
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].path, expected[i].path) << i;
    EXPECT_EQ(entries[i].directory, expected[i].directory) << expected[i].path;
    EXPECT_EQ(entries[i].executable, expected[i].executable) << expected[i].path;
    EXPECT_EQ(entries[i].size, expected[i].size) << expected[i].path;
    EXPECT_EQ(entries[i].source, root / PathFromUtf8(expected[i].path)) << expected[i].path;
  }

  // A root reached through a link is listed; the entries' sources keep the
  // way it was named.
  fs::create_directory_symlink(root, scratch.path() / "link");
  const std::vector<TreeEntry> linked = ListTree(scratch.path() / "link");
  ASSERT_EQ(linked.size(), entries.size());
  EXPECT_EQ(linked[5].source, scratch.path() / "link/a/z");
}

TEST(TreeSource, RefusesWhatIsNoFileOrFolderAndNamesWindowsCannotHold) {
  const struct {
    const char* what;
    std::function<void(const fs::path&)> make;
    std::string error;  // with <root> for the tree's path
  } cases[] = {
      {"a link to a directory, below a directory",
       [](const fs::path& root) {
         fs::create_directories(root / "sub/dir");
         fs::create_directory_symlink("dir", root / "sub/link");
       },
       "\"<root>/sub/link\" is a symbolic link; a tree holds only regular files and directories, "
       "and links are not followed"},
      {"a named pipe",
       [](const fs::path& root) { ASSERT_EQ(mkfifo((root / "pipe").c_str(), 0600), 0); },
       "\"<root>/pipe\" is a named pipe; a tree holds only regular files and directories, and "
       "links are not followed"},
      {"files equal but for case",
       [](const fs::path& root) {
         test::WriteFile(root / "Readme.txt", "a");
         test::WriteFile(root / "README.txt", "b");
       },
       "\"<root>/README.txt\" and \"<root>/Readme.txt\" differ only in case, and Windows takes "
       "them for one"},
      {"a device name below a directory",
       [](const fs::path& root) {
         fs::create_directories(root / "sub");
         test::WriteFile(root / "sub/CON", "");
       },
       "\"<root>/sub/CON\": the name is a device name on Windows"},
      {"a colon", [](const fs::path& root) { test::WriteFile(root / "a:b", ""); },
       "\"<root>/a:b\": the name contains a character Windows does not allow in file names"},
      {"a backslash", [](const fs::path& root) { test::WriteFile(root / "a\\b", ""); },
       "\"<root>/a\\b\": the name contains \"\\\", which Windows takes for a directory "
       "separator"},
      {"a name that is not UTF-8",
       [](const fs::path& root) { test::WriteFile(root / "caf\xE9", ""); },
       "\"<root>/caf\\xe9\": the name is not valid UTF-8"},
  };
  for (const auto& c : cases) {
    test::ScratchDirectory scratch;
    const fs::path root = scratch.path() / "tree";
    fs::create_directory(root);
    c.make(root);
    std::string error = c.error;
    for (size_t at; (at = error.find("<root>")) != std::string::npos;) {
      error.replace(at, 6, root.string());
    }
    EXPECT_EQ(ListError(root), error) << c.what;
  }
}

TEST(TreeSource, TheRootMustBeADirectory) {
  test::ScratchDirectory scratch;
  test::WriteFile(scratch.path() / "file", "x");
  EXPECT_EQ(ListError(scratch.path() / "file"),
            "tree \"" + (scratch.path() / "file").string() + "\" is not a directory");
}

class TreeFileReaderTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(root());
    test::WriteFile(root() / "data.bin", kContents);
  }

  fs::path root() const { return scratch_.path() / "tree"; }
  fs::path data() const { return root() / "data.bin"; }
  TreeEntry Listed() const { return ListTree(root()).at(0); }
  std::string Changed(const std::string& how) const {
    return "\"" + data().string() + "\" changed while packing: " + how;
  }

  const std::string kContents = test::RandomBytes(10000, 7);
  test::ScratchDirectory scratch_;
};

TEST_F(TreeFileReaderTest, ReadsTheListedBytesInPieces) {
  TreeFileReader reader(Listed());
  std::string read(kContents.size(), '\0');
  reader.Read(read.data(), 1);
  reader.Read(read.data() + 1, 4095);
  reader.Read(read.data() + 4096, kContents.size() - 4096);
  reader.Finish();
  EXPECT_EQ(read, kContents);
  EXPECT_THROW(reader.Read(read.data(), 1), std::logic_error);  // past the listed size
}

TEST_F(TreeFileReaderTest, RefusesAFileThatChangedBeforeItWasOpened) {
  const struct {
    const char* what;
    std::function<void(const fs::path&)> change;
    std::string error;  // the start of the message
  } cases[] = {
      {"grew", [](const fs::path& data) { test::WriteFile(data, test::RandomBytes(10001, 7)); },
       "10001 bytes now, 10000 when listed"},
      {"became a link",
       [](const fs::path& data) {
         fs::rename(data, data.parent_path() / "elsewhere");
         fs::create_symlink("elsewhere", data);
       },
       "it is no longer a regular file"},
      {"became a named pipe",
       [](const fs::path& data) {
         fs::remove(data);
         ASSERT_EQ(mkfifo(data.c_str(), 0600), 0);
       },
       "it is no longer a regular file"},
      {"was removed", [](const fs::path& data) { fs::remove(data); }, ""},
  };
  for (const auto& c : cases) {
    test::WriteFile(data(), kContents);
    const TreeEntry entry = Listed();
    c.change(data());
    EXPECT_EQ(ToolErrorOf([&] { TreeFileReader reader(entry); }).rfind(Changed(c.error), 0), 0u)
        << c.what;
    fs::remove_all(data());
  }
}

TEST_F(TreeFileReaderTest, NoticesAFileThatChangesWhileItIsRead) {
  std::string buffer(kContents.size(), '\0');
  {
    TreeFileReader reader(Listed());
    fs::resize_file(data(), 5000);
    reader.Read(buffer.data(), 4000);
    EXPECT_EQ(ToolErrorOf([&] { reader.Read(buffer.data(), 2000); }),
              Changed("it ends before the 10000 bytes listed"));
  }
  test::WriteFile(data(), kContents);
  {
    TreeFileReader reader(Listed());
    reader.Read(buffer.data(), buffer.size());
    test::WriteFile(data(), kContents + "more");
    EXPECT_EQ(ToolErrorOf([&] { reader.Finish(); }), Changed("10004 bytes now, 10000 when listed"));
  }
  test::WriteFile(data(), kContents);
  {
    TreeFileReader reader(Listed());
    reader.Read(buffer.data(), buffer.size());
    // The same size, written later: only the modification time tells.
    fs::last_write_time(data(), fs::last_write_time(data()) + std::chrono::seconds(5));
    EXPECT_EQ(ToolErrorOf([&] { reader.Finish(); }), Changed("it was modified while being read"));
  }
}

}  // namespace
