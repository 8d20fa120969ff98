// The envelope's records: reading one backwards, verifying its digest, and
// the trailer that closes one.
//
// A record lies in the file as payload (L bytes), L (4 bytes, little-endian)
// and the MD5 digest of the payload (16 bytes); records follow each other
// directly. The first record's payload is the reader program itself (offset 0
// up to its length field). Records are read from their end towards the start
// of the file.
// Every operation reads through a BackwardReader, which serves small records
// from its window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "backward_reader.h"
#include "md5.h"

namespace format {

inline constexpr size_t kLengthFieldSize = 4;
inline constexpr size_t kDigestSize = Md5Hasher::kDigestSize;
inline constexpr size_t kRecordTrailerSize = kLengthFieldSize + kDigestSize;

// Large payloads are read this many bytes at a time.
inline constexpr size_t kPayloadChunkSize = 1024 * 1024;

// The largest payload a record holds: its length field has 32 bits.
inline constexpr uint64_t kMaxPayloadSize = UINT32_MAX;

// How reading one record ended.
enum class RecordStatus {
  kOk,
  kOutsideFile,     // no whole trailer before the position, or a length that
                    // reaches past the start of the file
  kReadFailed,      // the payload could not be read, or not held in memory
  kDigestMismatch,  // read whole, but its digest differs from the stored one
};

// Where a record's payload lies, and the digest stored for it.
struct RecordLocation {
  int64_t start = 0;    // offset of the payload's first byte
  uint32_t length = 0;  // payload bytes
  std::string digest;   // the stored MD5 digest, 16 raw bytes
};

// The length field and digest that close a record of `length` payload bytes
// whose MD5 digest is `digest`.
std::string RecordTrailer(uint32_t length, std::string_view digest);

// Reads the length and digest of the record that ends at the current position
// and moves to its payload's start. False, position unknown, on a read or
// move failure or a length that reaches past the start of the file; nothing
// is reserved before the length is known to fit.
bool LocateRecordBackward(BackwardReader& reader, RecordLocation& record);

// Reads the record that ends at the current position whole, for the small
// records (types, keys, names, values). On kOk and kDigestMismatch the
// position is at the record's start (the previous record's end). A payload
// too large to hold in memory is kReadFailed.
RecordStatus ReadRecordBackward(BackwardReader& reader, std::string& payload);

// The same, keeping at most `kept_size` bytes of the payload in `payload`
// (the digest still covers all of it), and telling in `record` where the
// record lies once it has been located.
RecordStatus ReadRecordBackward(BackwardReader& reader, std::string& payload, size_t kept_size,
                                RecordLocation& record);

// Locates a record of any size and checks its digest reading
// kPayloadChunkSize bytes at a time, holding none of it. On kOk and
// kDigestMismatch the position is at the record's start, and
// ReadPayloadInChunks can fetch the payload.
RecordStatus VerifyRecordBackward(BackwardReader& reader, RecordLocation& record);

// Reads the payload of a located record once, from its start, kPayloadChunkSize
// bytes at a time, hashing each piece and passing it to `consume`, and
// compares the digest: kOk, kDigestMismatch, or kReadFailed on a read
// failure or as soon as `consume` returns false. The position ends at the
// payload's start.
RecordStatus HashPayloadInChunks(BackwardReader& reader, const RecordLocation& record,
                                 const std::function<bool(std::string_view)>& consume);

// Reads the payload of a located record from its start, passing it to
// `consume` in pieces of at most kPayloadChunkSize bytes, each read with one
// positioned read unless the window holds it already; the position ends at
// the payload's start again. Fails on a read or move failure, or as soon as
// `consume` returns false.
bool ReadPayloadInChunks(BackwardReader& reader, const RecordLocation& record,
                         const std::function<bool(std::string_view)>& consume);

}  // namespace format
