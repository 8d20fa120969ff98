#include "windows_program.h"

#include <cstdint>

namespace {

uint32_t Little(const unsigned char* bytes, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

// Reads `size` bytes at `offset` from the start of the file.
bool ReadAt(platform::File& file, int64_t offset, unsigned char* buffer, size_t size) {
  return file.Seek(offset - file.Position()) && file.Read(buffer, size);
}

}  // namespace

WindowsProgramFacts InspectWindowsProgram(platform::File& file) {
  WindowsProgramFacts facts;
  unsigned char dos[64];
  if (ReadAt(file, 0, dos, sizeof dos) && dos[0] == 'M' && dos[1] == 'Z') {
    // PE signature, COFF header (20 bytes), then the optional header, whose
    // magic tells where its data directories start.
    const int64_t pe = Little(dos + 0x3c, 4);
    unsigned char headers[4 + 20 + 2];
    if (ReadAt(file, pe, headers, sizeof headers) && Little(headers, 4) == 0x00004550) {
      facts.is_windows_program = true;
      const uint32_t magic = Little(headers + 24, 2);
      const int64_t optional = pe + 24;
      const int64_t count_offset = optional + (magic == 0x20b ? 108 : 92);
      unsigned char count[4];
      unsigned char certificates[8];  // data directory 4: file offset and size
      if ((magic == 0x10b || magic == 0x20b) && ReadAt(file, count_offset, count, sizeof count) &&
          Little(count, 4) > 4 && ReadAt(file, count_offset + 4 + 4 * 8, certificates, sizeof certificates)) {
        facts.has_signature = Little(certificates + 4, 4) != 0;
      }
    }
  }
  file.Seek(-file.Position());
  return facts;
}
