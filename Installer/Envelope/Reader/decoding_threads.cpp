#include "decoding_threads.h"

#include <algorithm>

#include "file_extraction.h"

namespace reader {

namespace {

constexpr int kMostDecodingSlots = 4;

}  // namespace

int DecodingSlots() { return std::min(platform::ProcessorCount() * 2, kMostDecodingSlots); }

struct DecodingThreads::Slot {
  platform::Thread thread;
  platform::Semaphore work_ready;
  platform::Semaphore work_done;
  bool threaded = false;
  bool stopping = false;
  format::ChunkDecoder decoder;
  std::unique_ptr<char[]> stored;
  std::unique_ptr<char[]> decoded;
  // The chunk, handed to the thread with work_ready, its result back with
  // work_done.
  PendingFile* file = nullptr;
  platform::File* output = nullptr;  // nullptr: decode only
  uint32_t stored_size = 0;
  uint32_t original_size = 0;
  uint64_t file_offset = 0;
  ChunkResult result = ChunkResult::kWritten;
  int error = 0;
};

DecodingThreads::DecodingThreads(int slots) : slot_count_(slots < 1 ? 1 : slots) {}

DecodingThreads::~DecodingThreads() {
  if (!set_up_) return;
  SettleAll();
  for (int i = 0; i < slot_count_; ++i) {
    Slot& slot = slots_[i];
    if (!slot.threaded) continue;
    slot.stopping = true;
    slot.work_ready.Post();
    slot.thread.Join();
  }
}

void DecodingThreads::SetUp() {
  slots_ = std::make_unique<Slot[]>(static_cast<size_t>(slot_count_));
  for (int i = 0; i < slot_count_; ++i) {
    Slot& slot = slots_[i];
    slot.stored = std::make_unique<char[]>(format::kMaxChunkOriginalSize);
    slot.decoded = std::make_unique<char[]>(format::kMaxChunkOriginalSize);
    slot.threaded =
        slot.work_ready.IsUsable() && slot.work_done.IsUsable() && slot.thread.Start(Serve, &slot);
  }
  set_up_ = true;
}

char* DecodingThreads::NextBuffer() {
  if (!set_up_) SetUp();
  if (in_flight_ == slot_count_) Deliver();
  return slots_[next_].stored.get();
}

void DecodingThreads::Submit(PendingFile& file, uint32_t stored_size, uint32_t original_size,
                             uint64_t file_offset) {
  Slot& slot = slots_[next_];
  slot.file = &file;
  slot.output = file.output();
  slot.stored_size = stored_size;
  slot.original_size = original_size;
  slot.file_offset = file_offset;
  file.ChunkHandedOver();
  unwritten_bytes_ += original_size;
  ++in_flight_;
  next_ = (next_ + 1) % slot_count_;
  if (slot.threaded) {
    slot.work_ready.Post();
  } else {
    Decode(slot);
  }
}

void DecodingThreads::Deliver() {
  Slot& slot = slots_[(next_ - in_flight_ + slot_count_) % slot_count_];
  if (slot.threaded) slot.work_done.Wait();
  --in_flight_;
  unwritten_bytes_ -= slot.original_size;
  slot.file->ChunkDone(slot.result, slot.error);
}

void DecodingThreads::Settle(const PendingFile& file) {
  while (file.chunks_in_flight() > 0) Deliver();
}

void DecodingThreads::SettleAll() {
  while (in_flight_ > 0) Deliver();
}

void DecodingThreads::Decode(Slot& slot) {
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

void DecodingThreads::Serve(void* argument) {
  Slot& slot = *static_cast<Slot*>(argument);
  for (;;) {
    slot.work_ready.Wait();
    if (slot.stopping) return;
    Decode(slot);
    slot.work_done.Post();
  }
}

}  // namespace reader
