// Writing envelopes: records and record groups in the byte format the reader
// reads (see record.h, groups.h and tail.h), the only code that writes them.
//
// The reader reads from the end, so each group is written with its
// first-read record last. An installer is: the stub group (whose contents
// are the reader program), the file and value groups (the last one written
// is read first, and wins when a key repeats), the option groups, then the
// tail record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "chunk_compression.h"
#include "groups.h"

namespace writer {

// Where an envelope's bytes go, in order. Write throws on failure.
class Output {
 public:
  virtual ~Output() = default;
  virtual void Write(std::string_view bytes) = 0;
};

// A record's payload: bytes held in memory; or `size` bytes that `read`
// delivers in order, a piece at a time (it fills exactly the buffer it is
// given, or throws); or bytes of a size not known in advance, which
// `produce` hands, in order, to the function it is given, piece by piece
// (pieces may be empty; it throws on failure).
class Payload {
 public:
  using Emit = std::function<void(std::string_view piece)>;
  using Producer = std::function<void(const Emit& emit)>;

  Payload(std::string_view bytes) : size_(bytes.size()), bytes_(bytes) {}  // NOLINT: implicit
  Payload(const char* bytes) : Payload(std::string_view(bytes)) {}         // NOLINT: implicit
  Payload(const std::string& bytes) : Payload(std::string_view(bytes)) {}  // NOLINT: implicit
  Payload(uint64_t size, std::function<void(char* buffer, size_t size)> read)
      : size_(size), read_(std::move(read)) {}
  explicit Payload(Producer produce) : produce_(std::move(produce)) {}

  // Whether the size is known before the bytes are written.
  bool size_known() const { return !produce_; }
  // The size, when it is known (else 0).
  uint64_t size() const { return size_; }

 private:
  friend class EnvelopeWriter;
  uint64_t size_ = 0;
  std::string_view bytes_;
  std::function<void(char*, size_t)> read_;
  Producer produce_;
};

// The records of a group, by their role; a group takes those its kind holds
// (format::RecordsAfterType) and leaves the others.
struct GroupRecords {
  Payload key = "";
  Payload name = "";
  Payload value = "";
  Payload catalog = "";
  Payload contents = "";
};

class EnvelopeWriter {
 public:
  explicit EnvelopeWriter(Output& output) : output_(output) {}

  // Writes one record: the payload, its length and its MD5 digest. A payload
  // given as a reader or a producer is passed through as it comes, never
  // held whole. Throws std::length_error for 4 GiB or more: before writing
  // anything when the size is known, else as soon as the produced bytes pass
  // format::kMaxPayloadSize (what was written already is then the caller's
  // to discard).
  void AddRecord(const Payload& payload);

  // Writes a group: the records that follow its type, given in the order the
  // reader reads them (key first), then the type, so that the type is read
  // first.
  void AddGroup(std::string_view type, std::span<const Payload> records);

  // Writes a group of a known kind: the records its kind holds, taken from
  // `records` by their role, then the type.
  void AddGroup(format::GroupKind kind, const GroupRecords& records);

  // The envelope's first group: `program` (the reader's bytes, from offset
  // 0) as its contents, and the name the stub goes by.
  void AddStubGroup(const Payload& program, std::string_view name);
  void AddFileGroup(std::string_view key, std::string_view name, const Payload& contents);
  // `contents` as compressed_contents.h lays them out (see chunk_compression.h).
  void AddCompressedFileGroup(std::string_view key, std::string_view name, const Payload& contents);
  void AddValueGroup(std::string_view key, std::string_view value);
  // A setting of the reader (see options.h); counts only between the other
  // groups and the tail record.
  void AddOptionGroup(std::string_view option);

  // The tail record, which ends the envelope.
  void AddTail();

 private:
  Output& output_;
};

// The same in memory, for tests, fuzzers and benchmarks: each appends to `out`.
void AppendRecord(std::string& out, std::string_view payload);
// Closes the record whose payload is everything in `out` from
// `payload_start` on, by appending its length and digest.
void CloseRecord(std::string& out, size_t payload_start);
void AppendGroup(std::string& out, std::string_view type, std::string_view key,
                 std::initializer_list<std::string_view> further = {});
// Makes all of `out` (the stub's bytes) the stub group's contents.
void AppendStubGroup(std::string& out, std::string_view name);
void AppendFileGroup(std::string& out, std::string_view key, std::string_view name,
                     std::string_view contents);
// A compressed file group of `contents` compressed at `compression`.
void AppendCompressedFileGroup(std::string& out, std::string_view key, std::string_view name,
                               std::string_view contents,
                               Compression compression = Compression::kBest);
void AppendValueGroup(std::string& out, std::string_view key, std::string_view value);
void AppendOptionGroup(std::string& out, std::string_view option);
void AppendTail(std::string& out);

}  // namespace writer
