// Archive groups: the catalog's rules, folder trees through the writer and
// the walk, and damaged or lying frames.
#include <gtest/gtest.h>
#include <zstd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive_catalog.h"
#include "archive_writer.h"
#include "directory_maker.h"
#include "envelope_walk.h"
#include "envelope_writer.h"
#include "expected_messages.h"
#include "little_endian.h"
#include "md5.h"
#include "platform_files.h"
#include "record.h"
#include "test_support.h"
#include "work_directory.h"

using namespace format;

namespace {

namespace fs = std::filesystem;

ArchiveEntry File(std::string_view path, uint64_t size, uint16_t mode = 0644) {
  return {EntryKind::kFile, mode, path, size};
}
ArchiveEntry Directory(std::string_view path) { return {EntryKind::kDirectory, 0755, path, 0}; }

std::string Catalog(std::vector<ArchiveEntry> entries, std::vector<uint32_t> frame_sizes) {
  ArchiveCatalog catalog;
  catalog.entries = std::move(entries);
  for (const uint32_t size : frame_sizes) catalog.frames.push_back({FrameMethod::kZstd, size});
  return EncodeCatalog(catalog);
}

TEST(ArchiveCatalogTest, ACatalogBreakingAnyRuleIsRefused) {
  const struct {
    const char* what;
    std::string payload;
    bool valid;
  } cases[] = {
      {"a tree", Catalog({Directory("a"), File("a/b", 3), File("c", 0), Directory("e")}, {3}),
       true},
      {"names beyond ASCII", Catalog({File("d\xc3\xa9j\xc3\xa0/\xe6\x96\x87", 1)}, {1}), true},
      {"a temporary name below the top", Catalog({File("x/~extracting-0", 1)}, {1}), true},
      {"no entries", Catalog({}, {}), true},
      {"out of order", Catalog({File("b", 1), File("a", 1)}, {2}), false},
      {"a path twice", Catalog({File("a", 1), File("a", 1)}, {2}), false},
      {"a path through a file", Catalog({File("a", 1), File("a/b", 1)}, {2}), false},
      {"a directory through a file", Catalog({File("a", 1), Directory("a/b")}, {1}), false},
      {"a file further up", Catalog({File("a", 1), File("a-x", 1), File("a/b/c", 1)}, {3}), false},
      {"names that begin with a file's",
       Catalog({File("a", 1), File("a.txt", 1), Directory("ab")}, {2}), true},
      {"a parent component", Catalog({File("a/../b", 1)}, {1}), false},
      {"a leading separator", Catalog({File("/etc", 1)}, {1}), false},
      {"an empty component", Catalog({File("a//b", 1)}, {1}), false},
      {"a dot component", Catalog({File("./a", 1)}, {1}), false},
      {"a backslash", Catalog({File("a\\b", 1)}, {1}), false},
      {"a drive", Catalog({File("C:x", 1)}, {1}), false},
      {"a zero byte", Catalog({File(std::string_view("a\0b", 3), 1)}, {1}), false},
      {"a temporary file's name", Catalog({File("~extracting-0", 1)}, {1}), false},
      {"its short name", Catalog({Directory("~EXTRA~1"), File("~EXTRA~1/x", 1)}, {1}), false},
      {"frames short of the files", Catalog({File("a", 3)}, {2}), false},
      {"frames beyond the files", Catalog({File("a", 3)}, {2, 2}), false},
      {"an empty frame", Catalog({File("a", 3)}, {3, 0}), false},
      {"a frame over its limit",
       Catalog({File("a", kMaxFrameOriginalSize + 1ull)}, {kMaxFrameOriginalSize + 1u}), false},
      {"a directory with a size", Catalog({{EntryKind::kDirectory, 0755, "a", 1}}, {1}), false},
      {"a mode beyond 0777", Catalog({File("a", 1, 01755)}, {1}), false},
      {"a byte too many", Catalog({File("a", 1)}, {1}) + "x", false},
      {"a byte too few", Catalog({File("a", 1)}, {1}).substr(0, 26), false},
      // Four billion entries, in a payload that could hold none.
      {"a count beyond the payload", std::string("\xff\xff\xff\xff\0\0\0\0", 8), false},
  };
  for (const auto& c : cases) {
    const std::optional<ArchiveCatalog> catalog = ParseCatalog(c.payload);
    EXPECT_EQ(catalog.has_value(), c.valid) << c.what;
    if (catalog && c.valid) {
      EXPECT_EQ(EncodeCatalog(*catalog), c.payload) << c.what;
    }
  }
}

// A path holds names Windows holds as they are, and at most 256 of them, on
// every system: whatever a tree holds comes out the same everywhere.
TEST(ArchiveCatalogTest, PathsWindowsCannotHoldOrTooDeepAreRefused) {
  std::string deepest;
  for (size_t i = 0; i < kMostPathNames; ++i) deepest += (i == 0 ? "" : "/") + std::string("d");
  const struct {
    std::string path;
    bool valid;
  } cases[] = {
      {"a.b/c d.txt", true}, {deepest, true},     {deepest + "/d", false}, {"cfg./x", false},
      {".cfg /x", false},    {"NUL .txt", false}, {"x/com1.log", false},   {"lpt\xc2\xb2", false},
      {"COM10.txt", true},   {"x/a:b", false},    {"x/a|b", false},        {"x/tab\tname", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseCatalog(Catalog({File(c.path, 1)}, {1})).has_value(), c.valid)
        << c.path.substr(0, 40);
  }
}

// The walk over an installer holding one archive group, in a scratch
// directory.
class ArchiveWalkTest : public testing::Test {
 protected:
  ArchiveWalkTest() {
    fs::create_directory(work_);
    state_.work_directory = work_.string() + "/";
  }

