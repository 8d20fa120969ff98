// Compressing many files on several threads: the same bytes as compressing
// each on one thread, whatever the number of threads; failures reach the
// writer at the file they belong to; inputs are opened one at a time.
#include "compression_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "compressed_contents.h"
#include "envelope_writer.h"
#include "test_support.h"

namespace {

using test::CompressibleText;
using writer::Compression;
constexpr size_t kChunk = format::kMaxChunkOriginalSize;

struct File {
  std::string bytes;
  Compression compression = Compression::kBest;
};

class Collect : public writer::Output {
 public:
  void Write(std::string_view bytes) override { text += bytes; }
  std::string text;
};

// Counts the inputs open at once.
struct OpenCount {
  int now = 0;
  int most = 0;
};

// The files as pipeline inputs, read from memory in order.
std::vector<writer::CompressionInput> Inputs(const std::vector<File>& files,
                                             std::shared_ptr<OpenCount> count) {
  std::vector<writer::CompressionInput> inputs;
  for (const File& file : files) {
    writer::CompressionInput input;
    input.size = file.bytes.size();
    input.compression = file.compression;
    input.open = [bytes = std::string_view(file.bytes), count]() -> writer::ReadNext {
      count->most = std::max(count->most, ++count->now);
      // Counts the input closed when the pipeline drops its reader.
      std::shared_ptr<int> open(new int(0), [count](int* p) {
        --count->now;
        delete p;
      });
      auto offset = std::make_shared<size_t>(0);
      return [bytes, offset, open](char* buffer, size_t size) {
        bytes.copy(buffer, size, *offset);
        *offset += size;
      };
    };
    inputs.push_back(std::move(input));
  }
  return inputs;
}

// Every file as a compressed file group, through the pipeline.
std::string PackThroughPipeline(const std::vector<File>& files, unsigned threads,
                                const std::shared_ptr<OpenCount>& count) {
  Collect out;
  writer::EnvelopeWriter envelope(out);
  writer::CompressionPipeline pipeline(Inputs(files, count), threads);
  for (size_t i = 0; i < files.size(); ++i) {
    envelope.AddCompressedFileGroup("", "f" + std::to_string(i), pipeline.NextContents());
  }
  return out.text;
}

TEST(CompressionPipelineTest, GivesEachFilesContentsAsOneThreadCompressesThem) {
  const struct {
    const char* what;
    std::vector<File> files;
  } cases[] = {
      {"one empty file", {{""}}},
      {"sizes around a chunk",
       {{CompressibleText(1)},
        {CompressibleText(kChunk - 1)},
        {CompressibleText(kChunk)},
        {CompressibleText(kChunk + 1), Compression::kFast},
        {""},
        {CompressibleText(3 * kChunk + 17)}}},
      {"incompressible among compressible",
       {{test::RandomBytes(2 * kChunk + 5, 1)},
        {CompressibleText(100000), Compression::kFast},
        {test::RandomBytes(1000, 2), Compression::kFast},
        {test::RandomBytes(kChunk, 3)}}},
      {"many single-chunk files", std::vector<File>(200, File{CompressibleText(3000)})},
  };
  for (const auto& [what, files] : cases) {
    std::string expected;
    for (size_t i = 0; i < files.size(); ++i) {
      writer::AppendCompressedFileGroup(expected, "", "f" + std::to_string(i), files[i].bytes,
                                        files[i].compression);
    }
    for (const unsigned threads : {1u, 4u}) {
      auto count = std::make_shared<OpenCount>();
      EXPECT_TRUE(PackThroughPipeline(files, threads, count) == expected)
          << what << ", " << threads << " threads";
      EXPECT_EQ(count->most, 1) << what << ": inputs open at once";
      EXPECT_EQ(count->now, 0) << what << ": inputs left open";
    }
  }
}

TEST(CompressionPipelineTest, AFailureReachesTheWriterAtItsOwnFile) {
  const std::vector<File> files = {{CompressibleText(2 * kChunk)},
                                   {CompressibleText(10)},
                                   {CompressibleText(3 * kChunk)},
                                   {CompressibleText(9)}};
  // Input 2 fails when opened, or when its second chunk is read.
  for (const bool at_open : {true, false}) {
    for (const unsigned threads : {1u, 4u}) {
      auto count = std::make_shared<OpenCount>();
      std::vector<writer::CompressionInput> inputs = Inputs(files, count);
      writer::CompressionInput& failing = inputs[2];
      if (at_open) {
        failing.open = []() -> writer::ReadNext { throw std::runtime_error("cannot open f2"); };
      } else {
        failing.open = [open = failing.open]() -> writer::ReadNext {
          auto reads = std::make_shared<int>(0);
          return [read = open(), reads](char* buffer, size_t size) {
            if (++*reads == 2) throw std::runtime_error("read failed in f2");
            read(buffer, size);
          };
        };
      }
      Collect out;
      writer::EnvelopeWriter envelope(out);
      writer::CompressionPipeline pipeline(std::move(inputs), threads);
      envelope.AddCompressedFileGroup("", "f0", pipeline.NextContents());
      envelope.AddCompressedFileGroup("", "f1", pipeline.NextContents());
      std::string expected;
      writer::AppendCompressedFileGroup(expected, "", "f0", files[0].bytes);
      writer::AppendCompressedFileGroup(expected, "", "f1", files[1].bytes);
      EXPECT_TRUE(out.text == expected);
      try {
        envelope.AddCompressedFileGroup("", "f2", pipeline.NextContents());
        ADD_FAILURE() << "no failure";
      } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), at_open ? "cannot open f2" : "read failed in f2");
      }
    }
  }
}

TEST(CompressionPipelineTest, StopsWhenTheWriterGivesUpEarly) {
  const std::vector<File> files(20, File{CompressibleText(2 * kChunk)});
  auto count = std::make_shared<OpenCount>();
  {
    writer::CompressionPipeline pipeline(Inputs(files, count), 4);
    Collect out;
    writer::EnvelopeWriter envelope(out);
    envelope.AddCompressedFileGroup("", "f0", pipeline.NextContents());
  }  // the other 19 never written
  EXPECT_EQ(count->now, 0);
}

}  // namespace
