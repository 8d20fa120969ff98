// Fixed-size unsigned numbers stored lowest byte first, as the envelope's
// length fields, MD5's words and the headers of Windows program files hold
// them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace format {

constexpr uint16_t LoadLittleEndian16(const unsigned char* bytes) {
  return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

// Written out byte by byte so that compilers turn it into one load.
constexpr uint32_t LoadLittleEndian32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

constexpr uint64_t LoadLittleEndian64(const unsigned char* bytes) {
  return static_cast<uint64_t>(LoadLittleEndian32(bytes)) |
         static_cast<uint64_t>(LoadLittleEndian32(bytes + 4)) << 32;
}

// Stores the lowest `size` bytes of `value` at `out`, lowest first.
constexpr void StoreLittleEndian(unsigned char* out, uint64_t value, size_t size) {
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Appends the 4 bytes of `value`, lowest first.
inline void AppendLittleEndian32(std::string& out, uint32_t value) {
  unsigned char bytes[4];
  StoreLittleEndian(bytes, value, sizeof bytes);
  out.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

// Appends the 8 bytes of `value`, lowest first.
inline void AppendLittleEndian64(std::string& out, uint64_t value) {
  unsigned char bytes[8];
  StoreLittleEndian(bytes, value, sizeof bytes);
  out.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

}  // namespace format
