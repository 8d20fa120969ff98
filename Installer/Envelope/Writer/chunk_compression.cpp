#include "chunk_compression.h"

#include <zlib.h>

#include <algorithm>
#include <new>

#include "compressed_contents.h"
#include "little_endian.h"

namespace writer {

namespace {

// Raw DEFLATE (no zlib wrapper: the record's digest checks the bytes) with
// the largest window. zlib's memory level sets its hash table and, more
// important here, its block size (4 Ki symbols at level 6, 32 Ki at 9):
// smaller blocks let each block's Huffman codes follow the mix of code,
// tables and resources in Windows programs. At level 9 in 1 MiB chunks, 261
// Wine DLLs (208.5 MB) took 0.3475 of their size at memory level 9, 0.3456
// at 8, 0.3441 at 7, 0.3433 at 6 and 0.3448 at 5 (gzip -9 of their tar:
// 0.3460); text (C headers) 0.1990 at 9 and 0.1994 at 6.
constexpr int kRawDeflateWindowBits = -15;
constexpr int kMemoryLevel = 6;
constexpr int kFastLevel = 1;
constexpr int kBestLevel = 9;

// The best level searches hash chains of at most 512 entries, not zlib's
// 4096: on those DLLs, 0.3435 of their size instead of 0.3433 in 0.59 of
// the time (19.7 s of one core instead of 33.7; gzip -9 took 24). The other
// limits are level 9's own.
constexpr int kBestGoodLength = 32;
constexpr int kBestMaxLazy = 258;
constexpr int kBestNiceLength = 258;
constexpr int kBestMaxChain = 512;

// A chunk is deflated only when that saves at least 1/32 of it.
constexpr size_t kWorthwhileSavingDivisor = 32;

// The trial that spots incompressible chunks: this many samples of this
// size, spread over the chunk, deflated together at the fast level. Level 1
// deflates random bytes at only about 35 MB/s, so the samples are small:
// 4 KiB samples cost 0.5 ms per chunk of random bytes (16 KiB ones cost 1.9,
// more than MD5 takes over the whole chunk), and packed those DLLs to
// the same bytes as 16 KiB ones.
constexpr size_t kTrialSamples = 4;
constexpr size_t kTrialSampleSize = 4 * 1024;

struct Deflater {
  explicit Deflater(int zlib_level) : level(zlib_level) {
    if (deflateInit2(&stream, zlib_level, Z_DEFLATED, kRawDeflateWindowBits, kMemoryLevel,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
      throw std::bad_alloc();
    }
  }
  ~Deflater() { deflateEnd(&stream); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // Starts a new stream. zlib's reset restores the level's search limits,
  // so the best level's are set again each time.
  void Reset() {
    deflateReset(&stream);
    if (level == kBestLevel) {
      deflateTune(&stream, kBestGoodLength, kBestMaxLazy, kBestNiceLength, kBestMaxChain);
    }
  }

  // Deflates `input` into `out` (`room` bytes, deflateBound of all the
  // stream's input when `flush` is Z_FINISH); returns the bytes written.
  size_t Deflate(std::string_view input, char* out, size_t room, int flush) {
    // zlib does not write through next_in; its interface predates const.
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    stream.avail_in = static_cast<uInt>(input.size());
    stream.next_out = reinterpret_cast<Bytef*>(out);
    stream.avail_out = static_cast<uInt>(room);
    deflate(&stream, flush);
    return room - stream.avail_out;
  }

  int level;
  z_stream stream = {};
};

bool Worthwhile(size_t stored, size_t original) {
  return stored + original / kWorthwhileSavingDivisor < original;
}

}  // namespace

struct ChunkCompressor::State {
  explicit State(int level) : deflater(level), trial(kFastLevel) {}
  Deflater deflater;
  Deflater trial;
  std::string scratch;
};

ChunkCompressor::ChunkCompressor(Compression compression)
    : state_(new State(compression == Compression::kBest ? kBestLevel : kFastLevel)) {}

ChunkCompressor::~ChunkCompressor() = default;

bool ChunkCompressor::WorthDeflating(std::string_view chunk) {
  if (chunk.size() <= kTrialSamples * kTrialSampleSize) return true;
  Deflater& trial = state_->trial;
  trial.Reset();
  std::string& scratch = state_->scratch;
  scratch.resize(deflateBound(&trial.stream, kTrialSamples * kTrialSampleSize));
  size_t stored = 0;
  const size_t stride = (chunk.size() - kTrialSampleSize) / (kTrialSamples - 1);
  for (size_t i = 0; i < kTrialSamples; ++i) {
    stored +=
        trial.Deflate(chunk.substr(i * stride, kTrialSampleSize), scratch.data() + stored,
                      scratch.size() - stored, i + 1 == kTrialSamples ? Z_FINISH : Z_NO_FLUSH);
  }
  return Worthwhile(stored, kTrialSamples * kTrialSampleSize);
}

void ChunkCompressor::AppendChunk(std::string_view chunk, std::string& out) {
  const size_t header_at = out.size();
  format::AppendLittleEndian32(out, static_cast<uint32_t>(chunk.size()));
  format::AppendLittleEndian32(out, static_cast<uint32_t>(chunk.size()));
  const size_t data_at = out.size();
  if (WorthDeflating(chunk)) {
    Deflater& deflater = state_->deflater;
    deflater.Reset();
    // A chunk is at most 1 MiB, so its size fits in zlib's uLong (32 bits on Windows).
    const size_t room = deflateBound(&deflater.stream, static_cast<uLong>(chunk.size()));
    out.resize(data_at + room);
    const size_t stored = deflater.Deflate(chunk, out.data() + data_at, room, Z_FINISH);
    if (Worthwhile(stored, chunk.size())) {
      out.resize(data_at + stored);
      format::StoreLittleEndian(reinterpret_cast<unsigned char*>(out.data() + header_at + 4),
                                stored, 4);
      return;
    }
    out.resize(data_at);
  }
  out.append(chunk);
}

std::string ContentsHeader(uint64_t original_size) {
  std::string header;
  format::AppendLittleEndian64(header, original_size);
  return header;
}

std::string CompressedContents(std::string_view bytes, Compression compression) {
  ChunkCompressor compressor(compression);
  std::string out = ContentsHeader(bytes.size());
  for (size_t at = 0; at < bytes.size(); at += format::kMaxChunkOriginalSize) {
    compressor.AppendChunk(bytes.substr(at, format::kMaxChunkOriginalSize), out);
  }
  return out;
}

}  // namespace writer
