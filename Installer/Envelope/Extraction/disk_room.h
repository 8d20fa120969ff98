// The room a disk has for the files extracted onto it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace extraction {

// The room the disk of one directory has for the files extracted into it.
// The system is asked at first, and again only when what it said last, less
// every size counted since, would not hold the next file: a refusal is
// always the system's word of the moment, and a file that fits well costs
// no system call. Not for use from several threads.
class DiskRoom {
 public:
  explicit DiskRoom(std::string directory) : directory_(std::move(directory)) {}

  // Whether the disk has room for a file of `size` bytes beside the
  // `unwritten` bytes the decoding threads have yet to write (true when the
  // system cannot tell); the size counts as taken from then on.
  bool Take(uint64_t size, uint64_t unwritten);

  // `size` bytes were written without asking first (a plain file).
  void Spend(uint64_t size);

 private:
  std::string directory_;
  bool known_ = false;
  uint64_t left_ = 0;  // the free bytes last seen, less every size counted since
};

}  // namespace extraction
