// envelope extract and the reader follow one rule for what they make: the
// tree extract writes is the tree the reader's setup program finds in its
// work directory, for installers pack builds and for hand-made ones; where
// the reader cannot extract a file, extract fails as well, leaving nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "envelope_writer.h"
#include "installers.h"
#include "reader_run_fixture.h"
#include "recording_setup.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

using test::kRecordingSetup;

// Every entry below `root`: a directory as "/", a file as its bytes.
std::map<std::string, std::string> TreeBelow(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string path = fs::relative(entry.path(), root).generic_string();
    tree[path] = entry.is_directory() ? "/" : test::ReadFile(entry.path());
  }
  return tree;
}

class ExtractAgreementTest : public test::ReaderRunFixture {
 protected:
  ExtractAgreementTest() : ReaderRunFixture(60) {}

  test::ProgramResult Envelope(const std::vector<std::string>& arguments) {
    test::LaunchOptions options;
    options.arguments = arguments;
    return test::RunProgram(ENVELOPE_PATH, options);
  }

  // Runs the installer and extracts it; expects both to end the same way:
  // the same tree, or, when `refused` names a path, both refusing it.
  void ExpectTheSameTree(const std::string& context, const std::string& refused = "") {
    fs::remove_all(record_);
    fs::create_directory(record_);
    const test::ProgramResult run = Run();
    const fs::path out = scratch_.path() / "out";
    fs::remove_all(out);
    const test::ProgramResult extracted = Envelope({"extract", installer_.string(), "--to", out});
    if (!refused.empty()) {
      EXPECT_NE(run.errors.find("Failed to extract file!: File: "), std::string::npos)
          << context << ": " << run.errors;
      EXPECT_NE(run.errors.find(refused), std::string::npos) << context << ": " << run.errors;
      EXPECT_NE(extracted.exit_code, 0) << context;
      EXPECT_NE(extracted.errors.find(refused), std::string::npos) << context << extracted.errors;
      EXPECT_FALSE(fs::exists(out)) << context;
      return;
    }
    EXPECT_EQ(run.errors, "") << context;
    ASSERT_EQ(extracted.exit_code, 0) << context << ": " << extracted.errors;
    ASSERT_TRUE(fs::is_directory(record_ / "files")) << context;
    EXPECT_EQ(TreeBelow(out), TreeBelow(record_ / "files")) << context;
  }

  // An installer of the recording setup program, read first, the groups
  // `add` appends before it, and the launch values.
  void WriteHandMade(const std::function<void(std::string&)>& add) {
    std::string bytes = test::Stub(READER_PATH);
    add(bytes);
    writer::AppendFileGroup(bytes, "installer", "setup", kRecordingSetup);
    writer::AppendValueGroup(bytes, "executable", "%installer%");
    writer::AppendTail(bytes);
    WriteInstaller(bytes);
  }
};

// Two trees that share folders, packed and compressed, with a value that
// holds a line break and a terminal's escape: extract prints it escaped.
TEST_F(ExtractAgreementTest, TreesThatShareFoldersComeOutAsTheReaderMakesThem) {
  const fs::path one = scratch_.path() / "one", two = scratch_.path() / "two";
  for (const fs::path& tree : {one, two}) fs::create_directories(tree / "bin/sub");
  test::WriteExecutable(one / "bin/tool", "#!/bin/sh\n");
  test::WriteFile(one / "bin/sub/a.txt", test::CompressibleText(300000));
  test::WriteFile(two / "bin/sub/b.txt", "b");
  fs::create_directories(two / ".config/empty");
  test::WriteExecutable(scratch_.path() / "setup", kRecordingSetup);
  const test::ProgramResult packed =
      Envelope({"pack", "--stub", READER_PATH, "--tree", one.string(), "--tree", two.string(),
                "--file", "installer:setup=" + (scratch_.path() / "setup").string(), "--value",
                "executable=%installer%", "--value", "note=a\nb\x1b[31m", "-o", installer_});
  ASSERT_EQ(packed.exit_code, 0) << packed.errors;
  ExpectTheSameTree("two trees");
  const fs::path out = scratch_.path() / "values";
  const test::ProgramResult extracted = Envelope({"extract", installer_.string(), "--to", out});
  EXPECT_NE(extracted.output.find("\nnote=a\\x0ab\\x1b[31m\n"), std::string::npos)
      << extracted.output;
}

// Hand-made installers: a file and a tree that name one path, in either
// order, two trees filling one folder, frames cut anywhere; a file that
// would replace a directory is refused by both.
TEST_F(ExtractAgreementTest, HandMadeInstallersComeOutAsTheReaderMakesThem) {
  const std::map<std::string, std::string> tree = {
      {"bin/", ""}, {"bin/y", "y"}, {"doc/", ""}, {"doc/empty/", ""}, {"x", "from the tree"}};
  const auto file_x = [](std::string& bytes) {
    writer::AppendFileGroup(bytes, "", "x", "from a file");
  };
  WriteHandMade([&](std::string& bytes) {
    test::AppendTreeGroup(bytes, tree);
    file_x(bytes);  // read first: the tree's file replaces it
  });
  ExpectTheSameTree("a file, then a tree");
  WriteHandMade([&](std::string& bytes) {
    file_x(bytes);  // read after the tree: it replaces the tree's file
    test::AppendTreeGroup(bytes, tree);
  });
  ExpectTheSameTree("a tree, then a file");
  WriteHandMade([&](std::string& bytes) {
    test::AppendTreeGroup(bytes, {{"bin/", ""}, {"bin/one", "1"}});
    test::AppendTreeGroup(bytes, {{"bin/", ""}, {"bin/two", "2"}, {"bin/x/", ""}});
  });
  ExpectTheSameTree("two trees filling one folder");
  const std::string large = test::RandomBytes(70000, 3) + test::CompressibleText(90000);
  for (const writer::Compression compression :
       {writer::Compression::kNone, writer::Compression::kBest}) {
    WriteHandMade([&](std::string& bytes) {
      test::AppendTreeGroup(bytes, {{"a", large}, {"b/", ""}, {"b/c", "c"}, {"d", large.substr(9)}},
                            compression, 7777);
    });
    ExpectTheSameTree("frames of 7777 bytes");
  }
  WriteHandMade([&](std::string& bytes) {
    writer::AppendFileGroup(bytes, "", "doc/empty", "a file where a directory stands");
    test::AppendTreeGroup(bytes, tree);
  });
  ExpectTheSameTree("a file after a directory", "doc/empty");
}

}  // namespace
