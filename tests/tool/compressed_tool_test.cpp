// verify and extract read compressed files and folder trees through the
// reader's own extraction: decoded on helper threads, checked against the
// sizes they declare, and named only when whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "archive_catalog.h"
#include "compressed_contents.h"
#include "envelope_writer.h"
#include "installers.h"
#include "little_endian.h"
#include "process_runner.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

test::ProgramResult Envelope(std::vector<std::string> arguments) {
  test::LaunchOptions options;
  options.arguments = std::move(arguments);
  return test::RunProgram(ENVELOPE_PATH, options);
}

// Writes `bytes` as `installer`, a damaged one: verify fails naming the
// damage `message` (a part of its report), and extract to `out` fails and
// leaves nothing there.
void ExpectDamageRefused(const fs::path& installer, const std::string& bytes,
                         const std::string& message, const fs::path& out) {
  test::WriteFile(installer, bytes);
  const test::ProgramResult verified = Envelope({"verify", installer.string()});
  EXPECT_EQ(verified.exit_code, 1);
  EXPECT_NE(verified.errors.find(message), std::string::npos) << verified.errors;
  fs::remove_all(out);
  EXPECT_EQ(Envelope({"extract", installer.string(), "--to", out.string()}).exit_code, 1);
  EXPECT_FALSE(fs::exists(out));
}

TEST(CompressedToolTest, VerifyAndExtractDecodeAsTheReaderDoes) {
  const test::ScratchDirectory scratch;
  const fs::path installer = scratch.path() / "installer";
  const fs::path out = scratch.path() / "out";
  const std::string text(3 * format::kMaxChunkOriginalSize + 5, 'q');
  const std::string random = test::RandomBytes(format::kMaxChunkOriginalSize + 3, 8);
  std::string intact = test::Stub(READER_PATH);
  writer::AppendCompressedFileGroup(intact, "", "text.txt", text);
  writer::AppendCompressedFileGroup(intact, "", "random.bin", random, writer::Compression::kFast);
  writer::AppendCompressedFileGroup(intact, "", "empty", "");
  writer::AppendTail(intact);

  test::WriteFile(installer, intact);
  EXPECT_EQ(Envelope({"verify", installer.string()}).exit_code, 0);
  const test::ProgramResult extracted =
      Envelope({"extract", installer.string(), "--to", out.string()});
  EXPECT_EQ(extracted.exit_code, 0) << extracted.errors;
  EXPECT_NE(extracted.output.find("extracted \"text.txt\" (3145733 bytes)"), std::string::npos)
      << extracted.output;
  EXPECT_TRUE(test::ReadFile(out / "text.txt") == text);
  EXPECT_TRUE(test::ReadFile(out / "random.bin") == random);
  EXPECT_EQ(test::ReadFile(out / "empty"), "");
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 3);

  // Contents whose digest matches but whose only chunk decodes to 4000 bytes
  // where 5000 are declared.
  std::string lying = writer::ContentsHeader(5000);
  format::AppendLittleEndian32(lying, 5000);
  lying += writer::CompressedContents(std::string(4000, 'z'), writer::Compression::kBest)
               .substr(format::kCompressedHeaderSize + 4);
  std::string bytes = test::Stub(READER_PATH);
  writer::AppendGroup(bytes, format::kCompressedFileGroupType, "", {"lying.bin", lying});
  writer::AppendTail(bytes);
  ExpectDamageRefused(installer, bytes,
                      "group 2 (zfile key \"\" name \"lying.bin\"): its compressed contents do "
                      "not decode to the sizes they declare",
                      out);
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
  ExpectDamageRefused(installer, bytes,
                      "(archive key \"\"): the digest of its contents record does not match", out);
}

// A catalog larger than the 16 MiB a reader takes, as no pack writes it: the
// reader would refuse it as damaged, and verify names it.
TEST(TreeToolTest, VerifyNamesACatalogTooLargeForTheReader) {
  const test::ScratchDirectory scratch;
  format::ArchiveCatalog catalog;
  std::vector<std::string> paths;
  for (int i = 0; i < 70000; ++i)
    paths.push_back(std::to_string(100000 + i) + std::string(240, 'd'));
  for (const std::string& path : paths) {
    catalog.entries.push_back({format::EntryKind::kDirectory, 0755, path, 0, 0});
  }
  const std::string payload = format::EncodeCatalog(catalog);
  ASSERT_GT(payload.size(), format::kMostCatalogBytes);
  std::string bytes = test::Stub(READER_PATH);
  writer::AppendGroup(bytes, format::kArchiveGroupType, "", {payload});
  writer::AppendTail(bytes);
  ExpectDamageRefused(scratch.path() / "installer", bytes,
                      "group 2 (archive key \"\"): its catalog holds " +
                          std::to_string(payload.size()) +
                          " bytes, more than the 16 MiB a reader takes",
                      scratch.path() / "out");
}

}  // namespace
