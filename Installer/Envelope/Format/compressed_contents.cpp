#include "compressed_contents.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "little_endian.h"

namespace format {

namespace {

// zlib's window size for a raw DEFLATE stream: the largest (32 KiB), negated
// for no zlib header and no Adler-32 trailer (the record's digest checks the
// bytes).
constexpr int kRawDeflateWindowBits = -15;

}  // namespace

uint64_t DeclaredOriginalSize(std::string_view payload_start) {
  return LoadLittleEndian64(reinterpret_cast<const unsigned char*>(payload_start.data()));
}

uint64_t DeclaredOriginalSize(BackwardReader& reader, const RecordLocation& contents) {
  if (contents.length < kCompressedHeaderSize) return 0;
  const char* header = reader.View(contents.start, kCompressedHeaderSize);
  return header == nullptr ? 0 : DeclaredOriginalSize({header, kCompressedHeaderSize});
}

bool ChunkedContentsParser::Damaged() {
  damaged_ = true;
  return false;
}

// Takes a complete header: the file's size, or a chunk's two sizes.
bool ChunkedContentsParser::TakeHeader() {
  header_filled_ = 0;
  if (expecting_ == Expecting::kFileHeader) {
    original_size_ = LoadLittleEndian64(header_);
    expecting_ = Expecting::kChunkHeader;
    return true;
  }
  const uint32_t original = LoadLittleEndian32(header_);
  const uint32_t stored = LoadLittleEndian32(header_ + 4);
  if (original == 0 || original > kMaxChunkOriginalSize || stored == 0 || stored > original ||
      original > original_size_ - produced_size_) {
    return Damaged();
  }
  stored_ = sink_.BeginChunk(original, stored, produced_size_);
  if (stored_ == nullptr) return false;
  produced_size_ += original;
  stored_size_ = stored;
  stored_filled_ = 0;
  expecting_ = Expecting::kStoredBytes;
  return true;
}

bool ChunkedContentsParser::Feed(std::string_view piece) {
  if (damaged_ || stopped_) return false;
  while (!piece.empty()) {
    if (expecting_ == Expecting::kStoredBytes) {
      const size_t take = std::min<size_t>(piece.size(), stored_size_ - stored_filled_);
      std::memcpy(stored_ + stored_filled_, piece.data(), take);
      stored_filled_ += static_cast<uint32_t>(take);
      piece.remove_prefix(take);
      if (stored_filled_ < stored_size_) continue;
      expecting_ = Expecting::kChunkHeader;
      if (!sink_.EndChunk()) {
        stopped_ = true;
        return false;
      }
      continue;
    }
    // Bytes after the last chunk: the stream ends late.
    if (expecting_ == Expecting::kChunkHeader && produced_size_ == original_size_) {
      return Damaged();
    }
    const size_t wanted =
        expecting_ == Expecting::kFileHeader ? kCompressedHeaderSize : kChunkHeaderSize;
    const size_t take = std::min(piece.size(), wanted - header_filled_);
    std::memcpy(header_ + header_filled_, piece.data(), take);
    header_filled_ += take;
    piece.remove_prefix(take);
    if (header_filled_ < wanted) continue;
    if (!TakeHeader()) {
      stopped_ = !damaged_;
      return false;
    }
  }
  return true;
}

bool ChunkedContentsParser::Complete() const {
  return !damaged_ && !stopped_ && expecting_ == Expecting::kChunkHeader && header_filled_ == 0 &&
         produced_size_ == original_size_;
}

struct ChunkDecoder::State {
  z_stream stream = {};
  bool usable = false;
};

ChunkDecoder::ChunkDecoder() : state_(new State) {
  state_->usable = inflateInit2(&state_->stream, kRawDeflateWindowBits) == Z_OK;
}

ChunkDecoder::~ChunkDecoder() {
  if (state_->usable) inflateEnd(&state_->stream);
}

std::string_view ChunkDecoder::Decode(std::string_view stored, uint32_t original_size,
                                      char* output) {
  if (stored.size() == original_size) return stored;
  if (stored.size() > original_size || !state_->usable) return {};
  z_stream& stream = state_->stream;
  if (inflateReset(&stream) != Z_OK) return {};
  // zlib does not write through next_in; its interface predates const.
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stored.data()));
  stream.avail_in = static_cast<uInt>(stored.size());
  stream.next_out = reinterpret_cast<Bytef*>(output);
  stream.avail_out = original_size;
  // One call with all input and all room: a stream that wants more room than
  // declared stops with Z_BUF_ERROR or Z_OK, one that ends early or leaves
  // input over is caught below.
  const int result = inflate(&stream, Z_FINISH);
  if (result != Z_STREAM_END || stream.avail_in != 0 || stream.avail_out != 0) return {};
  return {output, original_size};
}

}  // namespace format
