// Finding the envelope's tail from the end of a program file, on hand-made
// files: the backward search, its block edges, and the signed part of a
// Windows program.
#include "tail.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>

#include "backward_reader.h"
#include "envelope_writer.h"
#include "pe_images.h"
#include "platform_files.h"
#include "record.h"
#include "test_support.h"

using namespace format;

namespace {

class TailTest : public testing::Test {
 protected:
  // Writes `bytes` to a file and opens it, positioned at its end.
  platform::File Open(const std::string& bytes) {
    test::WriteFile(path_, bytes);
    platform::File file = platform::File::OpenForReading(path_.string());
    EXPECT_TRUE(file.IsOpen());
    EXPECT_TRUE(file.SeekToEnd());
    return file;
  }

  test::ScratchDirectory scratch_;
  std::filesystem::path path_ = scratch_.path() / "archive";
};

// The tail rule, one candidate at a time: offsets from size - 23 down to 23.
int64_t ReferenceTailEnd(const std::string& bytes) {
  const std::string& marker = TailMarker();
  for (int64_t p = static_cast<int64_t>(bytes.size()) - 23; p > 22; --p) {
    if (bytes.compare(static_cast<size_t>(p), marker.size(), marker) == 0) return p + 42;
  }
  return -1;
}

int64_t FoundTailEnd(platform::File& file) { return FindEnvelopeTail(file) ? file.Position() : -1; }

TEST_F(TailTest, TheTailIsFoundPastTrailingBytes) {
  std::string bytes(50, 's');
  writer::AppendTail(bytes);
  const int64_t tail_end = static_cast<int64_t>(bytes.size());
  bytes += std::string(5000, 'c');  // a signature, say
  platform::File file = Open(bytes);
  EXPECT_EQ(FoundTailEnd(file), tail_end);

  std::string payload;
  BackwardReader reader(file);
  ASSERT_EQ(ReadRecordBackward(reader, payload), RecordStatus::kOk);
  EXPECT_EQ(payload, TailMarker());
}

TEST_F(TailTest, TheMarkerMustStartAtOffset23OrAbove) {
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

TEST_F(TailTest, NoMarkerOrATinyFileIsNotFound) {
  for (const std::string& bytes :
       {std::string(), std::string(45, 'x'), std::string(300000, 'x'),
        std::string(100, 'x') + TailMarker().substr(0, 21) + std::string(100, 'x')}) {
    platform::File file = Open(bytes);
    EXPECT_EQ(FoundTailEnd(file), -1) << bytes.size();
  }
}

TEST_F(TailTest, TheHighestMarkerWins) {
  std::string bytes(30, 'x');
  bytes += TailMarker() + std::string(1000, 'y') + TailMarker() + std::string(30, 'z');
  platform::File file = Open(bytes);
  EXPECT_EQ(FoundTailEnd(file), ReferenceTailEnd(bytes));
  EXPECT_EQ(FoundTailEnd(file), static_cast<int64_t>(bytes.size()) - 30 + 20);
}

// Markers on and around the edges of the blocks the search reads, checked
// against the one-candidate-at-a-time rule.
TEST_F(TailTest, MarkersAcrossScanBlockEdgesMatchTheByteByByteRule) {
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
TEST_F(TailTest, RandomTextsOfMarkerLettersMatchTheByteByByteRule) {
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
TEST_F(TailTest, InASignedProgramOnlyThePartBeforeTheCertificateTableIsSearched) {
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
