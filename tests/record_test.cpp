// Reading records backwards through a BackwardReader, on hand-made files.
#include "record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "backward_reader.h"
#include "envelope_writer.h"
#include "little_endian.h"
#include "md5.h"
#include "platform_files.h"
#include "tail.h"
#include "test_support.h"

using namespace format;

namespace {

class RecordTest : public testing::Test {
 protected:
  // Writes `bytes` to a file and returns a reader of it from its end.
  BackwardReader& Reader(const std::string& bytes) {
    reader_.reset();
    file_ = platform::File();  // Windows cannot replace a file that is open
    test::WriteFile(path_, bytes);
    file_ = platform::File::OpenForReading(path_.string());
    EXPECT_TRUE(file_.IsOpen());
    EXPECT_TRUE(file_.SeekToEnd());
    reader_ = std::make_unique<BackwardReader>(file_);
    return *reader_;
  }

  // A record whose length field says `length`, whatever its payload.
  static std::string RecordClaiming(uint32_t length, const std::string& payload) {
    std::string record = payload;
    AppendLittleEndian32(record, length);
    return record + Md5Hasher(payload).Digest();
  }

  test::ScratchDirectory scratch_;
  std::filesystem::path path_ = scratch_.path() / "archive";
  platform::File file_;
  std::unique_ptr<BackwardReader> reader_;
};

TEST_F(RecordTest, ReadsRecordsBackwardsUntilTheStartOfTheFile) {
  std::string bytes;
  writer::AppendRecord(bytes, "first");
  writer::AppendRecord(bytes, "");
  writer::AppendRecord(bytes, std::string("with\0zero", 9));
  BackwardReader& reader = Reader(bytes);

  std::string payload = "stale";
  test::MessageCapture messages;
  ASSERT_EQ(ReadRecordBackward(reader, payload), RecordStatus::kOk);
  EXPECT_EQ(payload, std::string("with\0zero", 9));
  ASSERT_EQ(ReadRecordBackward(reader, payload), RecordStatus::kOk);
  EXPECT_EQ(payload, "");
  EXPECT_EQ(reader.Position(), 25);  // the end of the first record
  ASSERT_EQ(ReadRecordBackward(reader, payload), RecordStatus::kOk);
  EXPECT_EQ(payload, "first");
  EXPECT_EQ(reader.Position(), 0);

  // Nothing before the first record: a silent failure.
  EXPECT_EQ(ReadRecordBackward(reader, payload), RecordStatus::kOutsideFile);
  EXPECT_EQ(messages.Take(), "");
}

TEST_F(RecordTest, AChangedPayloadOrDigestByteIsAMismatchLeftToTheCaller) {
  std::string intact;
  writer::AppendRecord(intact, "payload that will be damaged");
  for (const size_t damaged : {size_t{3}, intact.size() - 1}) {
    std::string bytes = intact;
    bytes[damaged] ^= 0x01;
    BackwardReader& reader = Reader(bytes);
    std::string payload;
    test::MessageCapture messages;
    EXPECT_EQ(ReadRecordBackward(reader, payload), RecordStatus::kDigestMismatch) << damaged;
    EXPECT_EQ(reader.Position(), 0) << "the next record can be read";
    EXPECT_EQ(messages.Take(), "") << "the record layer shows nothing";
  }
}

TEST_F(RecordTest, LengthsReachingPastTheStartFailSilently) {
  const std::string prefix(100, 'p');
  const std::string payload = "data";
  // The record ends at 100 + 4 + 20: a length of up to 104 fits.
  for (const uint32_t length : {105u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFECu}) {
    BackwardReader& reader = Reader(prefix + RecordClaiming(length, payload));
    std::string read = "untouched";
    test::MessageCapture messages;
    EXPECT_EQ(ReadRecordBackward(reader, read), RecordStatus::kOutsideFile) << length;
    EXPECT_EQ(read, "untouched") << "nothing is read or reserved for length " << length;
    EXPECT_EQ(messages.Take(), "");
  }
}

TEST_F(RecordTest, ALengthReachingExactlyToTheStartIsRead) {
  std::string bytes = "the whole file up to the length field";
  writer::CloseRecord(bytes, 0);
  BackwardReader& reader = Reader(bytes);
  std::string payload;
  ASSERT_EQ(ReadRecordBackward(reader, payload), RecordStatus::kOk);
  EXPECT_EQ(payload, "the whole file up to the length field");
  EXPECT_EQ(reader.Position(), 0);
}

TEST_F(RecordTest, FilesShorterThanARecordTrailerFailSilently) {
  for (size_t size : {0, 1, 16, 19}) {
    BackwardReader& reader = Reader(std::string(size, '\0'));
    std::string payload;
    test::MessageCapture messages;
    EXPECT_EQ(ReadRecordBackward(reader, payload), RecordStatus::kOutsideFile) << size;
    EXPECT_EQ(messages.Take(), "");
  }
}

TEST_F(RecordTest, LargeRecordsAreVerifiedAndReadInChunks) {
  for (const size_t size : {size_t{0}, kPayloadChunkSize - 1, kPayloadChunkSize,
                            kPayloadChunkSize + 1, 2 * kPayloadChunkSize + 1}) {
    std::string payload(size, '\0');
    for (size_t i = 0; i < size; ++i) payload[i] = static_cast<char>(i * 7 + i / 4093);
    std::string bytes = "prefix";
    writer::AppendRecord(bytes, payload);
    BackwardReader& reader = Reader(bytes);

    RecordLocation record;
    ASSERT_EQ(VerifyRecordBackward(reader, record), RecordStatus::kOk) << size;
    EXPECT_EQ(record.start, 6);
    EXPECT_EQ(reader.Position(), 6);

    std::string read;
    size_t pieces = 0;
    ASSERT_TRUE(ReadPayloadInChunks(reader, record, [&](std::string_view chunk) {
      EXPECT_LE(chunk.size(), kPayloadChunkSize);
      read += chunk;
      ++pieces;
      return true;
    }));
    EXPECT_TRUE(read == payload) << size;
    EXPECT_EQ(pieces, (size + kPayloadChunkSize - 1) / kPayloadChunkSize);
    EXPECT_EQ(reader.Position(), 6);
  }
}

TEST_F(RecordTest, AMismatchInTheFirstOrLastChunkIsFound) {
  std::string intact = "prefix";
  writer::AppendRecord(intact, std::string(kPayloadChunkSize + 1, 'c'));
  for (const size_t damaged : {size_t{6}, 6 + kPayloadChunkSize}) {
    std::string bytes = intact;
    bytes[damaged] = 'd';
    BackwardReader& reader = Reader(bytes);
    RecordLocation record;
    test::MessageCapture messages;
    EXPECT_EQ(VerifyRecordBackward(reader, record), RecordStatus::kDigestMismatch) << damaged;
    EXPECT_EQ(reader.Position(), 6);
    EXPECT_EQ(messages.Take(), "");
  }
}

TEST_F(RecordTest, ReadingInChunksStopsWhenTheConsumerDoes) {
  std::string bytes;
  writer::AppendRecord(bytes, std::string(3 * kPayloadChunkSize, 'r'));
  BackwardReader& reader = Reader(bytes);
  RecordLocation record;
  ASSERT_TRUE(LocateRecordBackward(reader, record));
  int calls = 0;
  EXPECT_FALSE(ReadPayloadInChunks(reader, record, [&](std::string_view) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2);
}

// Positions past 4 GiB, and a record of the largest length, in a sparse file
// whose hole is never read.
TEST_F(RecordTest, PositionsAndLengthsBeyondThirtyTwoBits) {
  const uint64_t largest = 0xFFFFFFFFu;
  // After the hole: a length field claiming the hole as its payload (from
  // offset 100 up), then a small record, then the tail.
  std::string after;
  AppendLittleEndian32(after, static_cast<uint32_t>(largest));
  after += std::string(16, 'D');
  const int64_t big_end = static_cast<int64_t>(largest + 100 + after.size());
  writer::AppendRecord(after, "above four GiB");
  writer::AppendTail(after);
  if (!test::WriteFileWithHole(path_, "", largest + 100, after)) {
    GTEST_SKIP() << "no large sparse files here";
  }
  platform::File file = platform::File::OpenForReading(path_.string());
  ASSERT_TRUE(FindEnvelopeTail(file));
  EXPECT_EQ(file.Position(), static_cast<int64_t>(largest + 100 + after.size()));
  BackwardReader reader(file);

  std::string payload;
  ASSERT_EQ(ReadRecordBackward(reader, payload), RecordStatus::kOk);
  EXPECT_EQ(payload, TailMarker());
  ASSERT_EQ(ReadRecordBackward(reader, payload), RecordStatus::kOk);
  EXPECT_EQ(payload, "above four GiB");
  EXPECT_EQ(reader.Position(), big_end);

  RecordLocation record;
  ASSERT_TRUE(LocateRecordBackward(reader, record));
  EXPECT_EQ(record.length, largest);
  EXPECT_EQ(record.start, 100);
  EXPECT_EQ(reader.Position(), 100);
  EXPECT_EQ(record.digest, std::string(16, 'D'));
}

}  // namespace
