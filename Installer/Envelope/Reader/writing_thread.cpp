#include "writing_thread.h"

#include <cstring>

namespace reader {

WritingThread::~WritingThread() {
  if (!started_) return;
  int ignored = 0;
  Finish(ignored);
  stopping_ = true;
  work_ready_.Post();
  thread_.Join();
}

bool WritingThread::Write(platform::File& file, std::string_view chunk, int& error) {
  if (!Finish(error)) return false;
  if (!started_ && chunk.size() <= kCapacity && work_ready_.IsUsable() && work_done_.IsUsable()) {
    buffer_ = std::make_unique<char[]>(kCapacity);
    started_ = thread_.Start(Serve, this);
  }
  if (!started_ || chunk.size() > kCapacity) {
    if (file.Write(chunk.data(), chunk.size())) return true;
    error = platform::LastErrorCode();
    return false;
  }
  std::memcpy(buffer_.get(), chunk.data(), chunk.size());
  file_ = &file;
  size_ = chunk.size();
  in_flight_ = true;
  work_ready_.Post();
  return true;
}

bool WritingThread::Finish(int& error) {
  if (in_flight_) {
    work_done_.Wait();
    in_flight_ = false;
  }
  if (error_ == 0) return true;
  error = error_;
  error_ = 0;
  return false;
}

void WritingThread::Serve(void* self) {
  auto& thread = *static_cast<WritingThread*>(self);
  for (;;) {
    thread.work_ready_.Wait();
    if (thread.stopping_) return;
    if (!thread.file_->Write(thread.buffer_.get(), thread.size_)) {
      thread.error_ = platform::LastErrorCode();
    }
    thread.work_done_.Post();
  }
}

}  // namespace reader
