#include "writing_thread.h"

#include <cstring>

namespace extraction {

bool WritingThread::Write(platform::File& file, std::string_view chunk, int& error) {
  if (!Finish(error)) return false;
  if (!started_ && chunk.size() <= kCapacity) {
    buffer_ = std::make_unique<char[]>(kCapacity);
    started_ = worker_.Start(WriteBuffer, this);
  }
  if (!started_ || chunk.size() > kCapacity) {
    if (file.Write(chunk.data(), chunk.size())) return true;
    error = platform::LastErrorCode();
    return false;
  }
  std::memcpy(buffer_.get(), chunk.data(), chunk.size());
  file_ = &file;
  size_ = chunk.size();
  worker_.Post();
  return true;
}

bool WritingThread::Finish(int& error) {
  worker_.Wait();
  if (error_ == 0) return true;
  error = error_;
  error_ = 0;
  return false;
}

void WritingThread::WriteBuffer(void* self) {
  auto& thread = *static_cast<WritingThread*>(self);
  if (!thread.file_->Write(thread.buffer_.get(), thread.size_)) {
    thread.error_ = platform::LastErrorCode();
  }
}

}  // namespace extraction
