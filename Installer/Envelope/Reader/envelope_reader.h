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
#include <functional>
#include <string>
#include <string_view>

#include "platform.h"

inline constexpr size_t kLengthFieldSize = 4;
inline constexpr size_t kRecordTrailerSize = kLengthFieldSize + 16;  // length + digest

// Marker candidates start at this offset or above; one below is not found.
inline constexpr int64_t kLowestMarkerOffset = 23;

// The tail search reads the file backwards this many bytes at a time.
inline constexpr size_t kTailScanBlockSize = 64 * 1024;

// Large payloads are read this many bytes at a time.
inline constexpr size_t kPayloadChunkSize = 1024 * 1024;

// Where a record's payload lies, and the digest stored for it.
struct RecordLocation {
  int64_t start = 0;    // offset of the payload's first byte
  uint32_t length = 0;  // payload bytes
  std::string digest;   // the stored MD5 digest, 16 raw bytes
};

// The tail record's payload. Composed at run time, so that the reader's own
// bytes never contain it: a bare reader (a truncated download) must not take
// its own constant for the end of an envelope.
const std::string& TailMarker();

// Searches backwards from the end of the file for the tail marker. Candidate
// offsets run from size - 23 down to 23, so the marker that starts highest
// wins and the last byte of the file is never part of it. On success the
// position is at the end of the tail record (marker + 42).
bool FindEnvelopeTail(platform::File& file);

// Reads the record that ends at the current position whole, for the small
// records (types, keys, names, values). On success `payload` holds it and the
// position is at the record's start (the previous record's end). A length
// that reaches past the start of the file fails before any move or
// allocation. Read and move failures, and a payload too large to hold in
// memory, return false silently; a digest mismatch shows the
// invalid-envelope message and clears `envelope_valid`.
bool ReadRecordBackward(platform::File& file, std::string& payload, bool& envelope_valid);

// The same for a record of any size, without holding its payload: locates
// it and checks its digest reading kPayloadChunkSize bytes at a time. On
// success the position is at the record's start, and ReadPayloadInChunks
// can fetch the verified payload.
bool VerifyRecordBackward(platform::File& file, RecordLocation& record, bool& envelope_valid);

// Reads the length and digest of the record that ends at the current position
// and moves to its payload's start. Fails, without a message, on a read or
// move failure or a length that reaches past the start of the file.
bool LocateRecordBackward(platform::File& file, RecordLocation& record);

// Reads the payload of a located record from its start, passing it to
// `consume` in pieces of at most kPayloadChunkSize bytes; the position ends
// at the payload's start again. Fails on a read or move failure, or as soon
// as `consume` returns false.
bool ReadPayloadInChunks(platform::File& file, const RecordLocation& record,
                         const std::function<bool(std::string_view)>& consume);
