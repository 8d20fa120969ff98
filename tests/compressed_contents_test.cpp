// Compressed contents as a reader takes them apart: the parser bounds each
// chunk, the decoder gives back the file's bytes.
#include "compressed_contents.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "chunk_compression.h"
#include "test_support.h"

namespace {

using writer::Compression;
constexpr size_t kChunk = format::kMaxChunkOriginalSize;

// Decodes contents as a reader does: the parser bounds each chunk, the
// decoder decodes it. Empty with `ok` false when they are damaged.
std::string Decode(std::string_view contents, bool& ok) {
  class Sink : public format::ChunkSink {
   public:
    char* BeginChunk(uint32_t original_size, uint32_t stored_size, uint64_t) override {
      original_ = original_size;
      stored_.resize(stored_size);
      return stored_.data();
    }
    bool EndChunk() override {
      std::string decoded(original_, '\0');
      const std::string_view bytes = decoder_.Decode(stored_, original_, decoded.data());
      if (bytes.size() != original_) return false;
      out.append(bytes);
      return true;
    }
    std::string out;

   private:
    uint32_t original_ = 0;
    std::string stored_;
    format::ChunkDecoder decoder_;
  } sink;
  format::ChunkedContentsParser parser(sink);
  ok = parser.Feed(contents) && parser.Complete();
  return sink.out;
}

TEST(CompressedContentsTest, ContentsDecodeToTheFilesAndRandomBytesBarelyGrow) {
  const struct {
    std::string bytes;
    Compression compression = Compression::kBest;
  } files[] = {
      {""},
      {test::CompressibleText(5)},
      {test::CompressibleText(2 * kChunk + 3), Compression::kFast},
      {test::CompressibleText(2 * kChunk + 3)},
      {test::RandomBytes(3 * kChunk + 9, 4), Compression::kFast},
      {test::RandomBytes(3 * kChunk + 9, 5)},
  };
  for (const auto& file : files) {
    const std::string contents = writer::CompressedContents(file.bytes, file.compression);
    bool ok = false;
    EXPECT_TRUE(Decode(contents, ok) == file.bytes) << file.bytes.size();
    EXPECT_TRUE(ok) << file.bytes.size();
    if (file.bytes.size() > kChunk) {
      const double ratio =
          static_cast<double>(contents.size()) / static_cast<double>(file.bytes.size());
      if (file.bytes[0] == 'l') {
        EXPECT_LT(ratio, 0.2) << "text";
      } else {
        EXPECT_LE(ratio, 1.001) << "random bytes";
      }
    }
  }
}

}  // namespace
