// MD5 message digest (RFC 1321), used to verify every envelope record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace format {

class Md5Hasher {
 public:
  static constexpr size_t kDigestSize = 16;

  Md5Hasher() = default;
  // Starts over `data`; more may be added with Update.
  explicit Md5Hasher(std::string_view data) { Update(data); }

  // Adds bytes to the message. Whole 64-byte blocks are hashed straight from
  // `data`; only a remainder shorter than a block is kept.
  void Update(std::string_view data);

  // Appends the padding and the message length; later calls do nothing.
  void Finalise();

  // The 16 raw digest bytes in standard MD5 order. Finalises first, so asking
  // twice gives the same digest.
  std::string Digest();

 private:
  void Transform(const unsigned char* block);

  uint32_t a_ = 0x67452301;
  uint32_t b_ = 0xefcdab89;
  uint32_t c_ = 0x98badcfe;
  uint32_t d_ = 0x10325476;
  uint64_t bit_count_ = 0;
  bool finalised_ = false;
  unsigned char pending_[64] = {};
  size_t pending_size_ = 0;
};

}  // namespace format
