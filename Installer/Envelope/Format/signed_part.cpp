#include "signed_part.h"

#include <cstddef>

#include "little_endian.h"

namespace format {

namespace {

// The DOS header begins with "MZ" and holds at 0x3c the file offset of the
// PE signature, "PE\0\0".
constexpr size_t kDosHeaderSize = 64;
constexpr size_t kPeOffsetField = 0x3c;
constexpr uint32_t kPeSignature = 0x00004550;
// The COFF file header follows the signature, the optional header follows
// it and begins with its magic, which tells 32-bit from 64-bit images.
constexpr size_t kPeSignatureSize = 4;
constexpr size_t kCoffHeaderSize = 20;
constexpr size_t kMagicSize = 2;
constexpr uint16_t kPe32Magic = 0x10b;
constexpr uint16_t kPe32PlusMagic = 0x20b;
// Where in the optional header the number of data directories is held; the
// directories (8 bytes each: offset, size) follow that count.
constexpr int64_t kPe32DirectoryCountOffset = 92;
constexpr int64_t kPe32PlusDirectoryCountOffset = 108;
// Where in the optional header the image's checksum is held, in both kinds.
constexpr int64_t kChecksumOffset = 64;
constexpr size_t kDirectoryCountSize = 4;
constexpr size_t kDataDirectorySize = 8;
// The certificate table's entry; unlike the others it holds a file offset,
// not an address in memory.
constexpr uint32_t kCertificateDirectoryIndex = 4;

}  // namespace

ProgramHeaders ReadProgramHeaders(platform::File& file) {
  ProgramHeaders headers;
  unsigned char dos[kDosHeaderSize];
  if (!file.ReadAt(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return headers;
  const int64_t pe = LoadLittleEndian32(dos + kPeOffsetField);
  unsigned char pe_headers[kPeSignatureSize + kCoffHeaderSize + kMagicSize];
  if (!file.ReadAt(pe, pe_headers, sizeof pe_headers) ||
      LoadLittleEndian32(pe_headers) != kPeSignature) {
    return headers;
  }
  headers.is_pe_image = true;

  const uint16_t magic = LoadLittleEndian16(pe_headers + kPeSignatureSize + kCoffHeaderSize);
  if (magic != kPe32Magic && magic != kPe32PlusMagic) return headers;
  const int64_t optional_header = pe + kPeSignatureSize + kCoffHeaderSize;
  headers.checksum_offset = optional_header + kChecksumOffset;
  const int64_t count_offset =
      optional_header +
      (magic == kPe32PlusMagic ? kPe32PlusDirectoryCountOffset : kPe32DirectoryCountOffset);
  unsigned char count[kDirectoryCountSize];
  if (!file.ReadAt(count_offset, count, sizeof count) ||
      LoadLittleEndian32(count) <= kCertificateDirectoryIndex) {
    return headers;
  }
  unsigned char entry[kDataDirectorySize];
  const int64_t entry_offset =
      count_offset + kDirectoryCountSize + kCertificateDirectoryIndex * kDataDirectorySize;
  if (file.ReadAt(entry_offset, entry, sizeof entry)) {
    headers.certificates = {LoadLittleEndian32(entry), LoadLittleEndian32(entry + 4)};
    headers.certificate_entry_offset = entry_offset;
  }
  return headers;
}

bool IsCertificateTableInFile(const CertificateDirectory& entry, int64_t file_size) {
  return entry.size != 0 && int64_t{entry.offset} + entry.size <= file_size;
}

int64_t SignedPartEnd(const ProgramHeaders& headers, int64_t file_size) {
  if (!headers.is_pe_image || !IsCertificateTableInFile(headers.certificates, file_size)) {
    return file_size;
  }
  return headers.certificates.offset;
}

}  // namespace format
