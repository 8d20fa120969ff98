#include "envelope_reader.h"

#include <algorithm>
#include <exception>
#include <string_view>
#include <vector>

#include "md5.h"
#include "messages.h"

namespace {

// The marker's bytes, each XORed with the mask below.
constexpr unsigned char kMaskedMarker[] = {0x39, 0x32, 0x2f, 0x34, 0x31, 0x3f, 0x3e, 0x77,
                                           0x33, 0x34, 0x29, 0x2e, 0x3b, 0x36, 0x36, 0x3f,
                                           0x28, 0x77, 0x2e, 0x3b, 0x33, 0x36};

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
  const std::string& marker = TailMarker();
  const int64_t marker_size = static_cast<int64_t>(marker.size());

  // Scan blocks from the top down. Each block overlaps the one above it by
  // all but one byte of a marker, so a marker across the edge is still seen.
  std::vector<char> block(kTailScanBlockSize);
  int64_t end = file.Position() - 1;  // the highest candidate ends here
  while (end - kLowestMarkerOffset >= marker_size) {
    const int64_t start = std::max(kLowestMarkerOffset, end - static_cast<int64_t>(block.size()));
    const size_t size = static_cast<size_t>(end - start);
    if (!file.Seek(start - file.Position()) || !file.Read(block.data(), size)) return false;

    const size_t found = FindLastMarker(std::string_view(block.data(), size), marker);
    if (found != std::string_view::npos) {
      const int64_t tail_end = start + static_cast<int64_t>(found) + marker_size + kRecordTrailerSize;
      return file.Seek(tail_end - file.Position());
    }
    end = start + marker_size - 1;
  }
  return false;
}

bool LocateRecordBackward(platform::File& file, RecordLocation& record) {
  constexpr int64_t kTrailer = static_cast<int64_t>(kRecordTrailerSize);
  const int64_t end = file.Position();
  if (end < kTrailer) return false;

  unsigned char trailer[kRecordTrailerSize];  // length, then digest
  if (!file.Seek(-kTrailer) || !file.Read(trailer, sizeof trailer)) return false;
  const uint32_t length = static_cast<uint32_t>(trailer[0]) | static_cast<uint32_t>(trailer[1]) << 8 |
                          static_cast<uint32_t>(trailer[2]) << 16 |
                          static_cast<uint32_t>(trailer[3]) << 24;

  // The payload must lie within the file before anything is moved or reserved.
  if (length > end - kTrailer) return false;
  if (!file.Seek(-static_cast<int64_t>(length) - kTrailer)) return false;
  record.start = end - kTrailer - length;
  record.length = length;
  record.digest.assign(reinterpret_cast<const char*>(trailer) + kLengthFieldSize, Md5Hasher::kDigestSize);
  return true;
}

namespace {

// Compares a payload's digest with the stored one; a mismatch is reported
// and makes the envelope invalid.
bool DigestMatches(Md5Hasher& hasher, const RecordLocation& record, bool& envelope_valid) {
  if (hasher.Digest() == record.digest) return true;
  ReportInvalidArchive();
  envelope_valid = false;
  return false;
}

}  // namespace

bool ReadRecordBackward(platform::File& file, std::string& payload, bool& envelope_valid) {
  RecordLocation record;
  if (!LocateRecordBackward(file, record)) return false;
  // A length the process cannot hold (gigabytes, in a 32-bit process) fails
  // like a read: an exception would end the run without its clean-up.
  try {
    payload.resize(record.length);
  } catch (const std::exception&) {  // std::bad_alloc, std::length_error
    return false;
  }
  if (!file.Read(payload.data(), record.length)) return false;
  Md5Hasher hasher(payload);
  if (!DigestMatches(hasher, record, envelope_valid)) return false;
  return file.Seek(-static_cast<int64_t>(record.length));
}

bool VerifyRecordBackward(platform::File& file, RecordLocation& record, bool& envelope_valid) {
  if (!LocateRecordBackward(file, record)) return false;
  Md5Hasher hasher;
  const bool read = ReadPayloadInChunks(file, record, [&](std::string_view chunk) {
    hasher.Update(chunk);
    return true;
  });
  return read && DigestMatches(hasher, record, envelope_valid);
}

bool ReadPayloadInChunks(platform::File& file, const RecordLocation& record,
                         const std::function<bool(std::string_view)>& consume) {
  if (!file.Seek(record.start - file.Position())) return false;
  std::vector<char> chunk(std::min<size_t>(record.length, kPayloadChunkSize));
  for (uint32_t done = 0; done < record.length;) {
    const size_t size = std::min<size_t>(chunk.size(), record.length - done);
    if (!file.Read(chunk.data(), size) || !consume(std::string_view(chunk.data(), size))) {
      return false;
    }
    done += static_cast<uint32_t>(size);
  }
  return file.Seek(record.start - file.Position());
}
