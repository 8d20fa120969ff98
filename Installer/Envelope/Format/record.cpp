#include "record.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "little_endian.h"

namespace format {

namespace {

// Hashes a located record's payload a chunk at a time, appending to `kept`
// (when given) up to `kept_size` bytes of it, and compares the digest.
RecordStatus HashInChunks(platform::File& file, const RecordLocation& record, std::string* kept,
                          size_t kept_size) {
  Md5Hasher hasher;
  const bool read = ReadPayloadInChunks(file, record, [&](std::string_view chunk) {
    hasher.Update(chunk);
    if (kept != nullptr && kept->size() < kept_size) {
      kept->append(chunk.substr(0, kept_size - kept->size()));
    }
    return true;
  });
  if (!read) return RecordStatus::kReadFailed;
  return hasher.Digest() == record.digest ? RecordStatus::kOk : RecordStatus::kDigestMismatch;
}

// Whether a string of `size` bytes can be had. The memory is asked for, and
// given back, without the standard library, whose failure would end the
// reader; it is single-threaded, so what was there is there for the string.
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

bool LocateRecordBackward(platform::File& file, RecordLocation& record) {
  constexpr int64_t kTrailer = static_cast<int64_t>(kRecordTrailerSize);
  const int64_t end = file.Position();
  if (end < kTrailer) return false;

  unsigned char trailer[kRecordTrailerSize];  // length, then digest
  if (!file.Seek(-kTrailer) || !file.Read(trailer, sizeof trailer)) return false;
  const uint32_t length = LoadLittleEndian32(trailer);

  // The payload must lie within the file before anything is moved or reserved.
  if (length > end - kTrailer) return false;
  if (!file.Seek(-static_cast<int64_t>(length) - kTrailer)) return false;
  record.start = end - kTrailer - length;
  record.length = length;
  record.digest.assign(reinterpret_cast<const char*>(trailer) + kLengthFieldSize, kDigestSize);
  return true;
}

RecordStatus ReadRecordBackward(platform::File& file, std::string& payload) {
  RecordLocation record;
  return ReadRecordBackward(file, payload, SIZE_MAX, record);
}

RecordStatus ReadRecordBackward(platform::File& file, std::string& payload, size_t kept_size,
                                RecordLocation& record) {
  if (!LocateRecordBackward(file, record)) return RecordStatus::kOutsideFile;
  payload.clear();
  if (record.length > kept_size) return HashInChunks(file, record, &payload, kept_size);
  // Read whole, in one read. A length the process cannot hold (gigabytes, in
  // a 32-bit process) fails like a read: a failed allocation would end the
  // run without its clean-up.
  if (!CanHold(record.length)) return RecordStatus::kReadFailed;
  payload.resize(record.length);
  if (!file.Read(payload.data(), record.length) ||
      !file.Seek(-static_cast<int64_t>(record.length))) {
    payload.clear();
    return RecordStatus::kReadFailed;
  }
  return Md5Hasher(payload).Digest() == record.digest ? RecordStatus::kOk
                                                      : RecordStatus::kDigestMismatch;
}

RecordStatus VerifyRecordBackward(platform::File& file, RecordLocation& record) {
  if (!LocateRecordBackward(file, record)) return RecordStatus::kOutsideFile;
  return HashInChunks(file, record, nullptr, 0);
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

}  // namespace format