  // An installer holding `group` (an archive group's bytes) and a value.
  static std::string Installer(const std::string& group) {
    std::string bytes = "#!stub program bytes, longer than 23#";
    writer::AppendStubGroup(bytes, "reader");
    bytes += group;
    writer::AppendValueGroup(bytes, "after", "archive");
    writer::AppendTail(bytes);
    return bytes;
  }

  std::string Walk(const std::string& bytes) {
    test::WriteFile(program_, bytes);
    test::MessageCapture messages;
    reader::WalkEnvelope(program_.string(), state_);
    return messages.Take();
  }

  // Every path below the work directory, one a line: files with their
  // size and digest, directories with a trailing "/".
  std::string Tree() const {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(work_)) {
      const std::string path = fs::relative(entry.path(), work_).generic_string();
      tree[entry.is_directory() ? path + "/" : path] =
          entry.is_directory() ? "" : test::ReadFile(entry.path());
    }
    return Listing(tree);
  }

  static std::string Listing(const std::map<std::string, std::string>& tree) {
    std::string listing;
    for (const auto& [path, bytes] : tree) {
      listing += path;
      if (!path.ends_with('/')) {
        listing += " " + std::to_string(bytes.size()) + " " +
                   test::Hex(format::Md5Hasher(bytes).Digest()).substr(0, 8);
      }
      listing += "\n";
    }
    return listing;
  }

  test::ScratchDirectory scratch_;
  fs::path work_ = scratch_.path() / "work";
  fs::path program_ = scratch_.path() / "program";
  reader::RunState state_;
};

writer::ArchiveItem Item(std::string path, uint64_t size, uint16_t mode = 0644) {
  return {EntryKind::kFile, mode, std::move(path), size, {}};
}
writer::ArchiveItem DirectoryItem(std::string path) {
  return {EntryKind::kDirectory, 0755, std::move(path), 0, {}};
}

