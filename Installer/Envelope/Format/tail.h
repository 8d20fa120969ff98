// The envelope's tail: the record that ends it, and finding it from the end
// of the program file.
//
// The last record of an envelope is the tail record, whose payload is the
// tail marker. Anything after the tail record (a code-signing certificate,
// alignment bytes) is never interpreted; in a signed program file the
// envelope is looked for only in the part the signature covers (see
// signed_part.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform_files.h"
#include "record.h"

namespace format {

// The tail marker's length, and the tail record's: the marker, its length
// field and its digest.
inline constexpr int64_t kTailMarkerSize = 22;
inline constexpr int64_t kTailRecordSize =
    kTailMarkerSize + static_cast<int64_t>(kRecordTrailerSize);

// Marker candidates start at this offset or above; one below is not found.
// The search steps back one byte more than a marker's length from where it
// read last, and stops once that would reach offset 22 or below: the first
// record, the reader program itself, fills the start of every program file,
// so no envelope's tail lies that low.
inline constexpr int64_t kLowestMarkerOffset = kTailMarkerSize + 1;

// The tail search reads the file backwards this many bytes at a time.
inline constexpr size_t kTailScanBlockSize = 64 * 1024;

// The tail record's payload. Composed at run time, so that the reader's own
// bytes never contain it: a bare reader (a truncated download) must not take
// its own constant for the end of an envelope.
const std::string& TailMarker();

// Searches backwards from the end of the file for the tail marker. Candidate
// offsets run from size - kLowestMarkerOffset down to kLowestMarkerOffset, so
// the marker that starts highest wins and the last byte of the file is never
// part of it. In a signed PE
// image (see signed_part.h) only the part before the certificate table is
// searched, and the whole tail record must lie there: nothing at or after the
// table's first byte is read as part of the envelope. On success the
// position is at the end of the tail record (marker + kTailRecordSize).
bool FindEnvelopeTail(platform::File& file);

}  // namespace format
