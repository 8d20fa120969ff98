// Facts about Windows (PE) program files that packing, listing and verifying
// need: whether a file is one, whether it is code-signed, and whether its
// certificate table holds anything the signature does not cover.
#pragma once

#include <cstdint>

#include "backward_reader.h"
#include "platform_files.h"
#include "record.h"
#include "signed_part.h"

namespace tool {

struct WindowsProgramFacts {
  bool is_windows_program = false;            // an MZ file with a PE header
  bool has_signature = false;                 // its certificate directory entry is not empty
  format::CertificateDirectory certificates;  // that entry
  format::ProgramHeaders headers;             // where the fields signing rewrites lie
};

// Reads the headers of the file; leaves the position at the start.
WindowsProgramFacts InspectWindowsProgram(platform::File& file);

// How the certificate table of a signed program file lies in it. Windows
// checks a signature over everything but the table; a table that holds more
// than its signatures, or bytes after the table, can carry anything without
// the signature noticing.
struct CertificateTableFacts {
  format::CertificateDirectory entry;  // as the headers state it
  bool in_file = false;                // the entry names a non-empty range inside the file
  int64_t bytes_after = 0;             // from the table's end to the end of the file
  // Whether the table's first entry holds a PKCS#7 signature whose length
  // could be read: a WIN_CERTIFICATE header whose length fits the table, and
  // a DER SEQUENCE whose length fits that entry.
  bool signature_readable = false;
  // Bytes of the table beyond that signature's own length (the entry's
  // 8-byte header and the signature's DER encoding), rounded up to the
  // 8-byte alignment of entries: what Windows' padding check refuses.
  int64_t bytes_beyond_signature = 0;
};

// Whether the stub record `stub` of a signed installer, the program's first
// bytes, matches its stored digest once the two fields that code signing
// rewrites are set back to what the unsigned program held: the certificate
// entry empty, and the checksum as the linker leaves it, either 0 or the
// checksum of the program itself (which is computed for it). So any other
// change of the program is caught. `headers` are the installer's.
bool StubMatchesBeforeSigning(format::BackwardReader& reader, const format::RecordLocation& stub,
                              const format::ProgramHeaders& headers);

// Inspects the certificate table that `entry` names in `file` of
// `file_size` bytes. Positioned reads; the file's position is unspecified
// afterwards.
CertificateTableFacts InspectCertificateTable(platform::File& file,
                                              const format::CertificateDirectory& entry,
                                              int64_t file_size);

}  // namespace tool
