#include "disk_room.h"

#include "platform_files.h"

namespace extraction {

namespace {

// A file takes whole blocks of the disk: a size is counted rounded up to
// this, the usual block, so that many small files do not make the room
// counted larger than the room there is.
constexpr uint64_t kCountedBlockSize = 4096;

uint64_t CountedSize(uint64_t size) {
  return size > UINT64_MAX - kCountedBlockSize
             ? UINT64_MAX
             : (size + kCountedBlockSize - 1) / kCountedBlockSize * kCountedBlockSize;
}

}  // namespace

bool DiskRoom::Take(uint64_t size, uint64_t unwritten) {
  if (!known_ || left_ < CountedSize(size)) {
    uint64_t free_bytes = 0;
    known_ = platform::FreeDiskSpace(directory_, free_bytes);
    if (!known_) return true;
    // What the threads have yet to write is not yet missing from the disk.
    left_ = free_bytes > unwritten ? free_bytes - unwritten : 0;
    if (left_ < size) return false;
  }
  Spend(size);
  return true;
}

void DiskRoom::Spend(uint64_t size) {
  const uint64_t counted = CountedSize(size);
  left_ = left_ > counted ? left_ - counted : 0;
}

}  // namespace extraction
