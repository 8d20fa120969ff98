// Finding the envelope's tail and reading records backwards, on hand-made
// files.
#include "record.h"
#include "tail.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>

#include "envelope_writer.h"
#include "little_endian.h"
#include "md5.h"
#include "pe_images.h"
#include "platform.h"
#include "test_support.h"

using namespace format;

namespace {

class EnvelopeReaderTest : public testing::Test {
 protected:
  // Writes `bytes` to a file and opens it, positioned at its end.
  platform::File Open(const std::string& bytes) {
    test::WriteFile(path_, bytes);
    platform::File file = platform::File::OpenForReading(path_.string());
    EXPECT_TRUE(file.IsOpen());
    EXPECT_TRUE(file.SeekToEnd());
    return file;
  }

  // A record whose length field says `length`, whatever its payload.
  static std::string RecordClaiming(uint32_t length, const std::string& payload) {
    std::string record = payload;
    AppendLittleEndian32(record, length);
    return record + Md5Hasher(payload).Digest();
  }

  test::ScratchDirectory scratch_;
  std::filesystem::path path_ = scratch_.path() / "archive";
};

TEST_F(EnvelopeReaderTest, ReadsRecordsBackwardsUntilTheStartOfTheFile) {
  std::string bytes;
  writer::AppendRecord(bytes, "first");
  writer::AppendRecord(bytes, "");
  writer::AppendRecord(bytes, std::string("with\0zero", 9));
  platform::File file = Open(bytes);

  std::string payload = "stale";
  test::MessageCapture messages;
  ASSERT_EQ(ReadRecordBackward(file, payload), RecordStatus::kOk);
  EXPECT_EQ(payload, std::string("with\0zero", 9));
  ASSERT_EQ(ReadRecordBackward(file, payload), RecordStatus::kOk);
  EXPECT_EQ(payload, "");
  EXPECT_EQ(file.Position(), 25);  // the end of the first record
  ASSERT_EQ(ReadRecordBackward(file, payload), RecordStatus::kOk);
  EXPECT_EQ(payload, "first");
  EXPECT_EQ(file.Position(), 0);

  // Nothing before the first record: a silent failure.
  EXPECT_EQ(ReadRecordBackward(file, payload), RecordStatus::kOutsideFile);
  EXPECT_EQ(messages.Take(), "");
}

TEST_F(EnvelopeReaderTest, AChangedPayloadOrDigestByteIsAMismatchLeftToTheCaller) {
  std::string intact;
  writer::AppendRecord(intact, "payload that will be damaged");
  for (const size_t damaged : {size_t{3}, intact.size() - 1}) {
    std::string bytes = intact;
    bytes[damaged] ^= 0x01;
    platform::File file = Open(bytes);
    std::string payload;
    test::MessageCapture messages;
    EXPECT_EQ(ReadRecordBackward(file, payload), RecordStatus::kDigestMismatch) << damaged;
    EXPECT_EQ(file.Position(), 0) << "the next record can be read";
    EXPECT_EQ(messages.Take(), "") << "the record layer shows nothing";
  }
}

TEST_F(EnvelopeReaderTest, LengthsReachingPastTheStartFailSilently) {
  const std::string prefix(100, 'p');
  const std::string payload = "data";
  // The record ends at 100 + 4 + 20: a length of up to 104 fits.
  for (const uint32_t length : {105u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFECu}) {
    platform::File file = Open(prefix + RecordClaiming(length, payload));
    std::string read = "untouched";
    test::MessageCapture messages;
    EXPECT_EQ(ReadRecordBackward(file, read), RecordStatus::kOutsideFile) << length;
    EXPECT_EQ(read, "untouched") << "nothing is read or reserved for length " << length;
    EXPECT_EQ(messages.Take(), "");
  }
}

TEST_F(EnvelopeReaderTest, ALengthReachingExactlyToTheStartIsRead) {
  std::string bytes = "the whole file up to the length field";
  writer::CloseRecord(bytes, 0);
  platform::File file = Open(bytes);
  std::string payload;
  ASSERT_EQ(ReadRecordBackward(file, payload), RecordStatus::kOk);
  EXPECT_EQ(payload, "the whole file up to the length field");
  EXPECT_EQ(file.Position(), 0);
}

TEST_F(EnvelopeReaderTest, FilesShorterThanARecordTrailerFailSilently) {
  for (size_t size : {0, 1, 16, 19}) {
    platform::File file = Open(std::string(size, '\0'));
    std::string payload;
    test::MessageCapture messages;
    EXPECT_EQ(ReadRecordBackward(file, payload), RecordStatus::kOutsideFile) << size;
    EXPECT_EQ(messages.Take(), "");
  }
}

TEST_F(EnvelopeReaderTest, LargeRecordsAreVerifiedAndReadInChunks) {
  for (const size_t size : {size_t{0}, kPayloadChunkSize - 1, kPayloadChunkSize,
                            kPayloadChunkSize + 1, 2 * kPayloadChunkSize + 1}) {
    std::string payload(size, '\0');
    for (size_t i = 0; i < size; ++i) payload[i] = static_cast<char>(i * 7 + i / 4093);
    std::string bytes = "prefix";
    writer::AppendRecord(bytes, payload);
    platform::File file = Open(bytes);

    RecordLocation record;
    ASSERT_EQ(VerifyRecordBackward(file, record), RecordStatus::kOk) << size;
    EXPECT_EQ(record.start, 6);
    EXPECT_EQ(file.Position(), 6);

    std::string read;
    size_t pieces = 0;
    ASSERT_TRUE(ReadPayloadInChunks(file, record, [&](std::string_view chunk) {
      EXPECT_LE(chunk.size(), kPayloadChunkSize);
      read += chunk;
      ++pieces;
      return true;
    }));
    EXPECT_TRUE(read == payload) << size;
    EXPECT_EQ(pieces, (size + kPayloadChunkSize - 1) / kPayloadChunkSize);
    EXPECT_EQ(file.Position(), 6);
  }
}

TEST_F(EnvelopeReaderTest, AMismatchInTheFirstOrLastChunkIsFound) {
  std::string intact = "prefix";
  writer::AppendRecord(intact, std::string(kPayloadChunkSize + 1, 'c'));
  for (const size_t damaged : {size_t{6}, 6 + kPayloadChunkSize}) {
    std::string bytes = intact;
    bytes[damaged] = 'd';
    platform::File file = Open(bytes);
    RecordLocation record;
    test::MessageCapture messages;
    EXPECT_EQ(VerifyRecordBackward(file, record), RecordStatus::kDigestMismatch) << damaged;
    EXPECT_EQ(file.Position(), 6);
    EXPECT_EQ(messages.Take(), "");
  }
}

TEST_F(EnvelopeReaderTest, ReadingInChunksStopsWhenTheConsumerDoes) {
  std::string bytes;
  writer::AppendRecord(bytes, std::string(3 * kPayloadChunkSize, 'r'));
  platform::File file = Open(bytes);
  RecordLocation record;
  ASSERT_TRUE(LocateRecordBackward(file, record));
  int calls = 0;
  EXPECT_FALSE(ReadPayloadInChunks(file, record, [&](std::string_view) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2);
}

// Positions past 4 GiB, and a record of the largest length, in a sparse file
// whose hole is never read.
TEST_F(EnvelopeReaderTest, PositionsAndLengthsBeyondThirtyTwoBits) {
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

  std::string payload;
  ASSERT_EQ(ReadRecordBackward(file, payload), RecordStatus::kOk);
  EXPECT_EQ(payload, TailMarker());
  ASSERT_EQ(ReadRecordBackward(file, payload), RecordStatus::kOk);
  EXPECT_EQ(payload, "above four GiB");
  EXPECT_EQ(file.Position(), big_end);

  RecordLocation record;
  ASSERT_TRUE(LocateRecordBackward(file, record));
  EXPECT_EQ(record.length, largest);
  EXPECT_EQ(record.start, 100);
  EXPECT_EQ(file.Position(), 100);
  EXPECT_EQ(record.digest, std::string(16, 'D'));
}

// The tail rule, one candidate at a time: offsets from size - 23 down to 23.
int64_t ReferenceTailEnd(const std::string& bytes) {
  const std::string& marker = TailMarker();
  for (int64_t p = static_cast<int64_t>(bytes.size()) - 23; p > 22; --p) {
    if (bytes.compare(static_cast<size_t>(p), marker.size(), marker) == 0) return p + 42;
  }
  return -1;
}

int64_t FoundTailEnd(platform::File& file) { return FindEnvelopeTail(file) ? file.Position() : -1; }

TEST_F(EnvelopeReaderTest, TheTailIsFoundPastTrailingBytes) {
  std::string bytes(50, 's');
  writer::AppendTail(bytes);
  const int64_t tail_end = static_cast<int64_t>(bytes.size());
  bytes += std::string(5000, 'c');  // a signature, say
  platform::File file = Open(bytes);
  EXPECT_EQ(FoundTailEnd(file), tail_end);

  std::string payload;
  ASSERT_EQ(ReadRecordBackward(file, payload), RecordStatus::kOk);
  EXPECT_EQ(payload, TailMarker());
}

TEST_F(EnvelopeReaderTest, TheMarkerMustStartAtOffset23OrAbove) {
  const std::string& marker = TailMarker();
  const std::string after(20, 't');
  {
    platform::File file = Open(std::string(23, 'x') + marker + after);
    EXPECT_EQ(FoundTailEnd(file), 23 + 42);
  }
  {
    platform::File file = Open(std::string(22, 'x') + marker + after);
    EXPECT_EQ(FoundTailEnd(file), -1);
  }
  {
    // The last byte of the file is never part of a candidate.
    platform::File file = Open(std::string(40, 'x') + marker);
    EXPECT_EQ(FoundTailEnd(file), -1);
  }
  {
    platform::File file = Open(std::string(40, 'x') + marker + "!");
    EXPECT_EQ(FoundTailEnd(file), 40 + 42);
  }
}

TEST_F(EnvelopeReaderTest, NoMarkerOrATinyFileIsNotFound) {
  for (const std::string& bytes :
       {std::string(), std::string(45, 'x'), std::string(300000, 'x'),
        std::string(100, 'x') + TailMarker().substr(0, 21) + std::string(100, 'x')}) {
    platform::File file = Open(bytes);
    EXPECT_EQ(FoundTailEnd(file), -1) << bytes.size();
  }
}

TEST_F(EnvelopeReaderTest, TheHighestMarkerWins) {
  std::string bytes(30, 'x');
  bytes += TailMarker() + std::string(1000, 'y') + TailMarker() + std::string(30, 'z');
  platform::File file = Open(bytes);
  EXPECT_EQ(FoundTailEnd(file), ReferenceTailEnd(bytes));
  EXPECT_EQ(FoundTailEnd(file), static_cast<int64_t>(bytes.size()) - 30 + 20);
}

// Markers on and around the edges of the blocks the search reads, checked
// against the one-candidate-at-a-time rule.
TEST_F(EnvelopeReaderTest, MarkersAcrossScanBlockEdgesMatchTheByteByByteRule) {
  const int64_t block = static_cast<int64_t>(kTailScanBlockSize);
  const int64_t marker_size = static_cast<int64_t>(TailMarker().size());
  std::mt19937 random(7);
  std::string bytes(3 * kTailScanBlockSize + 1234, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random() % 251);
  const int64_t size = static_cast<int64_t>(bytes.size());

  // Where blocks start, whether they overlap by a marker less one byte, by a
  // whole marker or not at all; and both ends of the candidate range.
  std::set<int64_t> edges = {size - 1, kLowestMarkerOffset};
  for (const int64_t overlap : {int64_t{0}, marker_size - 1, marker_size}) {
    for (int64_t end = size - 1; end - block > 0; end -= block - overlap) edges.insert(end - block);
  }

  int checked = 0;
  for (const int64_t edge : edges) {
    for (int64_t p = edge - marker_size - 1; p <= edge + 1; ++p) {
      if (p < 0 || p + marker_size > size) continue;
      std::string with_marker = bytes;
      with_marker.replace(static_cast<size_t>(p), TailMarker().size(), TailMarker());
      platform::File file = Open(with_marker);
      ASSERT_EQ(FoundTailEnd(file), ReferenceTailEnd(with_marker)) << "marker at " << p;
      ++checked;
    }
  }
  EXPECT_GT(checked, 100);
}

// Texts made of the marker's own letters, with whole markers and pieces of
// one scattered in them, keep the search's skips short and its partial
// matches frequent; the result must still be the byte-by-byte rule's.
TEST_F(EnvelopeReaderTest, RandomTextsOfMarkerLettersMatchTheByteByByteRule) {
  const std::string& marker = TailMarker();
  std::mt19937 random(11);
  auto below = [&](size_t bound) { return static_cast<size_t>(random() % bound); };
  int found = 0;
  for (int trial = 0; trial < 300; ++trial) {
    std::string bytes(below(2 * kTailScanBlockSize + 200), '\0');
    for (char& byte : bytes) byte = below(8) == 0 ? 'x' : marker[below(marker.size())];
    for (size_t pieces = below(6); pieces > 0 && bytes.size() > marker.size(); --pieces) {
      const size_t from = below(marker.size()), length = 1 + below(marker.size() - from);
      const size_t piece_length = below(3) == 0 ? marker.size() : length;
      const size_t piece_from = piece_length == marker.size() ? 0 : from;
      const size_t at = below(bytes.size() - piece_length + 1);
      bytes.replace(at, piece_length, marker, piece_from, piece_length);
    }
    platform::File file = Open(bytes);
    const int64_t expected = ReferenceTailEnd(bytes);
    ASSERT_EQ(FoundTailEnd(file), expected) << "trial " << trial << ", size " << bytes.size();
    found += expected >= 0;
  }
  EXPECT_GT(found, 30);
  EXPECT_LT(found, 280);
}

// In a signed Windows program the envelope is looked for only before the
// certificate table, whatever the table or the bytes after it hold; any other
// file is searched whole, as before.
TEST_F(EnvelopeReaderTest, InASignedProgramOnlyThePartBeforeTheCertificateTableIsSearched) {
  const std::string hidden = test::HiddenEnvelope("the attacker's setup");
  for (const uint16_t magic : {test::kPe32Magic, test::kPe32PlusMagic}) {
    std::string installer = test::MinimalPeImage(magic);
    writer::AppendTail(installer);
    const int64_t signed_end = static_cast<int64_t>(installer.size());
    std::string signed_installer = installer;
    test::AppendCertificateTable(signed_installer);
    const auto hidden_end = [&](const std::string& bytes) {
      return static_cast<int64_t>(bytes.rfind(TailMarker()) + 42);
    };

    struct Case {
      const char* what;
      std::string bytes;
      int64_t expected;  // the tail record's end; -1: none found
    };
    std::vector<Case> cases;
    cases.push_back({"signed", signed_installer, signed_end});
    {
      std::string bytes = signed_installer;
      test::GrowCertificateTable(bytes, hidden);
      cases.push_back({"an envelope hidden in the grown table", bytes, signed_end});
    }
    cases.push_back({"an envelope after the table", signed_installer + hidden, signed_end});
    {
      std::string bytes = test::MinimalPeImage(magic);
      test::AppendCertificateTable(bytes);
      test::GrowCertificateTable(bytes, hidden);
      cases.push_back({"no envelope before the table", bytes, -1});
    }
    for (const size_t gap : {size_t{10}, size_t{20}}) {
      // The tail record reaches into the table unless all its 42 bytes fit.
      std::string bytes = test::MinimalPeImage(magic) + std::string(6, 'x') + TailMarker();
      bytes += std::string(gap, 't');
      const size_t table = test::AppendCertificateTable(bytes);
      cases.push_back(
          {"a tail record up to the table", bytes, gap == 20 ? static_cast<int64_t>(table) : -1});
    }
    cases.push_back({"unsigned, an envelope after it", installer + hidden,
                     static_cast<int64_t>(installer.size() + hidden.size())});
    {
      std::string bytes = installer + hidden;
      test::SetCertificateDirectory(bytes, static_cast<uint32_t>(signed_end), 0);
      cases.push_back({"an empty certificate entry", bytes, hidden_end(bytes)});
      test::SetCertificateDirectory(bytes, static_cast<uint32_t>(signed_end),
                                    static_cast<uint32_t>(hidden.size() + 1));
      cases.push_back({"a table reaching past the end", bytes, hidden_end(bytes)});
    }
    for (const Case& c : cases) {
      platform::File file = Open(c.bytes);
      EXPECT_EQ(FoundTailEnd(file), c.expected) << c.what << ", magic " << magic;
    }
  }
}

}  // namespace
