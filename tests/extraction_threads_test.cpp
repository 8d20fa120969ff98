// Extraction's helper threads: decoded chunks reach their files in the order
// they were handed over, whichever thread finishes first; a failure among
// chunks in flight fails its own file alone, and everything still ends; a
// write that fails part way, as on a full disk, leaves no file behind.
#include "decoding_threads.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "chunk_compression.h"
#include "compressed_contents.h"
#include "pending_file.h"
#include "test_support.h"
#include "writing_thread.h"

using namespace extraction;

namespace {

constexpr uint32_t kChunk = format::kMaxChunkOriginalSize;
// Large enough to be decoded on a helper thread (more than 64 KiB).
constexpr uint32_t kThreadedChunk = 256 * 1024;

// A chunk as DecodingThreads takes it: its stored bytes, and the size they
// decode to.
struct Chunk {
  std::string stored;
  uint32_t original_size;
};

// `bytes` as a writer packs them into one chunk.
Chunk Packed(std::string_view bytes) {
  std::string chunk;
  writer::ChunkCompressor(writer::Compression::kBest).AppendChunk(bytes, chunk);
  return {chunk.substr(format::kChunkHeaderSize), static_cast<uint32_t>(bytes.size())};
}

// A chunk of `original_size` bytes whose stored bytes fail to decode at their
// first block (a stored block whose length and its complement disagree).
Chunk Damaged(uint32_t original_size) { return {std::string(1000, 'x'), original_size}; }

// Starts `file` under a temporary name in the top of `directories`, to
// become `name` there.
void Create(PendingFile& file, DirectoryMaker& directories, const std::string& name) {
  file.Create(directories, name, directories.FullPath(name));
  ASSERT_NE(file.output(), nullptr) << name;
}

// Hands `chunk` over to `threads`, to be decoded into `file` from `offset` on.
void Submit(DecodingThreads& threads, PendingFile& file, const Chunk& chunk, uint64_t offset) {
  chunk.stored.copy(threads.NextBuffer(), chunk.stored.size());
  threads.Submit(file.outcome(), file.output(), static_cast<uint32_t>(chunk.stored.size()),
                 chunk.original_size, offset);
}

// The late chunk, a quarter of the early one's size and stored as it is, is
// most likely written before the early one is decoded; its result still
// comes second, both when a slot is freed and when its file is settled.
TEST(ExtractionThreadsTest, ResultsArriveInTheOrderTheChunksWereHandedOver) {
  test::ScratchDirectory work;
  DirectoryMaker directories(work.WithSeparator());
  const std::string bytes[] = {test::CompressibleText(kChunk), test::RandomBytes(kThreadedChunk, 1),
                               test::RandomBytes(kThreadedChunk, 2)};
  const char* const names[] = {"early", "late", "last"};
  DecodingThreads threads(2);
  PendingFile files[3];
  for (int i = 0; i < 3; ++i) {
    Create(files[i], directories, names[i]);
    files[i].DecodeThrough(threads);
  }
  Submit(threads, files[0], Packed(bytes[0]), 0);
  Submit(threads, files[1], Packed(bytes[1]), 0);
  EXPECT_EQ(threads.UnwrittenBytes(), kChunk + kThreadedChunk);
  // Both slots are busy: the room for the last chunk frees the oldest.
  Submit(threads, files[2], Packed(bytes[2]), 0);
  EXPECT_EQ(files[0].chunks_in_flight(), 0);
  EXPECT_EQ(files[1].chunks_in_flight(), 1);
  // Settling the last file delivers the late one's result before its own.
  threads.Settle(files[2].outcome());
  EXPECT_EQ(files[1].chunks_in_flight(), 0);
  EXPECT_EQ(threads.UnwrittenBytes(), 0u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(files[i].MoveToName()) << names[i];
    EXPECT_TRUE(test::ReadFile(work.path() / names[i]) == bytes[i]) << names[i];
  }
}

// A file's four chunks handed over among another file's two, on three
// slots, with a failure at different places: the failing file reports the
// failure of the chunk handed over first, even where a later one fails
// sooner, and leaves nothing; the other file arrives whole; nothing hangs.
TEST(ExtractionThreadsTest, AFailureAmongChunksInFlightFailsItsFileAloneAndLeavesNothing) {
  struct Case {
    const char* what;
    int damaged_chunk;  // -1: none
    bool disk_full;     // no file grows beyond the middle of the failing file's third chunk
    bool damaged;
    int error;
  };
  const std::vector<Case> cases = {
      {"the first chunk damaged", 0, false, true, 0},
      {"a middle chunk damaged", 2, false, true, 0},
      {"the last chunk damaged", 3, false, true, 0},
#ifndef _WIN32
      {"the disk full in the third chunk, the fourth damaged", 3, true, false, EFBIG},
      {"the second chunk damaged, the disk full in the third", 1, true, true, 0},
#endif
  };
  const std::string failing_bytes = test::CompressibleText(4 * kThreadedChunk);
  const std::string whole_bytes = test::RandomBytes(2 * kThreadedChunk, 3);
  for (const Case& c : cases) {
    test::ScratchDirectory work;
    DirectoryMaker directories(work.WithSeparator());
#ifndef _WIN32
    std::optional<test::FileSizeLimit> limit;
    if (c.disk_full) {
      limit.emplace(2 * kThreadedChunk + kThreadedChunk / 2);
      ASSERT_TRUE(limit->held());
    }
#endif
    DecodingThreads threads(3);
    PendingFile failing;
    PendingFile whole;
    Create(failing, directories, "failing");
    Create(whole, directories, "whole");
    failing.DecodeThrough(threads);
    whole.DecodeThrough(threads);
    for (int i = 0; i < 4; ++i) {
      const size_t offset = static_cast<size_t>(i) * kThreadedChunk;
      Submit(threads, failing,
             i == c.damaged_chunk
                 ? Damaged(kThreadedChunk)
                 : Packed(std::string_view(failing_bytes).substr(offset, kThreadedChunk)),
             offset);
      if (i < 2) {
        Submit(threads, whole, Packed(std::string_view(whole_bytes).substr(offset, kThreadedChunk)),
               offset);
      }
    }
    EXPECT_FALSE(failing.MoveToName()) << c.what;
    EXPECT_EQ(failing.damaged(), c.damaged) << c.what;
    EXPECT_EQ(failing.error(), c.error) << c.what;
    EXPECT_TRUE(whole.MoveToName()) << c.what;
    threads.SettleAll();
    EXPECT_EQ(threads.UnwrittenBytes(), 0u) << c.what;
    EXPECT_EQ(test::EntryNames(work.path()), std::set<std::string>{"whole"}) << c.what;
    EXPECT_TRUE(test::ReadFile(work.path() / "whole") == whole_bytes) << c.what;
  }
}

// Write returns once the chunk is copied: the caller's buffer takes the next
// chunk at once, while the writing thread still writes the one before.
TEST(ExtractionThreadsTest, TheWritingThreadWritesACopyOfEachChunk) {
  test::ScratchDirectory work;
  DirectoryMaker directories(work.WithSeparator());
  const std::string expected = test::RandomBytes(3 * kChunk, 4);
  WritingThread writing_thread;
  PendingFile file;
  Create(file, directories, "file");
  file.WriteThrough(writing_thread);
  std::string buffer;
  for (size_t offset = 0; offset < expected.size(); offset += kChunk) {
    buffer.assign(expected, offset, kChunk);
    file.Write(buffer);
  }
  buffer.assign(kChunk, '\0');
  EXPECT_TRUE(file.MoveToName());
  EXPECT_TRUE(test::ReadFile(work.path() / "file") == expected);
}

#ifndef _WIN32
// A disk that fills up in the middle of a file's second chunk (the file size
// limit standing for it), whether the chunk is decoded on a helper thread or
// written on the writing thread: the file fails with the system's error, not
// as damaged, and neither it nor its temporary file is left.
TEST(ExtractionThreadsTest, AFullDiskInTheMiddleOfAChunkLeavesNoFile) {
  const std::string bytes = test::CompressibleText(2 * kChunk);
  const std::string_view first = std::string_view(bytes).substr(0, kChunk);
  const std::string_view second = std::string_view(bytes).substr(kChunk);
  DecodingThreads threads(2);
  WritingThread writing_thread;
  const struct {
    const char* how;
    std::function<void(PendingFile&)> write;
  } cases[] = {
      {"decoded on a helper thread",
       [&](PendingFile& file) {
         file.DecodeThrough(threads);
         Submit(threads, file, Packed(first), 0);
         Submit(threads, file, Packed(second), kChunk);
       }},
      {"written on the writing thread",
       [&](PendingFile& file) {
         file.WriteThrough(writing_thread);
         file.Write(first);
         file.Write(second);
       }},
  };
  for (const auto& c : cases) {
    test::ScratchDirectory work;
    DirectoryMaker directories(work.WithSeparator());
    test::FileSizeLimit limit(kChunk + kChunk / 2);
    ASSERT_TRUE(limit.held());
    PendingFile file;
    Create(file, directories, "file");
    c.write(file);
    EXPECT_FALSE(file.MoveToName()) << c.how;
    EXPECT_EQ(file.error(), EFBIG) << c.how;
    EXPECT_FALSE(file.damaged()) << c.how;
    EXPECT_TRUE(test::EntryNames(work.path()).empty()) << c.how;
  }
}
#endif

}  // namespace