TEST_F(ArchiveWalkTest, ATreeComesOutWholeAtEveryCompressionAndFrameSize) {
  // Small enough that frames of 3 bytes stay a few thousand: each frame is a
  // record, a digest and a hand-over, and they add up under Wine.
  const std::string big = test::RandomBytes(7000, 1) + std::string(5000, 'z');
  const std::vector<writer::ArchiveItem> items = {
      DirectoryItem(".config"),
      Item(".config/settings", 4),
      Item("bin/setup", 13, 0755),
      DirectoryItem("empty"),
      Item("empty.txt", 0),
      Item("lib/big.bin", big.size()),
      Item("lib/\xc3\xa9t\xc3\xa9.txt", 5),
  };
  const std::string stream = std::string("dark#!/bin/sh\nrun") + big + "\xc3\xa9t\xc3\xa9";
  const std::map<std::string, std::string> expected = {
      {".config/", ""},
      {".config/settings", "dark"},
      {"bin/", ""},
      {"bin/setup", "#!/bin/sh\nrun"},
      {"empty/", ""},
      {"empty.txt", ""},
      {"lib/", ""},
      {"lib/big.bin", big},
      {"lib/\xc3\xa9t\xc3\xa9.txt", "\xc3\xa9t\xc3\xa9"},
  };
  for (const writer::Compression compression :
       {writer::Compression::kNone, writer::Compression::kFast, writer::Compression::kBest}) {
    // One frame; frames that cut every file; a frame smaller than a file.
    for (const uint32_t frame_size : {kMaxFrameOriginalSize, 3u, 4000u}) {
      SCOPED_TRACE(testing::Message() << "compression " << static_cast<int>(compression)
                                      << ", frames of " << frame_size);
      fs::remove_all(work_);
      fs::create_directory(work_);
      state_.extracted_directories.clear();
      std::string group;
      writer::AppendArchiveGroup(group, "", items, stream, compression, frame_size);
      EXPECT_EQ(Walk(Installer(group)), "");
      EXPECT_TRUE(state_.envelope_valid);
      EXPECT_EQ(Tree(), Listing(expected));
      EXPECT_EQ(state_.variables["after"], "archive");
#ifndef _WIN32
      EXPECT_NE(fs::status(work_ / "bin/setup").permissions() & fs::perms::owner_exec,
                fs::perms::none);
      EXPECT_EQ(fs::status(work_ / "lib/big.bin").permissions() & fs::perms::owner_exec,
                fs::perms::none);
#endif
      // The dot-named directories the walk made go at the end too.
      EXPECT_EQ(state_.extracted_directories,
                std::vector<std::string>{state_.work_directory + ".config"});
    }
  }
}

// The payload of the record that ends at `end` in `bytes`; `end` moves to
// its start.
std::string RecordBefore(const std::string& bytes, size_t& end) {
  const size_t length_at = end - kRecordTrailerSize;
  const uint32_t length =
      LoadLittleEndian32(reinterpret_cast<const unsigned char*>(bytes.data() + length_at));
  end = length_at - length;
  return bytes.substr(end, length);
}

TEST_F(ArchiveWalkTest, IncompressibleRunsAreStoredAndTheRestCompressed) {
  const std::string random = test::RandomBytes(3 << 20, 9);
  const std::string text(2 << 20, 't');
  const std::vector<writer::ArchiveItem> items = {
      Item("a.bin", random.size()), Item("b.txt", text.size()), Item("c.bin", random.size())};
  std::string group;
  writer::AppendArchiveGroup(group, "", items, random + text + random, writer::Compression::kFast);
  size_t end = group.size();
  RecordBefore(group, end);  // the type
  RecordBefore(group, end);  // the key
  const std::string payload = RecordBefore(group, end);
  const std::optional<ArchiveCatalog> catalog = ParseCatalog(payload);
  ASSERT_TRUE(catalog);
  std::vector<std::pair<FrameMethod, uint32_t>> frames;
  for (const ArchiveFrame& frame : catalog->frames)
    frames.push_back({frame.method, frame.original_size});
  EXPECT_EQ(frames,
            (std::vector<std::pair<FrameMethod, uint32_t>>{{FrameMethod::kStored, 3u << 20},
                                                           {FrameMethod::kZstd, 2u << 20},
                                                           {FrameMethod::kStored, 3u << 20}}));
  EXPECT_EQ(Walk(Installer(group)), "");
  EXPECT_TRUE(test::ReadFile(work_ / "a.bin") == random);
  EXPECT_TRUE(test::ReadFile(work_ / "b.txt") == text);
  EXPECT_TRUE(test::ReadFile(work_ / "c.bin") == random);
}

