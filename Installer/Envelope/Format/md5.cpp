#include "md5.h"

#include <cstring>

#include "little_endian.h"

namespace format {
namespace {

inline uint32_t RotateLeft(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

// The four auxiliary functions of RFC 1321, written so that compilers can use
// fewer operations than the textbook forms.
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return y ^ (z & (x ^ y)); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

// One step: a = b + ((a + Round(b, c, d) + x + t) <<< s). The word and the
// constant are added first, as they do not wait for the previous step.
template <uint32_t (*Round)(uint32_t, uint32_t, uint32_t)>
inline void Step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t, int s) {
  a += x + t;
  a += Round(b, c, d);
  a = b + RotateLeft(a, s);
}

// G's two terms never share a set bit, so they can be added one by one,
// each as soon as its inputs are ready, instead of being combined first.
template <>
inline void Step<G>(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t,
                    int s) {
  a += x + t;
  a += ~d & c;
  a += d & b;
  a = b + RotateLeft(a, s);
}

}  // namespace

void Md5Hasher::Transform(const unsigned char* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLittleEndian32(block + 4 * i);
  uint32_t a = a_, b = b_, c = c_, d = d_;

  Step<F>(a, b, c, d, x[0], 0xd76aa478, 7);
  Step<F>(d, a, b, c, x[1], 0xe8c7b756, 12);
  Step<F>(c, d, a, b, x[2], 0x242070db, 17);
  Step<F>(b, c, d, a, x[3], 0xc1bdceee, 22);
  Step<F>(a, b, c, d, x[4], 0xf57c0faf, 7);
  Step<F>(d, a, b, c, x[5], 0x4787c62a, 12);
  Step<F>(c, d, a, b, x[6], 0xa8304613, 17);
  Step<F>(b, c, d, a, x[7], 0xfd469501, 22);
  Step<F>(a, b, c, d, x[8], 0x698098d8, 7);
  Step<F>(d, a, b, c, x[9], 0x8b44f7af, 12);
  Step<F>(c, d, a, b, x[10], 0xffff5bb1, 17);
  Step<F>(b, c, d, a, x[11], 0x895cd7be, 22);
  Step<F>(a, b, c, d, x[12], 0x6b901122, 7);
  Step<F>(d, a, b, c, x[13], 0xfd987193, 12);
  Step<F>(c, d, a, b, x[14], 0xa679438e, 17);
  Step<F>(b, c, d, a, x[15], 0x49b40821, 22);

  Step<G>(a, b, c, d, x[1], 0xf61e2562, 5);
  Step<G>(d, a, b, c, x[6], 0xc040b340, 9);
  Step<G>(c, d, a, b, x[11], 0x265e5a51, 14);
  Step<G>(b, c, d, a, x[0], 0xe9b6c7aa, 20);
  Step<G>(a, b, c, d, x[5], 0xd62f105d, 5);
  Step<G>(d, a, b, c, x[10], 0x02441453, 9);
  Step<G>(c, d, a, b, x[15], 0xd8a1e681, 14);
  Step<G>(b, c, d, a, x[4], 0xe7d3fbc8, 20);
  Step<G>(a, b, c, d, x[9], 0x21e1cde6, 5);
  Step<G>(d, a, b, c, x[14], 0xc33707d6, 9);
  Step<G>(c, d, a, b, x[3], 0xf4d50d87, 14);
  Step<G>(b, c, d, a, x[8], 0x455a14ed, 20);
  Step<G>(a, b, c, d, x[13], 0xa9e3e905, 5);
  Step<G>(d, a, b, c, x[2], 0xfcefa3f8, 9);
  Step<G>(c, d, a, b, x[7], 0x676f02d9, 14);
  Step<G>(b, c, d, a, x[12], 0x8d2a4c8a, 20);

  Step<H>(a, b, c, d, x[5], 0xfffa3942, 4);
  Step<H>(d, a, b, c, x[8], 0x8771f681, 11);
  Step<H>(c, d, a, b, x[11], 0x6d9d6122, 16);
  Step<H>(b, c, d, a, x[14], 0xfde5380c, 23);
  Step<H>(a, b, c, d, x[1], 0xa4beea44, 4);
  Step<H>(d, a, b, c, x[4], 0x4bdecfa9, 11);
  Step<H>(c, d, a, b, x[7], 0xf6bb4b60, 16);
  Step<H>(b, c, d, a, x[10], 0xbebfbc70, 23);
  Step<H>(a, b, c, d, x[13], 0x289b7ec6, 4);
  Step<H>(d, a, b, c, x[0], 0xeaa127fa, 11);
  Step<H>(c, d, a, b, x[3], 0xd4ef3085, 16);
  Step<H>(b, c, d, a, x[6], 0x04881d05, 23);
  Step<H>(a, b, c, d, x[9], 0xd9d4d039, 4);
  Step<H>(d, a, b, c, x[12], 0xe6db99e5, 11);
  Step<H>(c, d, a, b, x[15], 0x1fa27cf8, 16);
  Step<H>(b, c, d, a, x[2], 0xc4ac5665, 23);

  Step<I>(a, b, c, d, x[0], 0xf4292244, 6);
  Step<I>(d, a, b, c, x[7], 0x432aff97, 10);
  Step<I>(c, d, a, b, x[14], 0xab9423a7, 15);
  Step<I>(b, c, d, a, x[5], 0xfc93a039, 21);
  Step<I>(a, b, c, d, x[12], 0x655b59c3, 6);
  Step<I>(d, a, b, c, x[3], 0x8f0ccc92, 10);
  Step<I>(c, d, a, b, x[10], 0xffeff47d, 15);
  Step<I>(b, c, d, a, x[1], 0x85845dd1, 21);
  Step<I>(a, b, c, d, x[8], 0x6fa87e4f, 6);
  Step<I>(d, a, b, c, x[15], 0xfe2ce6e0, 10);
  Step<I>(c, d, a, b, x[6], 0xa3014314, 15);
  Step<I>(b, c, d, a, x[13], 0x4e0811a1, 21);
  Step<I>(a, b, c, d, x[4], 0xf7537e82, 6);
  Step<I>(d, a, b, c, x[11], 0xbd3af235, 10);
  Step<I>(c, d, a, b, x[2], 0x2ad7d2bb, 15);
  Step<I>(b, c, d, a, x[9], 0xeb86d391, 21);

  a_ += a;
  b_ += b;
  c_ += c;
  d_ += d;
}

void Md5Hasher::Update(std::string_view data) {
  bit_count_ += static_cast<uint64_t>(data.size()) * 8;
  auto input = reinterpret_cast<const unsigned char*>(data.data());
  size_t size = data.size();

  if (pending_size_ > 0) {
    const size_t take = size < 64 - pending_size_ ? size : 64 - pending_size_;
    std::memcpy(pending_ + pending_size_, input, take);
    pending_size_ += take;
    input += take;
    size -= take;
    if (pending_size_ < 64) return;
    Transform(pending_);
    pending_size_ = 0;
  }
  for (; size >= 64; input += 64, size -= 64) Transform(input);
  if (size > 0) std::memcpy(pending_, input, size);
  pending_size_ = size;
}

void Md5Hasher::Finalise() {
  if (finalised_) return;
  finalised_ = true;
  // 0x80, zeros up to 56 bytes into a block, then the bit count before
  // padding, lowest byte first. Update would count the padding, so keep the
  // count aside and put it back.
  const uint64_t bit_count = bit_count_;
  unsigned char padding[72] = {0x80};
  const size_t used = static_cast<size_t>((bit_count / 8) % 64);
  const size_t zeros = used < 56 ? 55 - used : 119 - used;
  StoreLittleEndian(padding + 1 + zeros, bit_count, 8);
  Update(std::string_view(reinterpret_cast<const char*>(padding), 1 + zeros + 8));
  bit_count_ = bit_count;
}

std::string Md5Hasher::Digest() {
  Finalise();
  std::string digest;
  for (const uint32_t word : {a_, b_, c_, d_}) AppendLittleEndian32(digest, word);
  return digest;
}

}  // namespace format
