// Windows program files (PE images) made by hand, and code signatures laid
// out in them as Authenticode signing tools lay them out, for the tests of
// where an envelope may lie in a signed file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace test {

inline constexpr uint16_t kPe32Magic = 0x10b;      // 32-bit images
inline constexpr uint16_t kPe32PlusMagic = 0x20b;  // 64-bit images

// A minimal PE image of 1024 bytes: DOS header, PE signature, COFF header and
// an optional header of `magic` with 16 data directories, all empty.
std::string MinimalPeImage(uint16_t magic = kPe32Magic);

// Writes the certificate directory entry of the PE image in `bytes`.
void SetCertificateDirectory(std::string& bytes, uint32_t offset, uint32_t size);

// The certificate directory entry of the PE image in `bytes`: offset, size.
std::pair<uint32_t, uint32_t> CertificateDirectory(const std::string& bytes);

// Signs the PE image `bytes` as a signing tool lays a signature out: zero
// bytes up to a multiple of 8, then a certificate table of one WIN_CERTIFICATE
// entry holding a DER SEQUENCE of `signature_size` bytes in all (a stand-in
// for the PKCS#7 signature), padded to a multiple of 8, and the directory
// entry naming that table. Returns the table's offset.
size_t AppendCertificateTable(std::string& bytes, size_t signature_size = 1457);

// Hides `hidden` in the certificate table at the end of the signed file
// `bytes`, as an attacker would: appended to the table, with the directory
// entry's size and the first entry's length grown over it. Neither is
// covered by the signature, which still verifies.
void GrowCertificateTable(std::string& bytes, std::string_view hidden);

// A complete second envelope of its own (stub group, `setup` as Setup.exe
// with the launch values, a file "planted.txt", tail record), as an attacker
// would append it to a signed installer.
std::string HiddenEnvelope(std::string_view setup);

}  // namespace test
