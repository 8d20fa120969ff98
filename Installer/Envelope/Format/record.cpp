#include "record.h"

#include <algorithm>
#include <cstdlib>

#include "little_endian.h"

namespace format {

// A chunk of a payload is taken from the window whole.
static_assert(kPayloadChunkSize <= kReadWindowSize);

namespace {

// Whether a string of `size` bytes can be had: the memory is asked for, and
// given back, without the standard library, whose failure would end the
// reader.
bool CanHold(size_t size) {
  if (size > std::string().max_size()) return false;
  void* const block = std::malloc(size + 1);
  std::free(block);
  return block != nullptr;
}

}  // namespace

std::string RecordTrailer(uint32_t length, std::string_view digest) {
  std::string trailer;
  AppendLittleEndian32(trailer, length);
  trailer += digest;
  return trailer;
}

bool LocateRecordBackward(BackwardReader& reader, RecordLocation& record) {
  constexpr int64_t kTrailer = static_cast<int64_t>(kRecordTrailerSize);
  const int64_t end = reader.Position();
  if (end < kTrailer) return false;

  unsigned char trailer[kRecordTrailerSize];  // length, then digest
  if (!reader.Seek(-kTrailer) || !reader.Read(trailer, sizeof trailer)) return false;
  const uint32_t length = LoadLittleEndian32(trailer);

  // The payload must lie within the file before anything is moved or reserved.
  if (length > end - kTrailer) return false;
  if (!reader.Seek(-static_cast<int64_t>(length) - kTrailer)) return false;
  record.start = end - kTrailer - length;
  record.length = length;
  record.digest.assign(reinterpret_cast<const char*>(trailer) + kLengthFieldSize, kDigestSize);
  return true;
}

RecordStatus ReadRecordBackward(BackwardReader& reader, std::string& payload) {
  RecordLocation record;
  return ReadRecordBackward(reader, payload, SIZE_MAX, record);
}

RecordStatus ReadRecordBackward(BackwardReader& reader, std::string& payload, size_t kept_size,
                                RecordLocation& record) {
  if (!LocateRecordBackward(reader, record)) return RecordStatus::kOutsideFile;
  payload.clear();
  if (record.length > kept_size) {
    return HashPayloadInChunks(reader, record, [&](std::string_view chunk) {
      if (payload.size() < kept_size) payload.append(chunk.substr(0, kept_size - payload.size()));
      return true;
    });
  }
  // Read whole, in one read. A length the process cannot hold (gigabytes, in
  // a 32-bit process) fails like a read: a failed allocation would end the
  // run without its clean-up.
  if (!CanHold(record.length)) return RecordStatus::kReadFailed;
  payload.resize(record.length);
  if (!reader.Read(payload.data(), record.length) ||
      !reader.Seek(-static_cast<int64_t>(record.length))) {
    payload.clear();
    return RecordStatus::kReadFailed;
  }
  return Md5Hasher(payload).Digest() == record.digest ? RecordStatus::kOk
                                                      : RecordStatus::kDigestMismatch;
}

RecordStatus VerifyRecordBackward(BackwardReader& reader, RecordLocation& record) {
  if (!LocateRecordBackward(reader, record)) return RecordStatus::kOutsideFile;
  return HashPayloadInChunks(reader, record, [](std::string_view) { return true; });
}

RecordStatus HashPayloadInChunks(BackwardReader& reader, const RecordLocation& record,
                                 const std::function<bool(std::string_view)>& consume) {
  Md5Hasher hasher;
  const bool read = ReadPayloadInChunks(reader, record, [&](std::string_view chunk) {
    hasher.Update(chunk);
    return consume(chunk);
  });
  if (!read) return RecordStatus::kReadFailed;
  return hasher.Digest() == record.digest ? RecordStatus::kOk : RecordStatus::kDigestMismatch;
}

bool ReadPayloadInChunks(BackwardReader& reader, const RecordLocation& record,
                         const std::function<bool(std::string_view)>& consume) {
  if (!reader.Seek(record.start - reader.Position())) return false;
  for (uint32_t done = 0; done < record.length;) {
    const size_t size = std::min<size_t>(kPayloadChunkSize, record.length - done);
    const char* chunk = reader.View(record.start + done, size);
    if (chunk == nullptr || !consume(std::string_view(chunk, size))) return false;
    done += static_cast<uint32_t>(size);
  }
  return true;
}

}  // namespace format
