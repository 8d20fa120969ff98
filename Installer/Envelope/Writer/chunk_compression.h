// Compressing a file's bytes into a compressed file group's contents (see
// compressed_contents.h), one chunk at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace writer {

// How a file is packed: as it is (a "file" group), or compressed (a "zfile"
// group) for speed or for size.
enum class Compression { kNone, kFast, kBest };

// Compresses chunks at one level. One per thread: it keeps zlib's state
// between chunks. The output depends only on the level and the chunk, never
// on the thread or on earlier chunks.
class ChunkCompressor {
 public:
  // `compression` is kFast (zlib level 1) or kBest (level 9).
  explicit ChunkCompressor(Compression compression);
  ~ChunkCompressor();
  ChunkCompressor(const ChunkCompressor&) = delete;
  ChunkCompressor& operator=(const ChunkCompressor&) = delete;

  // Appends `chunk` (1 to format::kMaxChunkOriginalSize bytes) to `out` as
  // the contents hold it: its original and stored sizes, then its bytes
  // deflated when that saves at least 1/32 of them, else as they are. Bytes
  // that a quick trial on samples of them finds incompressible are not
  // deflated at all, so media and archives cost little more than a copy.
  // Throws std::bad_alloc when zlib lacks memory.
  void AppendChunk(std::string_view chunk, std::string& out);

 private:
  bool WorthDeflating(std::string_view chunk);

  struct State;
  std::unique_ptr<State> state_;
};

// The header of the contents of a file of `original_size` bytes: what comes
// before its first chunk.
std::string ContentsHeader(uint64_t original_size);

// The whole contents of `bytes` compressed at `compression` (kFast or
// kBest) on this thread, chunk by chunk: for tests, fuzzers and benchmarks.
std::string CompressedContents(std::string_view bytes, Compression compression);

}  // namespace writer
