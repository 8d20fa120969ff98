#include "pe_images.h"

#include "envelope_writer.h"
#include "little_endian.h"
#include "test_support.h"

namespace test {

namespace {

constexpr size_t kPeHeaderOffset = 0x80;
constexpr size_t kOptionalHeaderOffset = kPeHeaderOffset + 4 + 20;
constexpr size_t kCertificateIndex = 4;

uint32_t Get(const std::string& bytes, size_t offset) {
  return format::LoadLittleEndian32(reinterpret_cast<const unsigned char*>(bytes.data()) + offset);
}

// Where the certificate directory entry of the image in `bytes` lies.
size_t CertificateEntryOffset(const std::string& bytes) {
  const uint16_t magic = format::LoadLittleEndian16(
      reinterpret_cast<const unsigned char*>(bytes.data()) + kOptionalHeaderOffset);
  return kOptionalHeaderOffset + (magic == kPe32PlusMagic ? 112 : 96) + kCertificateIndex * 8;
}

size_t AlignUp(size_t value) { return (value + 7) / 8 * 8; }

}  // namespace

std::string MinimalPeImage(uint16_t magic) {
  std::string bytes(1024, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  PutLittleEndian(bytes, 0x3c, kPeHeaderOffset, 4);
  PutLittleEndian(bytes, kPeHeaderOffset, 0x00004550, 4);  // "PE\0\0"
  PutLittleEndian(bytes, kOptionalHeaderOffset, magic, 2);
  const size_t directories = kOptionalHeaderOffset + (magic == kPe32PlusMagic ? 112 : 96);
  PutLittleEndian(bytes, directories - 4, 16, 4);  // the number of data directories
  return bytes;
}

void SetCertificateDirectory(std::string& bytes, uint32_t offset, uint32_t size) {
  const size_t entry = CertificateEntryOffset(bytes);
  PutLittleEndian(bytes, entry, offset, 4);
  PutLittleEndian(bytes, entry + 4, size, 4);
}

std::pair<uint32_t, uint32_t> CertificateDirectory(const std::string& bytes) {
  const size_t entry = CertificateEntryOffset(bytes);
  return {Get(bytes, entry), Get(bytes, entry + 4)};
}

size_t AppendCertificateTable(std::string& bytes, size_t signature_size) {
  bytes.resize(AlignUp(bytes.size()), '\0');
  const size_t table = bytes.size();
  // A DER SEQUENCE with a two-byte length (0x30 0x82, high, low), then its
  // contents.
  const size_t contents = signature_size - 4;
  std::string signature = {'\x30', '\x82', static_cast<char>(contents >> 8),
                           static_cast<char>(contents & 0xff)};
  signature += RandomBytes(contents, 5);
  const size_t entry_size = AlignUp(8 + signature_size);
  std::string entry(8, '\0');
  PutLittleEndian(entry, 0, entry_size, 4);
  PutLittleEndian(entry, 4, 0x0200, 2);  // revision 2
  PutLittleEndian(entry, 6, 0x0002, 2);  // PKCS#7 signed data
  entry += signature;
  entry.resize(entry_size, '\0');
  bytes += entry;
  SetCertificateDirectory(bytes, static_cast<uint32_t>(table), static_cast<uint32_t>(entry_size));
  return table;
}

void GrowCertificateTable(std::string& bytes, std::string_view hidden) {
  const auto [table, size] = CertificateDirectory(bytes);
  const std::string grown =
      std::string(hidden) + std::string(AlignUp(hidden.size()) - hidden.size(), '\0');
  bytes += grown;
  SetCertificateDirectory(bytes, table, size + static_cast<uint32_t>(grown.size()));
  PutLittleEndian(bytes, table, Get(bytes, table) + grown.size(), 4);
}

std::string HiddenEnvelope(std::string_view setup) {
  std::string bytes = "the attacker's stub";
  writer::AppendStubGroup(bytes, "reader");
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", setup);
  writer::AppendFileGroup(bytes, "", "planted.txt", "planted by an attacker");
  writer::AppendValueGroup(bytes, "executable", "%installer%");
  writer::AppendValueGroup(bytes, "parameters", "hidden");
  writer::AppendTail(bytes);
  return bytes;
}

}  // namespace test
