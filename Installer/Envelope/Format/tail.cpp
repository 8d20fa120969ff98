#include "tail.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "record.h"
#include "signed_part.h"

namespace format {

namespace {

// The marker's bytes, each XORed with the mask below.
constexpr unsigned char kMaskedMarker[] = {0x39, 0x32, 0x2f, 0x34, 0x31, 0x3f, 0x3e, 0x77,
                                           0x33, 0x34, 0x29, 0x2e, 0x3b, 0x36, 0x36, 0x3f,
                                           0x28, 0x77, 0x2e, 0x3b, 0x33, 0x36};

static_assert(sizeof kMaskedMarker == kTailMarkerSize);

}  // namespace

const std::string& TailMarker() {
  static const std::string marker = [] {
    // Read through a volatile so that the compiler cannot fold the plain
    // text back into the program.
    volatile unsigned char mask = 0x5a;
    std::string text(sizeof kMaskedMarker, '\0');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(kMaskedMarker[i] ^ mask);
    return text;
  }();
  return marker;
}

namespace {

// Where the highest occurrence of `marker` in `text` starts, or npos. Tries
// window starts from the top down, Horspool's way in reverse: after a miss at
// p the next start that could match puts text[p] under the nearest equal byte
// of the marker past its first, so starts are skipped by the distance to it,
// or by the marker's whole length when the byte is not in the marker at all.
size_t FindLastMarker(std::string_view text, const std::string& marker) {
  const size_t size = marker.size();
  if (text.size() < size) return std::string_view::npos;
  size_t skip[256];
  for (size_t& distance : skip) distance = size;
  for (size_t k = size - 1; k >= 1; --k) skip[static_cast<unsigned char>(marker[k])] = k;

  const char first = marker[0];
  for (size_t p = text.size() - size;;) {
    const char at = text[p];
    if (at == first && text.compare(p, size, marker) == 0) return p;
    const size_t distance = skip[static_cast<unsigned char>(at)];
    if (p < distance) return std::string_view::npos;
    p -= distance;
  }
}

}  // namespace

bool FindEnvelopeTail(platform::File& file) {
  if (!file.SeekToEnd()) return false;
  const int64_t file_size = file.Position();
  const std::string& marker = TailMarker();

  // The highest candidate ends here: one byte before the end of the file, or,
  // in a signed file, where the tail record still ends before the
  // certificate table.
  const int64_t signed_end = SignedPartEnd(ReadProgramHeaders(file), file_size);
  // Headers that cannot be read mean a file that is no PE image, not a
  // failure of the search: the search's own reads decide what it reports.
  platform::ClearLastError();
  int64_t end = signed_end < file_size ? signed_end - static_cast<int64_t>(kRecordTrailerSize)
                                       : file_size - 1;

  // Scan blocks from the top down. Each block overlaps the one above it by
  // all but one byte of a marker, so a marker across the edge is still seen.
  std::vector<char> block(kTailScanBlockSize);
  while (end - kLowestMarkerOffset >= kTailMarkerSize) {
    const int64_t start = std::max(kLowestMarkerOffset, end - static_cast<int64_t>(block.size()));
    const size_t size = static_cast<size_t>(end - start);
    if (!file.Seek(start - file.Position()) || !file.Read(block.data(), size)) return false;

    const size_t found = FindLastMarker(std::string_view(block.data(), size), marker);
    if (found != std::string_view::npos) {
      const int64_t tail_end = start + static_cast<int64_t>(found) + kTailRecordSize;
      return file.Seek(tail_end - file.Position());
    }
    end = start + kTailMarkerSize - 1;
  }
  return false;
}

}  // namespace format
