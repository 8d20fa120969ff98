// The envelope's record format: finding its tail, reading records backwards.
//
// A record lies in the file as payload (L bytes), L (4 bytes, little-endian)
// and the MD5 digest of the payload (16 bytes); records follow each other
// directly. The first record's payload is the reader program itself (offset 0
// up to its length field); the last is the tail record, whose payload is the
// tail marker. Anything after the tail record is never interpreted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform.h"

inline constexpr size_t kLengthFieldSize = 4;
inline constexpr size_t kRecordTrailerSize = kLengthFieldSize + 16;  // length + digest

// Marker candidates start at this offset or above; one below is not found.
inline constexpr int64_t kLowestMarkerOffset = 23;

// The tail search reads the file backwards this many bytes at a time.
inline constexpr size_t kTailScanBlockSize = 64 * 1024;

// The tail record's payload. Composed at run time, so that the reader's own
// bytes never contain it: a bare reader (a truncated download) must not take
// its own constant for the end of an envelope.
const std::string& TailMarker();

// Searches backwards from the end of the file for the tail marker. Candidate
// offsets run from size - 23 down to 23, so the marker that starts highest
// wins and the last byte of the file is never part of it. On success the
// position is at the end of the tail record (marker + 42).
bool FindEnvelopeTail(platform::File& file);

// Reads the record that ends at the current position. On success `payload`
// holds it and the position is at the record's start (the previous record's
// end). A length that reaches past the start of the file fails before any
// move or allocation. Read and move failures return false silently; a digest
// mismatch shows the invalid-envelope message and clears `envelope_valid`.
bool ReadRecordBackward(platform::File& file, std::string& payload, bool& envelope_valid);
