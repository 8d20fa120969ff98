// Writing envelopes with EnvelopeWriter: streamed payloads, and groups built
// from the grammar the group reader reads them with.
#include "envelope_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "groups.h"
#include "record.h"

using namespace format;

namespace {

TEST(EnvelopeWriterTest, StreamedPayloadsGiveTheSameBytesAsHeldOnes) {
  class Collect : public writer::Output {
   public:
    void Write(std::string_view bytes) override { text += bytes; }
    std::string text;
  };
  std::string contents(2 * kPayloadChunkSize + 3, '\0');
  for (size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>(i * 31 + i / 977);

  Collect streamed;
  writer::EnvelopeWriter envelope(streamed);
  size_t offset = 0;
  envelope.AddFileGroup("key", "big.bin",
                        writer::Payload(contents.size(), [&](char* buffer, size_t size) {
                          EXPECT_LE(size, kPayloadChunkSize);
                          contents.copy(buffer, size, offset);
                          offset += size;
                        }));
  std::string held;
  writer::AppendFileGroup(held, "key", "big.bin", contents);
  EXPECT_EQ(offset, contents.size());
  EXPECT_TRUE(streamed.text == held);
}

}  // namespace
