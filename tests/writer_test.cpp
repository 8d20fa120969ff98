// Writing envelopes with EnvelopeWriter: streamed payloads, and groups built
// from the grammar the group reader reads them with.
#include "envelope_writer.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

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

TEST(EnvelopeWriterTest, ProducedPayloadsGiveTheSameBytesAndStopAtTheLengthLimit) {
  class Collect : public writer::Output {
   public:
    void Write(std::string_view bytes) override { text += bytes; }
    std::string text;
  };
  const std::string contents(kPayloadChunkSize + 5, 'q');
  const std::vector<std::vector<size_t>> pieces = {{}, {0, 3, 0}, {kPayloadChunkSize + 5}};
  for (const std::vector<size_t>& sizes : pieces) {
    size_t total = 0;
    for (const size_t size : sizes) total += size;
    Collect produced;
    writer::EnvelopeWriter envelope(produced);
    envelope.AddFileGroup("key", "name", writer::Payload([&](const writer::Payload::Emit& emit) {
                            size_t at = 0;
                            for (const size_t size : sizes) {
                              emit(std::string_view(contents).substr(at, size));
                              at += size;
                            }
                          }));
    std::string held;
    writer::AppendFileGroup(held, "key", "name", contents.substr(0, total));
    EXPECT_TRUE(produced.text == held) << total;
  }

  // The piece that would pass the limit is refused before any of it is
  // written (it is never read: its size alone is too large).
  Collect cut;
  writer::EnvelopeWriter envelope(cut);
  EXPECT_THROW(envelope.AddRecord(writer::Payload([&](const writer::Payload::Emit& emit) {
    emit("0123456789");
    emit(std::string_view(contents.data(), kMaxPayloadSize - 9));
  })),
               std::length_error);
  EXPECT_EQ(cut.text, "0123456789");
}

}  // namespace
