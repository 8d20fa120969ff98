// The part of a program file that its code signature covers, and so the only
// part an envelope is read from.
//
// A Windows program file (a PE image) is signed by an Authenticode signature
// held in the certificate table, which the certificate directory entry of the
// PE optional header locates by file offset and size. The signature's digest
// covers the whole file except the header's checksum, that directory entry
// and the certificate table itself: bytes hidden in the table, or appended
// after it, change nothing the signature checks. The envelope of a signed
// program file must therefore lie before its certificate table.
#pragma once

#include <cstdint>

#include "platform_files.h"

namespace format {

// The certificate directory entry of a PE image, as stored: the file offset
// of the certificate table and its size in bytes. Both 0 when the image has
// no such entry.
struct CertificateDirectory {
  uint32_t offset = 0;
  uint32_t size = 0;
};

// What the headers of a program file tell about its signature.
struct ProgramHeaders {
  bool is_pe_image = false;  // "MZ", then the "PE\0\0" header it points to
  CertificateDirectory certificates;
  // Where the two fields that signing rewrites lie in the file: the
  // optional header's checksum (4 bytes) and the certificate directory entry
  // (8 bytes); -1 where the headers hold no such field.
  int64_t checksum_offset = -1;
  int64_t certificate_entry_offset = -1;
};

// Reads the headers at the start of `file` with positioned reads; the
// file's position does not matter and is left unspecified. A file that is
// not a PE image, or whose headers are cut short, has no certificate entry.
ProgramHeaders ReadProgramHeaders(platform::File& file);

// Whether `entry` names a certificate table inside a file of `file_size`
// bytes: a non-empty range that ends at or before the end of the file.
bool IsCertificateTableInFile(const CertificateDirectory& entry, int64_t file_size);

// Where the signed part of a file of `file_size` bytes with `headers` ends:
// at the certificate table's first byte when the headers name a table inside
// the file, else at the end of the file (an unsigned image, a certificate
// entry that is empty or points outside the file, any file that is no PE
// image).
int64_t SignedPartEnd(const ProgramHeaders& headers, int64_t file_size);

}  // namespace format
