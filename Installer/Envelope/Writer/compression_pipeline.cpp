#include "compression_pipeline.h"

#include <algorithm>

#include "compressed_contents.h"
#include "platform_threads.h"

namespace writer {

namespace {

// Chunks read but not yet written, per thread: one being compressed, one
// waiting for the writer.
constexpr size_t kSlotsPerThread = 2;

}  // namespace

CompressionPipeline::CompressionPipeline(std::vector<CompressionInput> inputs, unsigned threads)
    : inputs_(std::move(inputs)) {
  threads = std::max(threads, 1u);
  for (size_t input = 0; input < inputs_.size(); ++input) {
    first_job_.push_back(jobs_.size());
    const uint64_t size = inputs_[input].size;
    if (size == 0) {
      jobs_.push_back({.input = input, .offset = 0, .size = 0, .last = true});
      continue;
    }
    for (uint64_t offset = 0; offset < size; offset += format::kMaxChunkOriginalSize) {
      const auto piece =
          static_cast<size_t>(std::min<uint64_t>(format::kMaxChunkOriginalSize, size - offset));
      jobs_.push_back(
          {.input = input, .offset = offset, .size = piece, .last = offset + piece == size});
    }
  }
  first_job_.push_back(jobs_.size());
  slots_.resize(kSlotsPerThread * threads);
  try {
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
  } catch (...) {
    Stop();
    throw;
  }
}

CompressionPipeline::~CompressionPipeline() { Stop(); }

void CompressionPipeline::Stop() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

unsigned CompressionPipeline::DefaultThreads() {
  return static_cast<unsigned>(platform::ProcessorCount());
}

void CompressionPipeline::Work() {
  // A compressor per level, made when first needed: each keeps zlib's state
  // (about 1 MiB at the best level) from chunk to chunk.
  Compressors compressors;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] {
      return stopping_ || failed_ || next_job_ == jobs_.size() ||
             next_job_ < written_jobs_ + slots_.size();
    });
    if (stopping_ || failed_ || next_job_ == jobs_.size()) return;
    const size_t index = next_job_++;
    const Job& job = jobs_[index];
    Slot& slot = slots_[index % slots_.size()];

    // The inputs are read in order, one chunk after the other.
    changed_.wait(lock, [&] { return stopping_ || failed_ || read_turn_ == index; });
    if (stopping_ || failed_) return;
    lock.unlock();
    std::exception_ptr failure = ReadChunk(job, slot);
    lock.lock();
    ++read_turn_;
    if (failure) failed_ = true;
    changed_.notify_all();

    if (!failure && job.size > 0) {
      lock.unlock();
      failure = CompressChunk(job, slot, compressors);
      lock.lock();
      if (failure) failed_ = true;
    }
    slot.failure = failure;
    slot.ready = true;
    changed_.notify_all();
  }
}

std::exception_ptr CompressionPipeline::ReadChunk(const Job& job, Slot& slot) {
  try {
    if (job.offset == 0) reader_ = inputs_[job.input].open();
    slot.input.resize(job.size);
    if (job.size > 0) reader_(slot.input.data(), job.size);
    if (job.last) reader_ = nullptr;
  } catch (...) {
    reader_ = nullptr;
    return std::current_exception();
  }
  return nullptr;
}

std::exception_ptr CompressionPipeline::CompressChunk(const Job& job, Slot& slot,
                                                      Compressors& compressors) {
  try {
    std::unique_ptr<ChunkCompressor>& compressor =
        inputs_[job.input].compression == Compression::kFast ? compressors.fast : compressors.best;
    if (!compressor) compressor = std::make_unique<ChunkCompressor>(inputs_[job.input].compression);
    slot.output.clear();
    compressor->AppendChunk(slot.input, slot.output);
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

void CompressionPipeline::WriteInput(size_t input, const Payload::Emit& emit) {
  emit(ContentsHeader(inputs_[input].size));
  for (size_t index = first_job_[input]; index < first_job_[input + 1]; ++index) {
    Slot& slot = slots_[index % slots_.size()];
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return slot.ready; });
      if (slot.failure) std::rethrow_exception(slot.failure);
    }
    // The slot is this job's until the count of written jobs passes it.
    if (jobs_[index].size > 0) emit(slot.output);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      slot.ready = false;
      ++written_jobs_;
    }
    changed_.notify_all();
  }
}

Payload CompressionPipeline::NextContents() {
  const size_t input = next_input_++;
  return Payload([this, input](const Payload::Emit& emit) { WriteInput(input, emit); });
}

}  // namespace writer