// zstd frames made by hand, for frames the writer would never make.
std::string ZstdFrame(std::string_view bytes, int window_log = 0) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  if (window_log != 0) {
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, window_log);
    ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 0);
  }
  std::string out(ZSTD_compressBound(bytes.size()) + 64, '\0');
  ZSTD_outBuffer output = {out.data(), out.size(), 0};
  // Fed without an end first, so that zstd keeps the window it was given.
  ZSTD_inBuffer input = {bytes.data(), bytes.size(), 0};
  ZSTD_compressStream2(context, &output, &input, ZSTD_e_continue);
  ZSTD_inBuffer rest = {nullptr, 0, 0};
  while (ZSTD_compressStream2(context, &output, &rest, ZSTD_e_end) != 0) {
  }
  ZSTD_freeCCtx(context);
  out.resize(output.pos);
  return out;
}

// An archive group of the files `files` (path, declared size) whose frames'
// records hold `frames` (in stream order) and whose catalog declares
// `declared` frame sizes.
std::string HandMadeGroup(const std::vector<std::pair<std::string, uint64_t>>& files,
                          const std::vector<std::string>& frames,
                          const std::vector<uint32_t>& declared) {
  std::vector<ArchiveEntry> entries;
  for (const auto& [path, size] : files) entries.push_back(File(path, size));
  std::string group;
  for (const std::string& frame : frames) writer::AppendRecord(group, frame);
  writer::AppendGroup(group, kArchiveGroupType, "", {Catalog(entries, declared)});
  return group;
}

TEST_F(ArchiveWalkTest, ADamagedOrLyingFrameLeavesNothingOfItsFiles) {
  const std::string a(3000, 'a'), b(3000, 'b'), c(3000, 'c');
  const std::vector<std::pair<std::string, uint64_t>> files = {
      {"1.txt", 3000}, {"2.txt", 3000}, {"3.txt", 3000}};
  const std::vector<uint32_t> sizes = {3000, 3000, 3000};
  const std::string whole[] = {ZstdFrame(a), ZstdFrame(b), ZstdFrame(c)};
  // Read last frame first: a damaged last frame leaves nothing; a damaged
  // first frame leaves the files of the frames read before it.
  for (size_t damaged = 0; damaged < 3; ++damaged) {
    std::map<std::string, std::string> left;
    if (damaged < 1) left["2.txt"] = b;
    if (damaged < 2) left["3.txt"] = c;
    const struct {
      const char* what;
      std::string frame;
    } lies[] = {
        {"decodes to fewer bytes", ZstdFrame(std::string(2999, 'x'))},
        {"decodes to more bytes", ZstdFrame(std::string(3001, 'x'))},
        {"a bomb", ZstdFrame(std::string(64 << 20, 'x'))},
        {"two frames in one record",
         ZstdFrame(std::string(1500, 'x')) + ZstdFrame(std::string(1500, 'x'))},
        {"bytes after the frame", ZstdFrame(std::string(3000, 'x')) + "tail"},
        {"not zstd at all", std::string(100, 'q')},
        // A skippable frame, which a zstd library passes over, before the frame.
        {"a skippable frame first",
         std::string("\x50\x2a\x4d\x18\0\0\0\0", 8) + ZstdFrame(std::string(3000, 'x'))},
        {"a window too large", ZstdFrame(std::string(3000, 'x'), kMaxFrameWindowLog + 1)},
    };
    for (const auto& lie : lies) {
      SCOPED_TRACE(testing::Message() << "frame " << damaged << ": " << lie.what);
      std::vector<std::string> frames(std::begin(whole), std::end(whole));
      frames[damaged] = lie.frame;
      fs::remove_all(work_);
      fs::create_directory(work_);
      EXPECT_EQ(Walk(Installer(HandMadeGroup(files, frames, sizes))), test::kInvalidArchiveReport);
      EXPECT_FALSE(state_.envelope_valid);
      EXPECT_EQ(Tree(), Listing(left));
    }
    // A frame whose record does not match its digest is not decoded at all.
    std::vector<std::string> frames(std::begin(whole), std::end(whole));
    std::string installer = Installer(HandMadeGroup(files, frames, sizes));
    const size_t at = installer.find(whole[damaged]);
    ASSERT_NE(at, std::string::npos);
    installer[at + whole[damaged].size() / 2] ^= 0x40;
    fs::remove_all(work_);
    fs::create_directory(work_);
    EXPECT_EQ(Walk(installer), test::kInvalidArchiveReport);
    EXPECT_EQ(Tree(), Listing(left));
  }
}

