#include "decoding_threads.h"

#include <algorithm>

#include "worker.h"

namespace extraction {

namespace {

constexpr int kMostDecodingSlots = 4;

// A chunk that decodes to at most this many bytes (a small file, or the end
// of one) costs less to decode at once than to hand to a thread and wait
// for: it is decoded when it is handed over, and its result still delivered
// in turn.
constexpr uint32_t kDecodedAtOnceSize = 64 * 1024;

}  // namespace

void FileOutcome::Note(ChunkResult result, int system_error) {
  if (result == ChunkResult::kWritten || failed) return;
  failed = true;
  damaged = result == ChunkResult::kDamaged;
  error = damaged ? 0 : system_error;
}

int DecodingSlots() { return std::min(platform::ProcessorCount() * 2, kMostDecodingSlots); }

struct DecodingThreads::Slot {
  format::ChunkDecoder decoder;
  std::unique_ptr<char[]> stored;
  std::unique_ptr<char[]> decoded;
  // The chunk, handed to the worker with the job, its result back.
  FileOutcome* outcome = nullptr;
  platform::File* output = nullptr;  // nullptr: decode only
  uint32_t stored_size = 0;
  uint32_t original_size = 0;
  uint64_t file_offset = 0;
  ChunkResult result = ChunkResult::kWritten;
  int error = 0;
  Worker worker;  // last: it ends, and the chunk in flight with it, first
};

DecodingThreads::DecodingThreads(int slots) : slot_count_(slots < 1 ? 1 : slots) {}

DecodingThreads::~DecodingThreads() {
  if (set_up_) SettleAll();
}

void DecodingThreads::SetUp() {
  slots_ = std::make_unique<Slot[]>(static_cast<size_t>(slot_count_));
  for (int i = 0; i < slot_count_; ++i) {
    Slot& slot = slots_[i];
    slot.stored = std::make_unique<char[]>(format::kMaxChunkOriginalSize);
    slot.decoded = std::make_unique<char[]>(format::kMaxChunkOriginalSize);
    slot.worker.Start(Decode, &slot);
  }
  set_up_ = true;
}

char* DecodingThreads::NextBuffer() {
  if (!set_up_) SetUp();
  if (in_flight_ == slot_count_) Deliver();
  return slots_[next_].stored.get();
}

void DecodingThreads::Submit(FileOutcome& outcome, platform::File* output, uint32_t stored_size,
                             uint32_t original_size, uint64_t file_offset) {
  Slot& slot = slots_[next_];
  slot.outcome = &outcome;
  slot.output = output;
  slot.stored_size = stored_size;
  slot.original_size = original_size;
  slot.file_offset = file_offset;
  ++outcome.chunks_in_flight;
  unwritten_bytes_ += original_size;
  ++in_flight_;
  next_ = (next_ + 1) % slot_count_;
  if (original_size <= kDecodedAtOnceSize) {
    Decode(&slot);
  } else {
    slot.worker.Post();
  }
}

void DecodingThreads::Deliver() {
  Slot& slot = slots_[(next_ - in_flight_ + slot_count_) % slot_count_];
  slot.worker.Wait();
  --in_flight_;
  unwritten_bytes_ -= slot.original_size;
  --slot.outcome->chunks_in_flight;
  slot.outcome->Note(slot.result, slot.error);
}

void DecodingThreads::Settle(const FileOutcome& outcome) {
  while (outcome.chunks_in_flight > 0) Deliver();
}

void DecodingThreads::SettleAll() {
  while (in_flight_ > 0) Deliver();
}

void DecodingThreads::Decode(void* argument) {
  Slot& slot = *static_cast<Slot*>(argument);
  slot.error = 0;
  const std::string_view bytes = slot.decoder.Decode({slot.stored.get(), slot.stored_size},
                                                     slot.original_size, slot.decoded.get());
  if (bytes.empty()) {
    slot.result = ChunkResult::kDamaged;
  } else if (slot.output != nullptr && !slot.output->WriteAt(static_cast<int64_t>(slot.file_offset),
                                                             bytes.data(), bytes.size())) {
    slot.result = ChunkResult::kNotWritten;
    slot.error = platform::LastErrorCode();
  } else {
    slot.result = ChunkResult::kWritten;
  }
}

}  // namespace extraction
