#include "frame_decoder.h"

#include <algorithm>
#include <cstring>

#include <zstd.h>
#include <zstd_errors.h>

namespace extraction {

namespace {

ZSTD_DCtx* Context(void* context) { return static_cast<ZSTD_DCtx*>(context); }

// ZSTD_MAGICNUMBER, 0xFD2FB528, as a frame stores it: little-endian.
constexpr char kZstdMagic[] = {'\x28', '\xB5', '\x2F', '\xFD'};
static_assert(ZSTD_MAGICNUMBER == 0xFD2FB528);

}  // namespace

FrameDecoder::FrameDecoder() = default;

FrameDecoder::~FrameDecoder() { ZSTD_freeDCtx(Context(context_)); }

void FrameDecoder::Begin(format::FrameMethod method, uint32_t original_size) {
  method_ = method;
  left_ = original_size;
  ended_ = damaged_ = out_of_memory_ = stopped_ = begun_ = false;
  if (method_ != format::FrameMethod::kZstd) return;
  if (context_ == nullptr) {
    context_ = ZSTD_createDCtx();
    if (context_ == nullptr ||
        ZSTD_isError(ZSTD_DCtx_setParameter(Context(context_), ZSTD_d_windowLogMax,
                                            format::kMaxFrameWindowLog))) {
      out_of_memory_ = stopped_ = true;
      return;
    }
  }
  ZSTD_DCtx_reset(Context(context_), ZSTD_reset_session_only);
}

bool FrameDecoder::Damaged() {
  damaged_ = true;
  return false;
}

bool FrameDecoder::Failed(size_t result) {
  if (!ZSTD_isError(result)) return false;
  if (ZSTD_getErrorCode(result) == ZSTD_error_memory_allocation) {
    out_of_memory_ = stopped_ = true;
  } else {
    damaged_ = true;
  }
  return true;
}

bool FrameDecoder::Feed(std::string_view piece, DecodedOutput& output) {
  if (damaged_ || stopped_) return false;
  if (method_ == format::FrameMethod::kStored) return FeedStored(piece, output);
  // A zstd frame begins with zstd's magic number: the frames of earlier zstd
  // versions, and skippable frames, which a zstd library may also take, are
  // no archive frames, on every system alike.
  if (!begun_ && !piece.starts_with(std::string_view(kZstdMagic, sizeof kZstdMagic))) {
    return Damaged();
  }
  begun_ = true;
  if (context_ == nullptr) return false;
  ZSTD_inBuffer in = {piece.data(), piece.size(), 0};
  while (in.pos < in.size) {
    // Bytes after the frame's end are no part of it.
    if (ended_) return Damaged();
    size_t room = 0;
    char* out = output.Room(room);
    // One byte more than is left lets a frame that decodes to more show it.
    ZSTD_outBuffer decoded = {out, std::min<size_t>(room, size_t{left_} + 1), 0};
    const size_t result = ZSTD_decompressStream(Context(context_), &decoded, &in);
    if (Failed(result)) return false;
    if (decoded.pos > left_) return Damaged();
    left_ -= static_cast<uint32_t>(decoded.pos);
    ended_ = result == 0;
    if (decoded.pos > 0 && !output.Produced(decoded.pos)) return !(stopped_ = true);
  }
  // A frame whose last block is in may still hold decoded bytes back.
  while (!ended_ && left_ > 0) {
    size_t room = 0;
    char* out = output.Room(room);
    ZSTD_outBuffer decoded = {out, std::min<size_t>(room, size_t{left_} + 1), 0};
    const size_t result = ZSTD_decompressStream(Context(context_), &decoded, &in);
    if (Failed(result)) return false;
    if (decoded.pos > left_) return Damaged();
    left_ -= static_cast<uint32_t>(decoded.pos);
    ended_ = result == 0;
    if (decoded.pos == 0) break;  // needs more input
    if (!output.Produced(decoded.pos)) return !(stopped_ = true);
  }
  return true;
}

bool FrameDecoder::FeedStored(std::string_view piece, DecodedOutput& output) {
  if (piece.size() > left_) return Damaged();
  while (!piece.empty()) {
    size_t room = 0;
    char* out = output.Room(room);
    const size_t size = std::min(room, piece.size());
    std::memcpy(out, piece.data(), size);
    left_ -= static_cast<uint32_t>(size);
    piece.remove_prefix(size);
    if (!output.Produced(size)) return !(stopped_ = true);
  }
  return true;
}

bool FrameDecoder::Complete() const {
  if (damaged_ || stopped_ || left_ != 0) return false;
  return method_ == format::FrameMethod::kStored || ended_;
}

}  // namespace extraction
