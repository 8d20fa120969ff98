// Reading a file from a position towards its start through a window of it
// held in memory, so that the small records of an envelope cost no system
// call each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform_files.h"

namespace format {

// The window's size: the bytes one positioned read fetches.
inline constexpr size_t kReadWindowSize = 1024 * 1024;

// Window edges fall on multiples of this (pages, disk blocks), as far as
// the reader's limit allows.
inline constexpr size_t kReadWindowAlignment = 4096;

// A file read backwards, from a starting position down. It keeps its own
// position and never moves the file's (see SyncFile). Reads below the
// starting position are served from a window of up to kReadWindowSize bytes
// that ends just above them and reaches down as far as it can, so the
// records that follow them in reading order come from memory; above the
// starting position it reads exactly what is asked.
class BackwardReader {
 public:
  // Reads `file` from its current position.
  explicit BackwardReader(platform::File& file);

  BackwardReader(const BackwardReader&) = delete;
  BackwardReader& operator=(const BackwardReader&) = delete;

  // The current position, or -1 when the file's could not be told.
  int64_t Position() const { return position_; }

  // Moves the position by `distance` bytes, reading nothing; fails (position
  // unchanged) when the result would lie before the start of the file.
  bool Seek(int64_t distance);

  // Reads exactly `size` bytes at the position and moves past them: from the
  // window, refilled around them with one positioned read when they are not
  // all in it, or, when they are more than a window holds, straight into
  // `buffer`. A short read is a failure.
  bool Read(void* buffer, size_t size);

  // The `size` bytes at `offset` (at most kReadWindowSize), valid until the
  // next read; nullptr on a read failure. The position does not move.
  const char* View(int64_t offset, size_t size);

  // Moves the file's own position to this reader's.
  bool SyncFile();

 private:
  // Fills the window so that it holds [offset, offset + size).
  bool Fill(int64_t offset, size_t size);

  platform::File& file_;
  int64_t position_;
  int64_t limit_;                   // the starting position: the window never reaches above it
  std::unique_ptr<char[]> window_;  // allocated at the first fill
  int64_t window_start_ = 0;
  size_t window_size_ = 0;
};

}  // namespace format
