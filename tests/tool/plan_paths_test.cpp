// Names with folders ("bin/setup.exe"), and what a plan's files and its
// trees make of the work directory together.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file_names.h"
#include "plan_rules.h"
#include "tool_error.h"

using namespace tool;

namespace {

std::string PlanError(const PackPlan& plan) {
  try {
    CheckPlan(plan);
  } catch (const ToolError& error) {
    return error.what();
  }
  return "";
}

std::string TreeError(const PackPlan& plan, const std::vector<TreeEntry>& entries) {
  try {
    CheckTreeEntries(plan, entries);
  } catch (const ToolError& error) {
    return error.what();
  }
  return "";
}

// The entries of a tree found in `root`: a path ending in "/" is a
// directory.
std::vector<TreeEntry> Tree(const std::string& root, const std::vector<std::string>& paths) {
  std::vector<TreeEntry> entries;
  for (const std::string& path : paths) {
    TreeEntry entry;
    entry.directory = path.ends_with('/');
    entry.path = entry.directory ? path.substr(0, path.size() - 1) : path;
    entry.source = root + "/" + entry.path;
    entries.push_back(entry);
  }
  return entries;
}

TEST(PlanPaths, NamesMayHoldFoldersSeparatedBySlash) {
  for (const char* path :
       {"Setup.exe", "bin/setup.exe", "a/b/c/d.txt", ".config/x", "x..y/z", "Größe/下载.txt"}) {
    EXPECT_EQ(RefusedFilePath(path), "") << path;
  }
  const std::pair<std::string, const char*> refused[] = {
      {std::string(format::kMostFileNameBytes + 1, 'a'),
       "is longer than any path Windows or Linux accepts"},
      {"C:/x", "leaves the work directory"},
      {"bin/../../x", "leaves the work directory"},
      {"bin\\setup.exe",
       "contains \"\\\", which Windows takes for a directory separator; separate directories "
       "with \"/\""},
      {"bin//x", "has an empty part (a trailing \"/\" or two in a row)"},
      {"bin/", "has an empty part (a trailing \"/\" or two in a row)"},
      {"./x", "has a \".\" part"},
      {"x?", "contains a character Windows does not allow in file names"},
      {"dir/a:b",
       "has a part \"a:b\" that contains a character Windows does not allow in file "
       "names"},
      {"dir/x.", "has a part \"x.\" that ends in a dot or space, which Windows drops"},
      {"bin/con.txt", "has a part \"con.txt\" that is a device name on Windows"},
  };
  for (const auto& [path, reason] : refused) {
    EXPECT_EQ(RefusedFilePath(path), reason) << path.substr(0, 40);
  }
}

TEST(PlanPaths, FilesInFoldersPassTheLaunchCheckAndMayNotCollide) {
  PackPlan plan;
  plan.files = {{"installer", "bin/setup.exe", "x"}, {"", "bin/lang/EN5.ini", "y"}};
  plan.values = {{"executable", "%installer%"}, {"parameters", "/q"}};
  EXPECT_EQ(PlanError(plan), "");
  plan.values[0].text = "bin/setup.exe";
  EXPECT_EQ(PlanError(plan), "");

  const struct {
    std::vector<std::string> names;
    std::string error;
  } cases[] = {
      {{"a", "a/b"}, "file \"a/b\" and file \"a\": \"a\" would be both a file and a directory"},
      {{"a/b", "a"}, "file \"a\" and file \"a/b\": \"a\" would be both a file and a directory"},
      {{"Bin/a", "bin/b"},
       "file \"bin/b\" and file \"Bin/a\": \"bin\" and \"Bin\" differ only in case, and Windows "
       "takes them for one"},
      {{"bin/x", "BIN/X"}, "file \"BIN/X\": the name is given twice"},
      {{"bin/con"},
       "file \"bin/con\": the name has a part \"con\" that is a device name on Windows"},
      {{"bin/a", "bin/b", "bin/sub/c"}, ""},
  };
  for (const auto& c : cases) {
    PackPlan files;
    for (const std::string& name : c.names) files.files.push_back({"", name, "x"});
    EXPECT_EQ(PlanError(files), c.error) << c.names[0];
  }
}

TEST(PlanPaths, TreesMayNotCollideWithFilesOrEachOther) {
  const std::vector<TreeEntry> tree = Tree("/src", {"a/", "a/b", "x"});
  const struct {
    std::vector<std::string> files;
    std::vector<TreeEntry> other_tree;
    std::string error;
  } cases[] = {
      {{"a/c", "y"}, {}, ""},  // inside the tree's directory "a"
      {{"a/sub/d"},
       {},
       "file \"a/sub/d\": no tree has the directory \"a/sub\"; the reader makes directories for "
       "trees only"},
      {{},
       Tree("/more", {"~Extracting-7"}),
       "tree file \"/more/~Extracting-7\": the name \"~Extracting-7\" begins as the reader's "
       "temporary files do (\"~extracting-\"), at the top of the tree"},
      {{"x"}, {}, "tree file \"/src/x\" and file \"x\" are both extracted as \"x\""},
      {{"X"},
       {},
       "tree file \"/src/x\" and file \"X\": \"x\" and \"X\" differ only in case, and Windows "
       "takes them for one"},
      {{"a"},
       {},
       "tree directory \"/src/a\" and file \"a\": \"a\" would be both a file and a "
       "directory"},
      {{"x/y"},
       {},
       "tree file \"/src/x\" and file \"x/y\": \"x\" would be both a file and a "
       "directory"},
      {{}, Tree("/more", {"a/", "a/c", "y"}), ""},  // both trees fill the directory "a"
      {{},
       Tree("/more", {"x"}),
       "tree file \"/more/x\" and tree file \"/src/x\" are both "
       "extracted as \"x\""},
      {{},
       Tree("/more", {"x/", "x/y"}),
       "tree directory \"/more/x\" and tree file \"/src/x\": \"x\" would be both a file and a "
       "directory"},
  };
  for (const auto& c : cases) {
    PackPlan plan;
    for (const std::string& name : c.files) plan.files.push_back({"", name, "f"});
    std::vector<TreeEntry> entries = tree;
    entries.insert(entries.end(), c.other_tree.begin(), c.other_tree.end());
    EXPECT_EQ(TreeError(plan, entries), c.error) << (c.files.empty() ? "trees" : c.files[0]);
  }
}

// Names Windows takes for one are refused: equal but for case beyond ASCII
// (as its file systems compare them: "ß" is not "SS"), a device name however
// spaced, a name that may be the short 8.3 name Windows makes up for a longer
// one beside it (at the top: for one of the reader's temporary files); and
// names and paths longer than the stub's system makes.
TEST(PlanPaths, NamesWindowsTakesForOneAndPathsTooLongAreRefused) {
  const struct {
    std::vector<std::string> tree;
    std::string error;  // a part of the refusal; empty: accepted
  } cases[] = {
      {{"x/", "x/\xc3\x89.txt", "x/\xc3\xa9.txt"}, "differ only in case"},  // É, é
      {{"\xce\xa3", "\xcf\x82"}, "differ only in case"},                    // Σ, ς
      {{"stra\xc3\x9f"
        "e.txt",
        "STRASSE.txt"},
       ""},  // ß
      {{"d/", "d/abcdefghij.txt", "d/abcd~auf.txt"},
       "\"abcd~auf.txt\" may be the short 8.3 name Windows gives \"abcdefghij.txt\" beside it"},
      {{"d/", "d/x~1.txt", "d/y.txt"}, ""},
      {{"PROGRA~1/", "PROGRA~1/a"}, "one of the reader's temporary files"},
      {{"d/", "d/NUL .txt"}, "is a device name on Windows"},
  };
  for (const auto& c : cases) {
    std::vector<TreeEntry> entries = Tree("/src", c.tree);
    std::string error = TreeError(PackPlan{}, entries);
    if (error.empty()) {
      for (const TreeEntry& entry : entries) {
        if (const std::string refused = RefusedFilePath(entry.path); !refused.empty())
          error = refused;
      }
    }
    EXPECT_EQ(error.empty(), c.error.empty()) << c.tree.back() << ": " << error;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.tree.back() << ": " << error;
  }
  const auto length_error = [](const std::string& path, bool windows) {
    try {
      CheckPathLengths(PackPlan{}, Tree("/src", {path}), windows);
    } catch (const ToolError& error) {
      return std::string(error.what());
    }
    return std::string();
  };
  const std::string long_path = std::string(200, 'a') + "/" + std::string(200, 'b');
  EXPECT_EQ(length_error(long_path, false), "");
  EXPECT_NE(length_error(std::string(256, 'a'), false).find("longer than 255 bytes"),
            std::string::npos);
  // 200 characters of three bytes each: 600 bytes, 200 units.
  std::string wide_name;
  for (int i = 0; i < 200; ++i) wide_name += "\xe6\x96\x87";
  EXPECT_EQ(length_error(wide_name, true), "");
  EXPECT_NE(length_error(wide_name, false), "");
  std::string deep;
  for (int i = 0; i < 200; ++i) deep += std::string(200, 'd') + "/";
  EXPECT_NE(length_error(deep + "x", true).find("UTF-16 units a Windows reader can make"),
            std::string::npos);
  EXPECT_EQ(length_error(deep + "x", false), "");
}

}  // namespace
