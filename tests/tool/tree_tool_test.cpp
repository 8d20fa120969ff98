// Folder trees through the tool: packed with --tree, listed path by path,
// verified frame by frame and extracted as the reader extracts them.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "process_runner.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

test::ProgramResult Envelope(std::vector<std::string> arguments) {
  test::LaunchOptions options;
  options.arguments = std::move(arguments);
  return test::RunProgram(ENVELOPE_PATH, options);
}

// Every path below `root`, directories with a trailing "/", files with
// their bytes.
std::map<std::string, std::string> TreeBelow(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string path = fs::relative(entry.path(), root).generic_string();
    tree[entry.is_directory() ? path + "/" : path] =
        entry.is_directory() ? "" : test::ReadFile(entry.path());
  }
  return tree;
}

TEST(TreeToolTest, ATreePacksListsVerifiesAndExtractsWhole) {
  const test::ScratchDirectory scratch;
  const fs::path source = scratch.path() / "product", installer = scratch.path() / "installer";
  const std::string large = test::RandomBytes(300000, 4) + std::string(300000, 'x');
  fs::create_directories(source / "bin");
  fs::create_directories(source / "empty");
  fs::create_directories(source / ".config");
  test::WriteExecutable(source / "bin/setup", "#!/bin/sh\nexit 0\n");
  test::WriteFile(source / ".config/a.ini", "[a]");
  test::WriteFile(source / "large.bin", large);
  test::WriteFile(source / "d\xc3\xa9j\xc3\xa0.txt", "");
  test::WriteFile(scratch.path() / "extra.txt", "extra");
  const test::ProgramResult packed =
      Envelope({"pack", "--stub", READER_PATH, "--tree", source.string(), "--file",
                ":bin/extra.txt=" + (scratch.path() / "extra.txt").string(), "--value",
                "executable=bin/setup", "-o", installer.string()});
  ASSERT_EQ(packed.exit_code, 0) << packed.errors;

  const test::ProgramResult listed = Envelope({"list", "--json", installer.string()});
  ASSERT_EQ(listed.exit_code, 0) << listed.errors;
  const nlohmann::json groups = nlohmann::json::parse(listed.output)["groups"];
  const auto archive = std::find_if(groups.begin(), groups.end(),
                                    [](const nlohmann::json& g) { return g["type"] == "archive"; });
  ASSERT_NE(archive, groups.end());
  EXPECT_EQ((*archive)["original_size"], large.size() + 3 + 17);
  std::map<std::string, uint64_t> sizes;
  for (const nlohmann::json& entry : (*archive)["entries"]) {
    sizes[entry["path"].get<std::string>() + (entry["type"] == "directory" ? "/" : "")] =
        entry["size"];
    if (entry["path"] == "bin/setup") {
      EXPECT_EQ(entry["executable"], true);
    }
  }
  EXPECT_EQ(sizes, (std::map<std::string, uint64_t>{{".config/", 0},
                                                    {".config/a.ini", 3},
                                                    {"bin/", 0},
                                                    {"bin/setup", 17},
                                                    {"d\xc3\xa9j\xc3\xa0.txt", 0},
                                                    {"empty/", 0},
                                                    {"large.bin", large.size()}}));

  EXPECT_EQ(Envelope({"verify", installer.string()}).exit_code, 0);
  const fs::path out = scratch.path() / "out";
  const test::ProgramResult extracted =
      Envelope({"extract", installer.string(), "--to", out.string()});
  ASSERT_EQ(extracted.exit_code, 0) << extracted.errors;
  std::map<std::string, std::string> expected = TreeBelow(source);
  expected["bin/extra.txt"] = "extra";
  EXPECT_TRUE(TreeBelow(out) == expected);
  EXPECT_NE(fs::status(out / "bin/setup").permissions() & fs::perms::owner_exec, fs::perms::none);

  // A byte of the frame changed (the frame, over 300 KB, lies just before
  // the catalog and a few small records at the end): its digest no longer
  // matches, and nothing is extracted.
  std::string bytes = test::ReadFile(installer);
  bytes[bytes.size() - 150000] ^= 0x01;
  test::WriteFile(installer, bytes);
  const test::ProgramResult verified = Envelope({"verify", installer.string()});
  EXPECT_EQ(verified.exit_code, 1);
  EXPECT_NE(verified.errors.find("(archive key \"\"): the digest of its contents record does "
                                 "not match"),
            std::string::npos)
      << verified.errors;
  fs::remove_all(out);
  EXPECT_EQ(Envelope({"extract", installer.string(), "--to", out.string()}).exit_code, 1);
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace
