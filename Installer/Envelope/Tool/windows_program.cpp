#include "windows_program.h"

#include <algorithm>

#include "little_endian.h"

namespace tool {

namespace {

// A certificate table entry (WIN_CERTIFICATE): its length, this header
// included (4 bytes), a revision (2) and a type (2), then the certificate.
// Entries start at multiples of 8 bytes.
constexpr uint32_t kCertificateHeaderSize = 8;
constexpr uint16_t kCertificateTypePkcsSignedData = 0x0002;
constexpr int64_t kCertificateAlignment = 8;

// A DER SEQUENCE: its tag, then its length, in one byte below 0x80, or as
// 0x80 + n followed by n bytes, most significant first.
constexpr unsigned char kDerSequenceTag = 0x30;
constexpr unsigned char kDerLongLengthFlag = 0x80;
constexpr size_t kDerLongestLengthBytes = 4;

int64_t AlignUp(int64_t value) {
  return (value + kCertificateAlignment - 1) / kCertificateAlignment * kCertificateAlignment;
}

// The length of the DER value that starts at `offset` with its tag and
// length bytes; -1 when it is no SEQUENCE of definite length.
int64_t DerSequenceLength(platform::File& file, int64_t offset) {
  unsigned char header[2 + kDerLongestLengthBytes];
  if (!file.ReadAt(offset, header, 2) || header[0] != kDerSequenceTag) return -1;
  if ((header[1] & kDerLongLengthFlag) == 0) return 2 + int64_t{header[1]};
  const size_t count = header[1] & ~kDerLongLengthFlag;
  if (count == 0 || count > kDerLongestLengthBytes || !file.ReadAt(offset + 2, header + 2, count)) {
    return -1;
  }
  int64_t length = 0;
  for (size_t i = 0; i < count; ++i) length = length << 8 | header[2 + i];
  return 2 + static_cast<int64_t>(count) + length;
}

// The bytes the table's first entry needs for its signature: its header and
// the DER encoding of the PKCS#7 signed data that follows; -1 when the entry
// holds no such signature or its length cannot be told.
int64_t SignatureLength(platform::File& file, int64_t offset, int64_t table_size) {
  unsigned char header[kCertificateHeaderSize];
  if (table_size < kCertificateHeaderSize || !file.ReadAt(offset, header, sizeof header)) return -1;
  const uint32_t stated = format::LoadLittleEndian32(header);
  if (stated < kCertificateHeaderSize || stated > table_size ||
      format::LoadLittleEndian16(header + 6) != kCertificateTypePkcsSignedData) {
    return -1;
  }
  const int64_t signature = DerSequenceLength(file, offset + kCertificateHeaderSize);
  if (signature < 0 || kCertificateHeaderSize + signature > stated) return -1;
  return kCertificateHeaderSize + signature;
}

}  // namespace

WindowsProgramFacts InspectWindowsProgram(platform::File& file) {
  const format::ProgramHeaders headers = format::ReadProgramHeaders(file);
  file.Seek(-file.Position());
  return {headers.is_pe_image, headers.certificates.size != 0, headers.certificates};
}

CertificateTableFacts InspectCertificateTable(platform::File& file,
                                              const format::CertificateDirectory& entry,
                                              int64_t file_size) {
  CertificateTableFacts facts;
  facts.entry = entry;
  facts.in_file = format::IsCertificateTableInFile(entry, file_size);
  if (!facts.in_file) return facts;
  const int64_t end = int64_t{entry.offset} + entry.size;
  facts.bytes_after = file_size - end;

  // Windows checks the first entry's signature only; anything in the table
  // past it and its alignment, further entries included, is covered by none.
  const int64_t signature = SignatureLength(file, entry.offset, entry.size);
  if (signature < 0) return facts;
  facts.signature_readable = true;
  facts.bytes_beyond_signature = std::max<int64_t>(0, entry.size - AlignUp(signature));
  return facts;
}

}  // namespace tool
