#include "windows_program.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>

#include "little_endian.h"
#include "md5.h"

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

// The sizes of the fields code signing rewrites.
constexpr size_t kChecksumSize = 4;
constexpr size_t kCertificateEntrySize = 8;

// Writes `size` bytes of `value` (little-endian) over the part of `piece`,
// which begins at `at` in the program, that the field at `field` covers.
void SetField(std::string& piece, uint64_t at, int64_t field, uint64_t value, size_t size) {
  unsigned char bytes[8];
  format::StoreLittleEndian(bytes, value, size);
  for (size_t i = 0; field >= 0 && i < size; ++i) {
    const uint64_t offset = static_cast<uint64_t>(field) + i;
    if (offset >= at && offset - at < piece.size())
      piece[offset - at] = static_cast<char>(bytes[i]);
  }
}

// Reads the stub's bytes once, the certificate entry emptied and the
// checksum set to `checksum`, handing them to `use` piece by piece.
bool ReadAsUnsigned(format::BackwardReader& reader, const format::RecordLocation& stub,
                    const format::ProgramHeaders& headers, uint32_t checksum,
                    const std::function<void(std::string_view)>& use) {
  uint64_t at = 0;
  std::string piece;
  return format::ReadPayloadInChunks(reader, stub, [&](std::string_view read) {
    piece.assign(read);
    SetField(piece, at, headers.checksum_offset, checksum, kChecksumSize);
    SetField(piece, at, headers.certificate_entry_offset, 0, kCertificateEntrySize);
    at += piece.size();
    use(piece);
    return true;
  });
}

// The checksum a linker computes for the unsigned program: its 16-bit words
// added with the carries folded back in, the checksum field counting as 0,
// and its length added.
std::optional<uint32_t> UnsignedChecksum(format::BackwardReader& reader,
                                         const format::RecordLocation& stub,
                                         const format::ProgramHeaders& headers) {
  uint32_t sum = 0;
  uint64_t at = 0;
  const bool read = ReadAsUnsigned(reader, stub, headers, 0, [&](std::string_view piece) {
    for (const char c : piece) {
      // Low byte at even offsets, high byte at odd ones.
      sum += static_cast<uint32_t>(static_cast<unsigned char>(c)) << (at++ % 2 == 0 ? 0 : 8);
      sum = (sum & 0xFFFF) + (sum >> 16);
    }
  });
  if (!read) return std::nullopt;
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + stub.length);
}

}  // namespace

WindowsProgramFacts InspectWindowsProgram(platform::File& file) {
  const format::ProgramHeaders headers = format::ReadProgramHeaders(file);
  file.Seek(-file.Position());
  return {headers.is_pe_image, headers.certificates.size != 0, headers.certificates, headers};
}

bool StubMatchesBeforeSigning(format::BackwardReader& reader, const format::RecordLocation& stub,
                              const format::ProgramHeaders& headers) {
  if (headers.checksum_offset < 0 || headers.certificate_entry_offset < 0) return false;
  const std::optional<uint32_t> computed = UnsignedChecksum(reader, stub, headers);
  if (!computed) return false;
  for (const uint32_t checksum : {*computed, uint32_t{0}}) {
    format::Md5Hasher hasher;
    if (ReadAsUnsigned(reader, stub, headers, checksum,
                       [&](std::string_view piece) { hasher.Update(piece); }) &&
        hasher.Digest() == stub.digest) {
      return true;
    }
  }
  return false;
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
