#include "envelope_writer.h"

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "groups.h"
#include "md5.h"
#include "record.h"
#include "tail.h"

namespace writer {

void EnvelopeWriter::AddRecord(const Payload& payload) {
  if (payload.size() > format::kMaxPayloadSize) {
    throw std::length_error("record payload of 4 GiB or more");
  }
  format::Md5Hasher hasher;
  if (payload.produce_) {
    uint64_t size = 0;
    payload.produce_([&](std::string_view piece) {
      if (piece.size() > format::kMaxPayloadSize - size) {
        throw std::length_error("record payload of 4 GiB or more");
      }
      size += piece.size();
      hasher.Update(piece);
      output_.Write(piece);
    });
    output_.Write(format::RecordTrailer(static_cast<uint32_t>(size), hasher.Digest()));
    return;
  }
  if (!payload.read_) {
    hasher.Update(payload.bytes_);
    output_.Write(payload.bytes_);
  } else {
    // The size fits in a length field (checked above), so in a size_t
    // everywhere.
    const auto size = static_cast<size_t>(payload.size());
    std::vector<char> chunk(std::min(size, format::kPayloadChunkSize));
    for (size_t done = 0; done < size;) {
      const size_t piece = std::min(chunk.size(), size - done);
      payload.read_(chunk.data(), piece);
      const std::string_view bytes(chunk.data(), piece);
      hasher.Update(bytes);
      output_.Write(bytes);
      done += piece;
    }
  }
  output_.Write(format::RecordTrailer(static_cast<uint32_t>(payload.size()), hasher.Digest()));
}

void EnvelopeWriter::AddGroup(std::string_view type, std::span<const Payload> records) {
  for (auto record = records.rbegin(); record != records.rend(); ++record) AddRecord(*record);
  AddRecord(type);
}

void EnvelopeWriter::AddGroup(format::GroupKind kind, const GroupRecords& records) {
  // The records the reader reads after the type, each taken by its role.
  std::vector<Payload> payloads;
  for (const format::RecordRole role : format::RecordsAfterType(kind)) {
    switch (role) {
      case format::RecordRole::kType: break;
      case format::RecordRole::kKey: payloads.push_back(records.key); break;
      case format::RecordRole::kName: payloads.push_back(records.name); break;
      case format::RecordRole::kValue: payloads.push_back(records.value); break;
      case format::RecordRole::kCatalog: payloads.push_back(records.catalog); break;
      case format::RecordRole::kContents: payloads.push_back(records.contents); break;
    }
  }
  AddGroup(format::GroupType(kind), payloads);
}

void EnvelopeWriter::AddStubGroup(const Payload& program, std::string_view name) {
  AddGroup(format::GroupKind::kStub,
           {.key = format::kStubGroupType, .name = name, .contents = program});
}

void EnvelopeWriter::AddFileGroup(std::string_view key, std::string_view name,
                                  const Payload& contents) {
  AddGroup(format::GroupKind::kFile, {.key = key, .name = name, .contents = contents});
}

void EnvelopeWriter::AddCompressedFileGroup(std::string_view key, std::string_view name,
                                            const Payload& contents) {
  AddGroup(format::GroupKind::kCompressedFile, {.key = key, .name = name, .contents = contents});
}

void EnvelopeWriter::AddValueGroup(std::string_view key, std::string_view value) {
  AddGroup(format::GroupKind::kValue, {.key = key, .value = value});
}

void EnvelopeWriter::AddOptionGroup(std::string_view option) {
  AddGroup(format::GroupKind::kOption, {.key = option});
}

void EnvelopeWriter::AddTail() { AddGroup(format::GroupKind::kTail, {}); }

namespace {

class StringOutput : public Output {
 public:
  explicit StringOutput(std::string& out) : out_(out) {}
  void Write(std::string_view bytes) override { out_ += bytes; }

 private:
  std::string& out_;
};

// Runs `write` with a writer that appends to `out`.
template <typename Write>
void AppendWith(std::string& out, Write write) {
  StringOutput output(out);
  EnvelopeWriter envelope(output);
  write(envelope);
}

}  // namespace

void AppendRecord(std::string& out, std::string_view payload) {
  AppendWith(out, [&](EnvelopeWriter& envelope) { envelope.AddRecord(payload); });
}

void CloseRecord(std::string& out, size_t payload_start) {
  const std::string payload = out.substr(payload_start);
  out.resize(payload_start);
  AppendRecord(out, payload);
}

void AppendGroup(std::string& out, std::string_view type, std::string_view key,
                 std::initializer_list<std::string_view> further) {
  std::vector<Payload> records = {key};
  records.insert(records.end(), further.begin(), further.end());
  AppendWith(out, [&](EnvelopeWriter& envelope) { envelope.AddGroup(type, records); });
}

void AppendStubGroup(std::string& out, std::string_view name) {
  const std::string program = std::move(out);
  out.clear();
  AppendWith(out, [&](EnvelopeWriter& envelope) { envelope.AddStubGroup(program, name); });
}

void AppendFileGroup(std::string& out, std::string_view key, std::string_view name,
                     std::string_view contents) {
  AppendWith(out, [&](EnvelopeWriter& envelope) { envelope.AddFileGroup(key, name, contents); });
}

void AppendCompressedFileGroup(std::string& out, std::string_view key, std::string_view name,
                               std::string_view contents, Compression compression) {
  const std::string compressed = CompressedContents(contents, compression);
  AppendWith(out, [&](EnvelopeWriter& envelope) {
    envelope.AddCompressedFileGroup(key, name, compressed);
  });
}

void AppendValueGroup(std::string& out, std::string_view key, std::string_view value) {
  AppendWith(out, [&](EnvelopeWriter& envelope) { envelope.AddValueGroup(key, value); });
}

void AppendOptionGroup(std::string& out, std::string_view option) {
  AppendWith(out, [&](EnvelopeWriter& envelope) { envelope.AddOptionGroup(option); });
}

void AppendTail(std::string& out) {
  AppendWith(out, [&](EnvelopeWriter& envelope) { envelope.AddTail(); });
}

}  // namespace writer
