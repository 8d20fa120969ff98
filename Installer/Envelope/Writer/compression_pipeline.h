// Compressing many files on several threads while their contents are
// written: the chunks of all the files form one queue of jobs, so that every
// thread stays busy whether a pack holds one large file or thousands of small
// ones.
//
// The files are read in order, one chunk at a time, by whichever thread
// takes the chunk (reads never overlap, and each file is opened just before
// its first chunk and closed after its last, so that only one input is open
// at a time); the chunks are compressed in parallel, and the writer takes
// each file's contents (compressed_contents.h) in order. At most a fixed
// number of chunks are read but not yet written, so memory stays bounded
// however far the threads could run ahead. The bytes depend only on the
// files and their levels, never on the number of threads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "chunk_compression.h"
#include "envelope_writer.h"

namespace writer {

// Reads the next `size` bytes of an opened input into `buffer`, filling it
// exactly, or throws.
using ReadNext = std::function<void(char* buffer, size_t size)>;

// One file to compress.
struct CompressionInput {
  uint64_t size = 0;                             // its bytes
  Compression compression = Compression::kBest;  // kFast or kBest
  // Opens it for reading from its start (throwing when it cannot, or when it
  // is no longer `size` bytes long) and returns its reader. Called on one of
  // the pipeline's threads, once, before the file's first chunk (also for an
  // empty file); the reader is dropped, closing what it holds, after its
  // last chunk.
  std::function<ReadNext()> open;
};

class CompressionPipeline {
 public:
  // Starts `threads` threads (at least 1) compressing `inputs`, which are
  // then written in their order, each through Contents.
  CompressionPipeline(std::vector<CompressionInput> inputs, unsigned threads);
  // Stops the threads, whether or not every file was written.
  ~CompressionPipeline();
  CompressionPipeline(const CompressionPipeline&) = delete;
  CompressionPipeline& operator=(const CompressionPipeline&) = delete;

  // The contents record of the next input (the first call: input 0, then 1,
  // and so on), for EnvelopeWriter::AddCompressedFileGroup: its header, then
  // its chunks as the threads finish them. Writing it rethrows what opening,
  // reading or compressing that input threw. The payload is to be written
  // once, before the next call.
  Payload NextContents();

  // The threads to use on this machine: one per processor this process may
  // run on (platform::ProcessorCount), at least one.
  static unsigned DefaultThreads();

 private:
  // One chunk of one input (or, for an empty input, its opening alone).
  struct Job {
    size_t input = 0;
    uint64_t offset = 0;
    size_t size = 0;
    bool last = false;  // the input's last job: its reader is dropped after it
  };
  // Where a job's bytes stay from reading until written.
  struct Slot {
    std::string input;
    std::string output;
    std::exception_ptr failure;
    bool ready = false;
  };

  // A thread's compressors, one per level, made when first needed.
  struct Compressors {
    std::unique_ptr<ChunkCompressor> fast, best;
  };

  // Ends the threads once their current chunks are done.
  void Stop();
  // A thread's loop: takes the next job, reads its chunk in its turn,
  // compresses it into its slot.
  void Work();
  // Reads `job`'s chunk into `slot`, in its read turn and without the lock,
  // opening its input at its first chunk; what reading threw, if anything.
  std::exception_ptr ReadChunk(const Job& job, Slot& slot);
  // Compresses `slot`'s chunk at its input's level into the slot, without
  // the lock; what compressing threw, if anything.
  std::exception_ptr CompressChunk(const Job& job, Slot& slot, Compressors& compressors);
  // Hands input `input`'s contents to `emit` as its jobs finish.
  void WriteInput(size_t input, const Payload::Emit& emit);

  std::vector<CompressionInput> inputs_;
  std::vector<Job> jobs_;
  std::vector<size_t> first_job_;  // per input, and one past the last input
  std::vector<Slot> slots_;        // job i uses slot i % size

  std::mutex mutex_;
  std::condition_variable changed_;
  size_t next_job_ = 0;      // the next job a thread takes
  size_t read_turn_ = 0;     // the job whose input may be read now
  size_t written_jobs_ = 0;  // jobs whose bytes the writer has taken
  size_t next_input_ = 0;    // the input NextContents hands out next
  bool stopping_ = false;
  bool failed_ = false;  // a job failed: no further jobs are started
  ReadNext reader_;      // the input being read; used only in its read turn

  std::vector<std::thread> threads_;
};

}  // namespace writer
