// Decoding the frames of an archive group (see archive_catalog.h): a zstd
// frame, or stored bytes, fed a piece at a time as its record is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "archive_catalog.h"

namespace extraction {

// Where decoded bytes go: the decoder asks for room, fills some of it and
// says how much.
class DecodedOutput {
 public:
  // Room for the next decoded bytes: at least one byte.
  virtual char* Room(size_t& size) = 0;
  // `size` bytes at the start of the last Room were filled. False to stop.
  virtual bool Produced(size_t size) = 0;

 protected:
  ~DecodedOutput() = default;
};

// Decodes one frame at a time, with a window of at most
// 2^format::kMaxFrameWindowLog bytes, so that a frame asking for more is
// damaged rather than a reason to reserve it. Holds zstd's state (the window
// among it) from frame to frame.
class FrameDecoder {
 public:
  FrameDecoder();
  ~FrameDecoder();
  FrameDecoder(const FrameDecoder&) = delete;
  FrameDecoder& operator=(const FrameDecoder&) = delete;

  // Starts a frame of `method` that must decode to exactly `original_size`
  // bytes.
  void Begin(format::FrameMethod method, uint32_t original_size);

  // Decodes the next piece of the frame's record into `output`. False once
  // the frame is found damaged (it decodes to more than declared, breaks
  // zstd's rules, or asks for a larger window) or `output` stopped.
  bool Feed(std::string_view piece, DecodedOutput& output);

  // After the last piece: whether the frame ended exactly where its record
  // does, having decoded to its declared size.
  bool Complete() const;

  // Whether the frame broke a rule (as opposed to the output stopping, or
  // memory running out).
  bool damaged() const { return damaged_; }

  // Whether zstd lacked memory for the frame: a failure of this system, not
  // damage.
  bool out_of_memory() const { return out_of_memory_; }

 private:
  bool Damaged();
  // Whether `result` is zstd's error; marks the frame damaged, or out of
  // memory when that was the error.
  bool Failed(size_t result);
  // Feed for a stored frame: its bytes as they are.
  bool FeedStored(std::string_view piece, DecodedOutput& output);

  void* context_ = nullptr;  // zstd's decoding context, made when first needed
  format::FrameMethod method_ = format::FrameMethod::kStored;
  uint32_t left_ = 0;   // declared bytes not yet decoded
  bool begun_ = false;  // the zstd frame's magic number has been checked
  bool ended_ = false;  // the zstd frame has ended
  bool damaged_ = false;
  bool out_of_memory_ = false;
  bool stopped_ = false;
};

}  // namespace extraction
