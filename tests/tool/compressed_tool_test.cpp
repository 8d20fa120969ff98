// verify and extract read compressed files through the reader's own
// extraction: decoded on helper threads, checked against the sizes they
// declare, and named only when whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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
  test::WriteFile(installer, bytes);
  const test::ProgramResult verified = Envelope({"verify", installer.string()});
  EXPECT_EQ(verified.exit_code, 1);
  EXPECT_NE(verified.errors.find("group 2 (zfile key \"\" name \"lying.bin\"): its compressed "
                                 "contents do not decode to the sizes they declare"),
            std::string::npos)
      << verified.errors;
  fs::remove_all(out);
  EXPECT_EQ(Envelope({"extract", installer.string(), "--to", out.string()}).exit_code, 1);
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace
