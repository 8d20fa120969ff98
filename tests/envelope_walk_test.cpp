// The walk over record groups: values into the table, files into the work
// directory, and how it ends.
#include "envelope_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "compressed_contents.h"
#include "envelope_writer.h"
#include "little_endian.h"
#include "platform_files.h"
#include "platform_system.h"
#include "record.h"
#include "run_state.h"
#include "tail.h"
#include "test_support.h"

using namespace format;
using namespace reader;

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class EnvelopeWalkTest : public testing::Test {
 protected:
  EnvelopeWalkTest() {
    fs::create_directory(work_);
    state_.work_directory = work_.string() + "/";
  }

  // A program file: stub bytes, the stub group, then whatever `groups` adds.
  template <typename AddGroups>
  std::string Program(AddGroups add_groups, bool with_stub_group = true, bool with_tail = true) {
    std::string bytes = with_stub_group ? "#!stub program bytes, longer than 23#" : "";
    if (with_stub_group) writer::AppendStubGroup(bytes, "reader");
    add_groups(bytes);
    if (with_tail) writer::AppendTail(bytes);
    return bytes;
  }

  // Walks `bytes` as the program file; returns the messages shown.
  std::string Walk(const std::string& bytes) {
    test::WriteFile(program_, bytes);
    test::MessageCapture messages;
    WalkEnvelope(program_.string(), state_);
    return messages.Take();
  }

  std::string FileError(const char* caption, const std::string& path, int error) {
    return std::string(caption) + ": File: " + path +
           "\nError: " + platform::SystemErrorText(error) + "\n";
  }

  // `size` bytes that differ from one offset to the next and between seeds.
  static std::string Pattern(size_t size, size_t seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
      bytes[i] = static_cast<char>((i * 131 + seed + i / 251) & 0xff);
    }
    return bytes;
  }

  test::ScratchDirectory scratch_;
  fs::path work_ = scratch_.path() / "work";
  fs::path program_ = scratch_.path() / "program";
  RunState state_;
};

TEST_F(EnvelopeWalkTest, AppliesEveryGroupDownToTheStub) {
  const std::string setup("setup\0program", 13);
  const std::string bytes = Program([&](std::string& b) {
    writer::AppendFileGroup(b, "installer", "Setup.exe", setup);
    writer::AppendFileGroup(b, "", "EN5.ini", "[en]");
    writer::AppendFileGroup(b, "", "Empty.txt", "");
    writer::AppendValueGroup(b, "executable", "%installer%");
    writer::AppendValueGroup(b, "parameters", "/quiet");
  });
  EXPECT_EQ(Walk(bytes), "");
  EXPECT_TRUE(state_.envelope_valid);
  EXPECT_EQ(state_.variables, (VariableTable{{"installer", "Setup.exe"},
                                             {"executable", "%installer%"},
                                             {"parameters", "/quiet"}}));
  EXPECT_EQ(test::ReadFile(work_ / "Setup.exe"), setup);
  EXPECT_EQ(test::ReadFile(work_ / "EN5.ini"), "[en]");
  EXPECT_EQ(test::ReadFile(work_ / "Empty.txt"), "");
  EXPECT_EQ(std::distance(fs::directory_iterator(work_), fs::directory_iterator()), 3);
}

TEST_F(EnvelopeWalkTest, TheGroupNearestTheEndWinsAndBuiltInsStand) {
  state_.variables["source"] = "/built/in";
  const std::string bytes = Program([](std::string& b) {
    writer::AppendValueGroup(b, "key", "earlier");
    writer::AppendFileGroup(b, "file", "first.txt", "1");
    writer::AppendFileGroup(b, "file", "second.txt", "2");
    writer::AppendValueGroup(b, "key", "later");
    writer::AppendValueGroup(b, "source", "from the envelope");
  });
  EXPECT_EQ(Walk(bytes), "");
  EXPECT_EQ(state_.variables["key"], "later");
  EXPECT_EQ(state_.variables["file"], "second.txt");
  EXPECT_EQ(state_.variables["source"], "/built/in");
  EXPECT_TRUE(fs::exists(work_ / "first.txt"));
}

TEST_F(EnvelopeWalkTest, UnknownGroupTypesAreSkippedAfterTheirKey) {
  const std::string bytes = Program([](std::string& b) {
    writer::AppendValueGroup(b, "before", "1");
    writer::AppendGroup(b, "future-type", "ignored-key");
    writer::AppendValueGroup(b, "after", "2");
  });
  EXPECT_EQ(Walk(bytes), "");
  EXPECT_EQ(state_.variables, (VariableTable{{"before", "1"}, {"after", "2"}}));
  EXPECT_TRUE(state_.envelope_valid);
}

TEST_F(EnvelopeWalkTest, WithoutAStubGroupTheWalkEndsAtTheStartOfTheFile) {
  const std::string bytes = Program(
      [](std::string& b) {
        b = std::string(40, 'x');  // bytes that are no record at all
        writer::AppendValueGroup(b, "only", "value");
      },
      /*with_stub_group=*/false);
  EXPECT_EQ(Walk(bytes), "");
  EXPECT_TRUE(state_.envelope_valid);
  EXPECT_EQ(state_.variables["only"], "value");
}

TEST_F(EnvelopeWalkTest, ExistingFilesAreOverwritten) {
  test::WriteFile(work_ / "data.bin", std::string(1000, 'o'));
  EXPECT_EQ(
      Walk(Program([](std::string& b) { writer::AppendFileGroup(b, "", "data.bin", "new"); })), "");
  EXPECT_EQ(test::ReadFile(work_ / "data.bin"), "new");
}

TEST_F(EnvelopeWalkTest, NamesMayUseExistingSubdirectories) {
  fs::create_directory(work_ / "lang");
  EXPECT_EQ(
      Walk(Program([](std::string& b) { writer::AppendFileGroup(b, "", "lang/DE5.ini", "de"); })),
      "");
  EXPECT_EQ(test::ReadFile(work_ / "lang" / "DE5.ini"), "de");
}

TEST_F(EnvelopeWalkTest, ADigestMismatchEndsTheWalkAndClearsValidity) {
  std::string bytes = Program([](std::string& b) {
    writer::AppendFileGroup(b, "", "never.txt", "not reached");
    writer::AppendValueGroup(b, "damaged", "a value whose byte is changed");
    writer::AppendValueGroup(b, "read", "first");
  });
  bytes[bytes.find("a value whose")] ^= 0x20;
  const std::string messages = Walk(bytes);
  EXPECT_NE(messages.find("Invalid Archive!: "), std::string::npos);
  EXPECT_EQ(messages.find("Invalid Archive!", 1), std::string::npos) << "reported once";
  EXPECT_FALSE(state_.envelope_valid);
  EXPECT_EQ(state_.variables, (VariableTable{{"read", "first"}}));
  EXPECT_FALSE(fs::exists(work_ / "never.txt"));
}

// File contents are verified and copied a chunk at a time; sizes around the
// chunk size must arrive whole and byte for byte.
TEST_F(EnvelopeWalkTest, ContentsAroundTheChunkSizeArriveWhole) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const size_t size : {kPayloadChunkSize - 1, kPayloadChunkSize, kPayloadChunkSize + 1,
                            2 * kPayloadChunkSize + 1}) {
    files.emplace_back("file-" + std::to_string(size), Pattern(size, size));
  }
  const std::string bytes = Program([&](std::string& b) {
    for (const auto& [name, contents] : files) writer::AppendFileGroup(b, name, name, contents);
  });
  EXPECT_EQ(Walk(bytes), "");
  EXPECT_TRUE(state_.envelope_valid);
  for (const auto& [name, contents] : files) {
    EXPECT_TRUE(test::ReadFile(work_ / name) == contents) << name;
    EXPECT_EQ(state_.variables[name], name);
  }
}

// The digest is known only after the last chunk: a mismatch there, or in the
// first, must still leave no file and no variable for the group.
TEST_F(EnvelopeWalkTest, AMismatchInAnyChunkOfTheContentsWritesNothing) {
  const std::string contents = Pattern(2 * kPayloadChunkSize + 1, 3);
  const std::string intact = Program([&](std::string& b) {
    writer::AppendFileGroup(b, "not-reached", "earlier.bin", "x");
    writer::AppendFileGroup(b, "big", "big.bin", contents);
    writer::AppendValueGroup(b, "read", "first");
  });
  const size_t first = intact.find(contents);
  for (const size_t damaged : {first, first + kPayloadChunkSize, first + contents.size() - 1}) {
    state_.variables.clear();
    state_.envelope_valid = false;
    std::string bytes = intact;
    bytes[damaged] ^= 0x40;
    const std::string messages = Walk(bytes);
    EXPECT_EQ(messages.rfind("Invalid Archive!: ", 0), 0u) << damaged;
    EXPECT_EQ(messages.find("Invalid Archive!", 1), std::string::npos) << "reported once";
    EXPECT_FALSE(state_.envelope_valid);
    EXPECT_EQ(state_.variables, (VariableTable{{"read", "first"}}));
    EXPECT_FALSE(fs::exists(work_ / "big.bin")) << damaged;
    EXPECT_FALSE(fs::exists(work_ / "earlier.bin"));
  }
}

// The names in the work directory, sorted.
std::vector<std::string> Names(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Contents are hashed and written in one pass, under a temporary name: the
// file takes its name only when the digest matched, replacing the file there;
// after a mismatch in any chunk the old file stands and nothing else is left.
TEST_F(EnvelopeWalkTest, OnlyMatchingContentsReplaceAFileAndNoTemporaryFileStays) {
  const std::string contents = Pattern(2 * kPayloadChunkSize + 1, 5);
  const std::string intact = Program([&](std::string& b) {
    writer::AppendFileGroup(b, "data", "data.bin", contents);
    writer::AppendValueGroup(b, "read", "first");
  });
  const size_t first = intact.find(contents);
  const struct {
    const char* where;
    size_t damaged;  // SIZE_MAX: nothing damaged
  } cases[] = {{"intact", SIZE_MAX},
               {"first chunk", first},
               {"middle chunk", first + kPayloadChunkSize + 7},
               {"last chunk", first + contents.size() - 1}};
  for (const auto& c : cases) {
    test::WriteFile(work_ / "data.bin", "old contents");
    state_.variables.clear();
    std::string bytes = intact;
    if (c.damaged != SIZE_MAX) bytes[c.damaged] ^= 0x01;
    const std::string messages = Walk(bytes);
    const bool intact_case = c.damaged == SIZE_MAX;
    EXPECT_EQ(messages.empty(), intact_case) << c.where;
    EXPECT_EQ(state_.variables.count("data"), intact_case ? 1u : 0u) << c.where;
    EXPECT_TRUE(test::ReadFile(work_ / "data.bin") == (intact_case ? contents : "old contents"))
        << c.where;
    EXPECT_EQ(Names(work_), std::vector<std::string>{"data.bin"}) << c.where;
  }
}

// A record may be named like the temporary files: it is extracted under
// that name, and the files after it are written under another.
TEST_F(EnvelopeWalkTest, ARecordNamedLikeATemporaryFileKeepsItsContents) {
  const std::string bytes = Program([](std::string& b) {
    writer::AppendFileGroup(b, "", "later.txt", "written after it");
    writer::AppendFileGroup(b, "", "~extracting-0", "named like a temporary file");
  });
  EXPECT_EQ(Walk(bytes), "");
  EXPECT_EQ(test::ReadFile(work_ / "~extracting-0"), "named like a temporary file");
  EXPECT_EQ(test::ReadFile(work_ / "later.txt"), "written after it");
  EXPECT_EQ(Names(work_), (std::vector<std::string>{"later.txt", "~extracting-0"}));
}

// A file that cannot take its name or cannot be written whole is reported,
// after its variable (the effects' order), and leaves nothing behind.
TEST_F(EnvelopeWalkTest, AFailedRenameOrWriteLeavesNothingPartial) {
  fs::create_directory(work_ / "folder");
  const std::string big = Pattern(2 * kPayloadChunkSize + 1, 9);
  struct Case {
    const char* name;
    int error;
    bool limit_file_size;  // writes beyond kPayloadChunkSize fail
  };
  const std::vector<Case> cases = {
#ifdef _WIN32
      {"missing-dir/file.bin", 3, false},  // ERROR_PATH_NOT_FOUND
      {"folder", 5, false},                // ERROR_ACCESS_DENIED
#else
      {"missing-dir/file.bin", ENOENT, false},
      {"folder", EISDIR, false},
      {"file.bin", EFBIG, true},
#endif
  };
  for (const Case& c : cases) {
    state_.variables.clear();
    const std::string bytes = Program([&](std::string& b) {
      writer::AppendFileGroup(b, "", "not-reached.txt", "x");
      writer::AppendFileGroup(b, "key", c.name, big);
    });
    test::WriteFile(program_, bytes);
    test::MessageCapture capture;
#ifndef _WIN32
    std::optional<test::FileSizeLimit> limit;
    if (c.limit_file_size) {
      limit.emplace(kPayloadChunkSize);
      ASSERT_TRUE(limit->held());
    }
    WalkEnvelope(program_.string(), state_);
    limit.reset();
#else
    WalkEnvelope(program_.string(), state_);
#endif
    const std::string messages = capture.Take();
    EXPECT_EQ(messages,
              FileError("Failed to extract file!", state_.work_directory + c.name, c.error))
        << c.name;
    EXPECT_EQ(state_.variables, (VariableTable{{"key", c.name}})) << c.name;
    EXPECT_EQ(Names(work_), std::vector<std::string>{"folder"}) << c.name;
    EXPECT_TRUE(fs::is_empty(work_ / "folder")) << c.name;
  }
}

TEST_F(EnvelopeWalkTest, AMissingProgramFileIsReported) {
  test::MessageCapture messages;
  WalkEnvelope((scratch_.path() / "absent").string(), state_);
  EXPECT_EQ(messages.Take(),
            FileError("Failed to open archive!", (scratch_.path() / "absent").string(), ENOENT));
  EXPECT_FALSE(state_.envelope_valid);
}

TEST_F(EnvelopeWalkTest, AProgramWithoutTailIsReportedWithoutAStaleError) {
  test::WriteFile(program_, std::string(5000, 'x'));
  test::MessageCapture messages;
  errno = EEXIST;  // as left by creating a directory that was there already
  WalkEnvelope(program_.string(), state_);
  EXPECT_EQ(messages.Take(), FileError("Failed to initialize archive!", program_.string(), 0));
  EXPECT_FALSE(state_.envelope_valid);
}

TEST_F(EnvelopeWalkTest, FilesThatCannotBeCreatedEndTheWalkButKeepValidity) {
  fs::create_directory(work_ / "folder");
  for (const char* name : {"missing-dir/file.txt", "folder", ""}) {
    state_.variables.clear();
    const std::string bytes = Program([&](std::string& b) {
      writer::AppendValueGroup(b, "not-reached", "x");
      writer::AppendFileGroup(b, "bad", name, "contents");
      writer::AppendValueGroup(b, "reached", "y");
    });
    const std::string target = state_.work_directory + name;
#ifdef _WIN32
    // ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED
    const int error = std::string(name) == "missing-dir/file.txt" ? 3 : 5;
#else
    const int error = std::string(name) == "missing-dir/file.txt" ? ENOENT : EISDIR;
#endif
    EXPECT_EQ(Walk(bytes), FileError("Failed to extract file!", target, error)) << name;
    EXPECT_TRUE(state_.envelope_valid);
    EXPECT_EQ(state_.variables, (VariableTable{{"reached", "y"}, {"bad", name}})) << name;
  }
}

TEST_F(EnvelopeWalkTest, NamesLeadingOutOfTheWorkDirectoryAreRefused) {
  fs::create_directory(work_ / "sub");
  // A zero byte ends the name the system sees: "sub/..\0" would be "sub/..",
  // and "ok.txt\0" would write ok.txt.
  for (const std::string& name : std::initializer_list<std::string>{
           "../escaped.txt", "sub/../../escaped.txt", "..\\escaped.txt", "sub\\..\\..\\escaped.txt",
           "/tmp/escaped.txt", "\\escaped.txt", "C:escaped.txt", "..", "sub/..\0"s, "ok.txt\0"s}) {
    const std::string bytes =
        Program([&](std::string& b) { writer::AppendFileGroup(b, "", name, "outside"); });
    // A zero byte is shown as "\0": a message box would end the text there.
    const std::string shown = std::regex_replace(name, std::regex(std::string(1, '\0')), "\\0");
    EXPECT_EQ(Walk(bytes), FileError("Failed to extract file!", state_.work_directory + shown,
                                     platform::kErrorInvalidName))
        << name;
    EXPECT_FALSE(fs::exists(work_ / "ok.txt")) << name;
    EXPECT_TRUE(state_.envelope_valid);
  }
  EXPECT_FALSE(fs::exists(scratch_.path() / "escaped.txt"));
  EXPECT_FALSE(fs::exists("/tmp/escaped.txt"));
}

// ---------------------------------------------------------------------------
// Compressed files

// Compressible, incompressible and empty files, around the chunk size and
// beside uncompressed ones, arrive whole under their names, and nothing else
// stays in the work directory.
TEST_F(EnvelopeWalkTest, CompressedFilesArriveWholeBesideUncompressedOnes) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"empty.txt", ""},
      {"one.txt", "1"},
      {"text.txt", std::string(3 * kMaxChunkOriginalSize + 17, 'a')},
      {"pattern.bin", Pattern(kMaxChunkOriginalSize, 9)},
      {"random.bin", test::RandomBytes(kMaxChunkOriginalSize + 1, 4)},
  };
  for (const writer::Compression level : {writer::Compression::kFast, writer::Compression::kBest}) {
    fs::remove_all(work_);
    fs::create_directory(work_);
    state_.variables.clear();
    const std::string bytes = Program([&](std::string& b) {
      for (const auto& [name, contents] : files) {
        writer::AppendCompressedFileGroup(b, name, name, contents, level);
        writer::AppendFileGroup(b, "", "plain-" + name, contents);
      }
    });
    EXPECT_EQ(Walk(bytes), "");
    EXPECT_TRUE(state_.envelope_valid);
    for (const auto& [name, contents] : files) {
      EXPECT_TRUE(test::ReadFile(work_ / name) == contents) << name;
      EXPECT_TRUE(test::ReadFile(work_ / ("plain-" + name)) == contents) << name;
      EXPECT_EQ(state_.variables[name], name);
    }
    EXPECT_EQ(Names(work_).size(), 2 * files.size());
  }
}

// The stored bytes of the chunks are covered by the digest like any record's:
// damage in the first, a middle or the last chunk leaves nothing of the file.
TEST_F(EnvelopeWalkTest, ADamagedChunkOfACompressedFileLeavesNothing) {
  const std::string contents = Pattern(3 * kMaxChunkOriginalSize, 7);
  const std::string compressed = writer::CompressedContents(contents, writer::Compression::kFast);
  const std::string intact = Program([&](std::string& b) {
    writer::AppendCompressedFileGroup(b, "big", "big.bin", contents, writer::Compression::kFast);
  });
  const size_t first = intact.find(compressed);
  ASSERT_NE(first, std::string::npos);
  for (const size_t damaged : {first + kCompressedHeaderSize + kChunkHeaderSize + 1,
                               first + compressed.size() / 2, first + compressed.size() - 1}) {
    state_.variables.clear();
    std::string bytes = intact;
    bytes[damaged] ^= 0x20;
    EXPECT_EQ(Walk(bytes).rfind("Invalid Archive!: ", 0), 0u) << damaged;
    EXPECT_FALSE(state_.envelope_valid);
    EXPECT_EQ(state_.variables.count("big"), 0u);
    EXPECT_TRUE(Names(work_).empty()) << damaged;
  }
}

// A bomb whose sizes add up, declaring 1 TiB in a million chunks of one
// stored byte each, is refused for want of room before a chunk is decoded.
TEST_F(EnvelopeWalkTest, ACompressedFileDeclaringMoreThanTheDiskHoldsIsRefusedFirst) {
  uint64_t free_bytes = 0;
  ASSERT_TRUE(platform::FreeDiskSpace(work_.string(), free_bytes));
  constexpr uint64_t kDeclared = uint64_t{1} << 40;
  if (free_bytes >= kDeclared) GTEST_SKIP() << "the disk holds 1 TiB";
  std::string contents = writer::ContentsHeader(kDeclared);
  for (uint64_t i = 0; i < kDeclared / kMaxChunkOriginalSize; ++i) {
    format::AppendLittleEndian32(contents, kMaxChunkOriginalSize);
    format::AppendLittleEndian32(contents, 1);
    contents += '\x03';
  }
  const std::string bytes = Program([&](std::string& b) {
    writer::AppendGroup(b, kCompressedFileGroupType, "bomb", {"bomb.bin", contents});
  });
  EXPECT_EQ(Walk(bytes), FileError("Failed to extract file!", state_.work_directory + "bomb.bin",
                                   platform::kErrorDiskFull));
  EXPECT_TRUE(state_.envelope_valid);
  EXPECT_TRUE(Names(work_).empty());
}

// Contents whose digest matches but whose sizes lie are a damaged envelope
// all the same: nothing appears under the name, nothing is decoded beyond
// what a chunk declares, and the walk ends there.
TEST_F(EnvelopeWalkTest, CompressedContentsWithLyingSizesAreDamaged) {
  // One deflated chunk of 4000 bytes.
  const std::string honest =
      writer::CompressedContents(std::string(4000, 'z'), writer::Compression::kBest);
  const auto with_sizes = [&](uint64_t total, uint32_t original, std::string tail = "") {
    std::string contents = writer::ContentsHeader(total);
    format::AppendLittleEndian32(contents, original);
    return contents + honest.substr(kCompressedHeaderSize + 4) + tail;
  };
  std::string raw_chunk = writer::ContentsHeader(1);
  format::AppendLittleEndian32(raw_chunk, 1);
  format::AppendLittleEndian32(raw_chunk, 2);  // stored larger than original
  raw_chunk += "xy";
  std::string huge_chunk = writer::ContentsHeader(2 * kMaxChunkOriginalSize);
  format::AppendLittleEndian32(huge_chunk, kMaxChunkOriginalSize + 1);
  format::AppendLittleEndian32(huge_chunk, 1);
  huge_chunk += "x";
  const struct {
    const char* what;
    std::string contents;
  } cases[] = {
      {"a bomb declaring 1 TiB", with_sizes(uint64_t{1} << 40, 4000)},
      {"a chunk decoding to more than declared", with_sizes(3000, 3000)},
      {"a chunk decoding to less than declared", with_sizes(5000, 5000)},
      {"chunks adding up to less than the file", with_sizes(8000, 4000)},
      {"bytes after the last chunk", with_sizes(4000, 4000, "!")},
      {"a stream cut short", honest.substr(0, honest.size() - 3)},
      {"the size alone, cut short", honest.substr(0, 5)},
      {"stored larger than the chunk", raw_chunk},
      {"a chunk over 1 MiB", huge_chunk},
  };
  for (const auto& c : cases) {
    state_.variables.clear();
    const std::string bytes = Program([&](std::string& b) {
      writer::AppendFileGroup(b, "", "after.txt", "not reached");
      writer::AppendGroup(b, kCompressedFileGroupType, "lying", {"lying.bin", c.contents});
    });
    EXPECT_EQ(Walk(bytes).rfind("Invalid Archive!: ", 0), 0u) << c.what;
    EXPECT_FALSE(state_.envelope_valid) << c.what;
    EXPECT_TRUE(Names(work_).empty()) << c.what;
  }
}

}  // namespace
