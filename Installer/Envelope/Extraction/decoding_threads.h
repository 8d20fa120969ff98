// Decoding a compressed file's chunks on helper threads, one chunk per
// thread, each written straight to its place in its file, while the main
// thread reads and hashes the chunks that follow (of the same file or the
// next ones).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "compressed_contents.h"
#include "platform_files.h"

namespace extraction {

// How a chunk ended.
enum class ChunkResult {
  kWritten,     // decoded and written (or, for a file that is only checked, decoded)
  kDamaged,     // does not decode to its declared size
  kNotWritten,  // decoded, but the write failed
};

// How a file being extracted fares: its chunks still in flight and its first
// failure. Kept by the file; DecodingThreads notes each chunk's result in it
// on the main thread.
struct FileOutcome {
  int chunks_in_flight = 0;
  bool failed = false;
  // The first failure was a chunk that does not decode (a damaged envelope
  // rather than a system error).
  bool damaged = false;
  int error = 0;  // the system error code of the first failure; 0 when damaged

  // Notes `result`, with the system error `error` of a chunk not written;
  // only the first failure decides `damaged` and `error`.
  void Note(ChunkResult result, int error);
};

// A ring of slots, each with a helper thread, a decoder and room for one
// chunk stored and decoded (so at most 2 MiB a slot). The slots are taken in
// turn, so chunks finish in the order they were handed over; their results
// are noted in their files' outcomes on the main thread, in that order. A small
// chunk (64 KiB or less decoded), and every chunk where no thread can be had,
// is decoded and written when it is handed over.
// Not for use from several threads; every outcome that has chunks here must
// outlive them (Settle).
class DecodingThreads {
 public:
  // Up to `slots` slots (at least 1), set up when the first chunk comes.
  explicit DecodingThreads(int slots);
  ~DecodingThreads();  // waits for every chunk in flight, ends the threads
  DecodingThreads(const DecodingThreads&) = delete;
  DecodingThreads& operator=(const DecodingThreads&) = delete;

  // Room for the stored bytes (at most format::kMaxChunkOriginalSize) of the
  // next chunk to hand over, freeing a slot first when all are busy: the
  // oldest chunk's result is delivered. Valid until Submit.
  char* NextBuffer();

  // Hands over the chunk whose `stored_size` stored bytes are in the buffer
  // NextBuffer gave last: it decodes to `original_size` bytes, written to
  // `output` from `file_offset` on (nullptr: decoded only). Its result is
  // noted in `outcome`, whose chunks_in_flight counts it until then, no later
  // than Settle(outcome).
  void Submit(FileOutcome& outcome, platform::File* output, uint32_t stored_size,
              uint32_t original_size, uint64_t file_offset);

  // Waits until every chunk handed over for `outcome` has its result noted.
  void Settle(const FileOutcome& outcome);

  // Waits for every chunk in flight.
  void SettleAll();

  // The decoded bytes of the chunks in flight, which are yet to be written:
  // room a disk must keep for them.
  uint64_t UnwrittenBytes() const { return unwritten_bytes_; }

 private:
  struct Slot;
  void SetUp();
  void Deliver();  // waits for the oldest chunk in flight, notes its result
  static void Decode(void* slot);

  int slot_count_;
  std::unique_ptr<Slot[]> slots_;
  bool set_up_ = false;
  int next_ = 0;       // the slot the next chunk takes
  int in_flight_ = 0;  // chunks handed over whose results are not delivered
  uint64_t unwritten_bytes_ = 0;
};

// The slots a reader uses: two per processor, so that a thread always has
// the next chunk waiting when it finishes one, and at most 4 (8 MiB of
// buffers).
int DecodingSlots();

}  // namespace extraction
