#include "windows_program.h"

#include <cstdint>

#include "little_endian.h"

namespace tool {

namespace {

// The DOS header: "MZ", and at 0x3c the offset of the PE signature.
constexpr size_t kDosHeaderSize = 64;
constexpr size_t kPeOffsetField = 0x3c;
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
// The COFF file header follows the signature; the optional header follows it
// and begins with its magic, which tells 32-bit from 64-bit programs.
constexpr size_t kPeSignatureSize = 4;
constexpr size_t kCoffHeaderSize = 20;
constexpr uint16_t kPe32Magic = 0x10b;
constexpr uint16_t kPe32PlusMagic = 0x20b;
// Where the optional header holds the number of data directories; the
// directories (8 bytes each: offset, size) follow that count.
constexpr int64_t kPe32DirectoryCountOffset = 92;
constexpr int64_t kPe32PlusDirectoryCountOffset = 108;
constexpr size_t kDataDirectorySize = 8;
constexpr uint32_t kCertificateDirectory = 4;

// Reads `size` bytes at `offset` from the start of the file.
bool ReadAt(platform::File& file, int64_t offset, unsigned char* buffer, size_t size) {
  return file.Seek(offset - file.Position()) && file.Read(buffer, size);
}

}  // namespace

WindowsProgramFacts InspectWindowsProgram(platform::File& file) {
  WindowsProgramFacts facts;
  unsigned char dos[kDosHeaderSize];
  if (ReadAt(file, 0, dos, sizeof dos) && dos[0] == 'M' && dos[1] == 'Z') {
    const int64_t pe = format::LoadLittleEndian32(dos + kPeOffsetField);
    unsigned char headers[kPeSignatureSize + kCoffHeaderSize + 2];
    if (ReadAt(file, pe, headers, sizeof headers) &&
        format::LoadLittleEndian32(headers) == kPeSignature) {
      facts.is_windows_program = true;
      const uint16_t magic =
          format::LoadLittleEndian16(headers + kPeSignatureSize + kCoffHeaderSize);
      const int64_t optional = pe + kPeSignatureSize + kCoffHeaderSize;
      const int64_t count_offset =
          optional +
          (magic == kPe32PlusMagic ? kPe32PlusDirectoryCountOffset : kPe32DirectoryCountOffset);
      unsigned char count[4];
      unsigned char certificates[kDataDirectorySize];
      if ((magic == kPe32Magic || magic == kPe32PlusMagic) &&
          ReadAt(file, count_offset, count, sizeof count) &&
          format::LoadLittleEndian32(count) > kCertificateDirectory &&
          ReadAt(file, count_offset + 4 + kCertificateDirectory * kDataDirectorySize, certificates,
                 sizeof certificates)) {
        facts.has_signature = format::LoadLittleEndian32(certificates + 4) != 0;
      }
    }
  }
  file.Seek(-file.Position());
  return facts;
}

}  // namespace tool
