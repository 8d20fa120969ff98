// The contents record of a compressed file group ("zfile"): the file's bytes
// in independent chunks, each compressed with DEFLATE or stored as it is.
//
// The payload is, all numbers little-endian:
//   original size of the whole file     8 bytes
//   then, for each chunk in order:
//     original size of the chunk        4 bytes, 1 to kMaxChunkOriginalSize
//     stored size of the chunk          4 bytes, 1 to the chunk's original size
//     the stored bytes
// A chunk whose stored size equals its original size holds its bytes as they
// are; one whose stored size is smaller holds a raw DEFLATE stream (RFC 1951,
// no zlib or gzip wrapper) that decodes to exactly the chunk's original size
// and ends exactly where its stored bytes end. The chunks' original sizes add
// up to the whole file's, and nothing follows the last chunk; an empty file
// is the 8-byte size alone. The record's digest covers these stored bytes,
// so the sizes are only trusted, and the chunks only decoded, once the
// parser below has bounded them; contents that break any of these rules are
// a damaged envelope.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "record.h"

namespace format {

inline constexpr size_t kCompressedHeaderSize = 8;
inline constexpr size_t kChunkHeaderSize = 8;

// A chunk decodes to at most this many bytes (1 MiB), so a reader holds at
// most this much of it at a time, stored or decoded.
inline constexpr uint32_t kMaxChunkOriginalSize = 1024 * 1024;
static_assert(kMaxChunkOriginalSize <= kPayloadChunkSize);

// The whole file's declared original size, from the payload's first bytes
// (at least kCompressedHeaderSize of them).
uint64_t DeclaredOriginalSize(std::string_view payload_start);

// The same for the located contents record `contents`, read through
// `reader`'s window; 0 when it is too short to declare one, or cannot be
// read.
uint64_t DeclaredOriginalSize(BackwardReader& reader, const RecordLocation& contents);

// Where the parser puts a chunk's stored bytes, and who takes the chunk once
// they are all there.
class ChunkSink {
 public:
  virtual ~ChunkSink() = default;
  // A chunk of `original_size` bytes, decoding to the file's bytes from
  // `file_offset` on, whose `stored_size` stored bytes follow: returns where
  // to put them (room for `stored_size` bytes, at most
  // kMaxChunkOriginalSize), or nullptr to stop.
  virtual char* BeginChunk(uint32_t original_size, uint32_t stored_size, uint64_t file_offset) = 0;
  // The stored bytes of the chunk BeginChunk asked for are all in its
  // buffer. False to stop.
  virtual bool EndChunk() = 0;
};

// Parses a contents payload as it arrives, piece by piece in order, checking
// every size against the rules above before anything is held or decoded.
class ChunkedContentsParser {
 public:
  explicit ChunkedContentsParser(ChunkSink& sink) : sink_(sink) {}

  // Takes the next piece of the payload. False once the contents are found
  // damaged, or the sink stopped; later pieces are then ignored.
  bool Feed(std::string_view piece);

  // After the last piece: whether the payload ended right after a chunk (or
  // the empty file's size), with the chunks adding up to the declared size.
  bool Complete() const;

  // Whether the payload broke a rule (as opposed to the sink stopping).
  bool damaged() const { return damaged_; }

  // The declared original size of the whole file, once its 8 bytes are in.
  uint64_t original_size() const { return original_size_; }

 private:
  enum class Expecting { kFileHeader, kChunkHeader, kStoredBytes };
  bool TakeHeader();
  bool Damaged();

  ChunkSink& sink_;
  Expecting expecting_ = Expecting::kFileHeader;
  unsigned char header_[kCompressedHeaderSize] = {};
  size_t header_filled_ = 0;
  char* stored_ = nullptr;      // the sink's buffer of the current chunk
  uint32_t stored_size_ = 0;    // stored bytes of the current chunk
  uint32_t stored_filled_ = 0;  // of them already in the buffer
  uint64_t original_size_ = 0;  // declared for the whole file
  uint64_t produced_size_ = 0;  // declared by the chunks so far
  bool damaged_ = false;
  bool stopped_ = false;
};

// Decodes chunks of compressed contents. One per thread: it keeps zlib's
// state between chunks.
class ChunkDecoder {
 public:
  ChunkDecoder();
  ~ChunkDecoder();
  ChunkDecoder(const ChunkDecoder&) = delete;
  ChunkDecoder& operator=(const ChunkDecoder&) = delete;

  // Decodes the chunk `stored` (as the parser handed it) of `original_size`
  // bytes into `output` (room for original_size bytes), or, for a chunk
  // stored as it is, points at `stored` itself. Returns the chunk's bytes; an
  // empty view when the chunk does not decode to exactly `original_size`
  // bytes ending where `stored` ends (damaged), or zlib lacked memory.
  std::string_view Decode(std::string_view stored, uint32_t original_size, char* output);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace format
