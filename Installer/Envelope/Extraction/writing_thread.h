// Writing a large file on a helper thread, beside the reading and hashing of
// its next chunk, so that extracting it costs about the longer of the two and
// not their sum.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "platform_files.h"
#include "record.h"
#include "worker.h"

namespace extraction {

// One write in flight at a time, from a buffer of the thread's own: Write
// returns as soon as the chunk is copied there, and the caller may reuse its
// own memory at once. Where no thread can be had, each chunk is written
// before Write returns. Not for use from several threads.
class WritingThread {
 public:
  WritingThread() = default;
  ~WritingThread() = default;  // waits for the write in flight, ends the thread
  WritingThread(const WritingThread&) = delete;
  WritingThread& operator=(const WritingThread&) = delete;

  // Waits for the write in flight, then starts writing `chunk` (at most
  // `capacity` bytes) to `file`, which must stay open until Finish. False,
  // with `error` set to the system's error code, when the write in flight
  // failed (this chunk is then not written) or this one could not be
  // written at once.
  bool Write(platform::File& file, std::string_view chunk, int& error);

  // Waits for the write in flight, if any. False, with `error` set, when it
  // failed.
  bool Finish(int& error);

  // The largest chunk Write takes.
  static constexpr size_t kCapacity = format::kPayloadChunkSize;

 private:
  static void WriteBuffer(void* self);

  bool started_ = false;
  std::unique_ptr<char[]> buffer_;
  // Handed to the worker with the job.
  platform::File* file_ = nullptr;
  size_t size_ = 0;
  int error_ = 0;
  Worker worker_;  // last: it ends, and the write in flight with it, first
};

}  // namespace extraction
