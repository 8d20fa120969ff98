#include "backward_reader.h"

#include <algorithm>
#include <cstring>

namespace format {

namespace {

constexpr int64_t kAlignment = static_cast<int64_t>(kReadWindowAlignment);
constexpr int64_t kWindow = static_cast<int64_t>(kReadWindowSize);
// The window may spread past kReadWindowSize by its two alignment margins.
constexpr size_t kWindowCapacity = kReadWindowSize + 2 * kReadWindowAlignment;

int64_t AlignDown(int64_t offset) { return offset - offset % kAlignment; }

}  // namespace

BackwardReader::BackwardReader(platform::File& file)
    : file_(file), position_(file.Position()), limit_(position_) {}

bool BackwardReader::Seek(int64_t distance) {
  if (position_ < 0 || distance < -position_) return false;
  position_ += distance;
  return true;
}

bool BackwardReader::Read(void* buffer, size_t size) {
  if (position_ < 0) return false;
  if (size > kReadWindowSize) {
    if (!file_.ReadAt(position_, buffer, size)) return false;
  } else {
    const char* bytes = View(position_, size);
    if (bytes == nullptr) return false;
    if (size > 0) std::memcpy(buffer, bytes, size);
  }
  position_ += static_cast<int64_t>(size);
  return true;
}

const char* BackwardReader::View(int64_t offset, size_t size) {
  if (offset < 0 || size > kReadWindowSize) return nullptr;
  static const char kNothing = 0;
  if (size == 0) return &kNothing;
  const int64_t end = offset + static_cast<int64_t>(size);
  if (window_ != nullptr && offset >= window_start_ &&
      end <= window_start_ + static_cast<int64_t>(window_size_)) {
    return window_.get() + (offset - window_start_);
  }
  if (!Fill(offset, size)) return nullptr;
  return window_.get() + (offset - window_start_);
}

bool BackwardReader::Fill(int64_t offset, size_t size) {
  if (window_ == nullptr) window_ = std::make_unique<char[]>(kWindowCapacity);
  // Up to the next aligned offset, but never past the limit (the file may
  // end there); down as far as the window reaches, to an aligned offset.
  int64_t end = offset + static_cast<int64_t>(size);
  if (end < limit_) end = std::min(limit_, (end + kAlignment - 1) / kAlignment * kAlignment);
  const int64_t start = std::min(AlignDown(std::max<int64_t>(0, end - kWindow)), AlignDown(offset));
  window_start_ = start;
  window_size_ = static_cast<size_t>(end - start);
  if (!file_.ReadAt(start, window_.get(), window_size_)) {
    window_size_ = 0;
    return false;
  }
  return true;
}

bool BackwardReader::SyncFile() {
  const int64_t current = file_.Position();
  return position_ >= 0 && current >= 0 && file_.Seek(position_ - current);
}

}  // namespace format
