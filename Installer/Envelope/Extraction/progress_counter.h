// How far an extraction has read: the reader shows its progress with it.
#pragma once

#include <cstdint>

namespace extraction {

// Told how many bytes of the envelope an extraction has read, as it reads
// them.
class ProgressCounter {
 public:
  virtual void Advance(int64_t bytes) = 0;

 protected:
  ~ProgressCounter() = default;
};

}  // namespace extraction