// A tree whose catalog would be larger than a reader takes (16 MiB: here
// 4,500 files of 3,771-byte paths) is written as archive groups of runs of
// it, which fill their shared directories in turn.
TEST_F(ArchiveWalkTest, ATreeTooLargeForOneCatalogIsSplitAndComesOutWhole) {
  std::string directory;
  for (int i = 0; i < 15; ++i) directory += std::string(250, static_cast<char>('a' + i)) + "/";
  std::vector<writer::ArchiveItem> items;
  for (int i = 0; i < 4500; ++i)
    items.push_back(Item(directory + "f" + std::to_string(1000 + i), 0));
  std::string group;
  writer::AppendArchiveGroup(group, "", items, "", writer::Compression::kBest);
  EXPECT_EQ(Walk(Installer(group)), "");
  EXPECT_TRUE(state_.envelope_valid);
  EXPECT_EQ(state_.variables, (VariableTable{{"after", "archive"}}));
  // Longer than MAX_PATH: listed as the reader lists what it removes.
  std::string deep = state_.work_directory + directory;
  for (char& c : deep) c = c == '/' ? platform::kPathSeparator : c;
  std::vector<platform::DirectoryEntry> entries;
  ASSERT_TRUE(platform::ListDirectory(deep, entries));
  const auto files = static_cast<size_t>(std::count_if(
      entries.begin(), entries.end(), [](const auto& entry) { return !entry.is_directory; }));
  EXPECT_EQ(files, items.size());
}

#ifndef _WIN32
// More dot-named directories than a reader once remembered (100,000) are
// all removed at the end of the run, as every directory the walk made.
TEST_F(ArchiveWalkTest, EveryDotNamedDirectoryTheWalkMadeIsRemoved) {
  std::vector<writer::ArchiveItem> items;
  for (int i = 0; i < 100050; ++i)
    items.push_back(DirectoryItem(".d" + std::to_string(100000 + i)));
  std::string group;
  writer::AppendArchiveGroup(group, "", items, "", writer::Compression::kNone);
  EXPECT_EQ(Walk(Installer(group)), "");
  EXPECT_EQ(state_.extracted_directories.size(), items.size());
  EXPECT_TRUE(reader::RemoveDirectoryTree(work_.string(), state_.extracted_directories));
  EXPECT_FALSE(fs::exists(work_));
}

TEST(DirectoryMakerTest, ALinkPlantedAtADirectorysNameIsNotFollowed) {
  test::ScratchDirectory scratch;
  const fs::path top = scratch.path() / "top", outside = scratch.path() / "outside";
  fs::create_directories(top / "real");
  fs::create_directory(outside);
  fs::create_directory_symlink(outside, top / "link");
  test::WriteFile(top / "file", "x");
  extraction::DirectoryMaker directories(top.string() + "/");
  std::string failed;
  int error = 0;
  EXPECT_TRUE(directories.Make("real/.new/deeper", true, failed, error));
  EXPECT_TRUE(directories.Make("real/.new/deeper/file", false, failed, error));
  EXPECT_TRUE(directories.Make("real/.new/file", false, failed, error));
  EXPECT_TRUE(fs::is_directory(top / "real/.new/deeper"));
  EXPECT_EQ(directories.made_dot_directories(),
            (std::vector<std::string>{top.string() + "/real/.new"}));
  for (const char* path : {"link/inner", "file/inner"}) {
    EXPECT_FALSE(directories.Make(path, true, failed, error)) << path;
    EXPECT_EQ(failed, top.string() + "/" + std::string(path).substr(0, 4)) << path;
    EXPECT_EQ(error, EEXIST) << path;
  }
  EXPECT_TRUE(test::Entries(outside).empty());
}
#endif

}  // namespace
