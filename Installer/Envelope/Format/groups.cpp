#include "groups.h"

#include <algorithm>

#include "envelope_text.h"
#include "file_names.h"
#include "tail.h"

namespace format {

namespace {

constexpr RecordRole kValueRecords[] = {RecordRole::kKey, RecordRole::kValue};
constexpr RecordRole kFileRecords[] = {RecordRole::kKey, RecordRole::kName, RecordRole::kContents};
constexpr RecordRole kArchiveRecords[] = {RecordRole::kKey, RecordRole::kCatalog};
constexpr RecordRole kOtherRecords[] = {RecordRole::kKey};

// The names GroupKindName gives the kinds whose type text is no name.
constexpr std::string_view kTailKindName = "tail";
constexpr std::string_view kOtherKindName = "other";

// Where each text record's payload goes.
std::string* TextOf(RecordRole role, Group& group) {
  switch (role) {
    case RecordRole::kType: return &group.type;
    case RecordRole::kKey: return &group.key;
    case RecordRole::kName: return &group.name;
    case RecordRole::kValue: return &group.value;
    case RecordRole::kCatalog: return &group.catalog;
    case RecordRole::kContents: return nullptr;
  }
  return nullptr;
}

}  // namespace

GroupKind KindOfGroupType(std::string_view type) {
  if (type == TailMarker()) return GroupKind::kTail;
  if (type == kValueGroupType) return GroupKind::kValue;
  if (type == kFileGroupType) return GroupKind::kFile;
  if (type == kCompressedFileGroupType) return GroupKind::kCompressedFile;
  if (type == kArchiveGroupType) return GroupKind::kArchive;
  if (type == kStubGroupType) return GroupKind::kStub;
  if (type == kOptionGroupType) return GroupKind::kOption;
  return GroupKind::kOther;
}

const char* RecordRoleName(RecordRole role) {
  switch (role) {
    case RecordRole::kType: return "type";
    case RecordRole::kKey: return "key";
    case RecordRole::kName: return "name";
    case RecordRole::kValue: return "value";
    case RecordRole::kCatalog: return "catalog";
    case RecordRole::kContents: return "contents";
  }
  return "record";
}

std::span<const RecordRole> RecordsAfterType(GroupKind kind) {
  switch (kind) {
    case GroupKind::kTail: return {};
    case GroupKind::kValue: return kValueRecords;
    case GroupKind::kFile:
    case GroupKind::kCompressedFile:
    case GroupKind::kStub: return kFileRecords;
    case GroupKind::kArchive: return kArchiveRecords;
    case GroupKind::kOption:
    case GroupKind::kOther: return kOtherRecords;
  }
  return {};
}

std::string_view GroupType(GroupKind kind) {
  switch (kind) {
    case GroupKind::kTail: return TailMarker();
    case GroupKind::kValue: return kValueGroupType;
    case GroupKind::kFile: return kFileGroupType;
    case GroupKind::kCompressedFile: return kCompressedFileGroupType;
    case GroupKind::kArchive: return kArchiveGroupType;
    case GroupKind::kStub: return kStubGroupType;
    case GroupKind::kOption: return kOptionGroupType;
    case GroupKind::kOther: return {};
  }
  return {};
}

std::string_view GroupKindName(GroupKind kind) {
  switch (kind) {
    case GroupKind::kTail: return kTailKindName;
    case GroupKind::kOther: return kOtherKindName;
    case GroupKind::kValue:
    case GroupKind::kFile:
    case GroupKind::kCompressedFile:
    case GroupKind::kArchive:
    case GroupKind::kStub:
    case GroupKind::kOption: return GroupType(kind);
  }
  return kOtherKindName;
}

std::optional<ArchiveCatalog> ParseGroupCatalog(const Group& group) {
  if (group.contents.length > kMostCatalogBytes) return std::nullopt;
  return ParseCatalog(group.catalog);
}

RecordStatus GroupReader::ReadRecord(RecordRole role, Group& group) {
  failure_ = {role, reader_.Position(), {}};
  std::string* text = TextOf(role, group);
  if (text == nullptr) {
    if (!LocateRecordBackward(reader_, failure_.record)) return RecordStatus::kOutsideFile;
    group.contents = failure_.record;
    return RecordStatus::kOk;
  }
  // A type is kept long enough to tell the tail marker from other texts; a
  // name only long enough to tell that no system could hold it.
  size_t kept = kept_text_size_;
  if (role == RecordRole::kType) kept = std::max(kept, TailMarker().size());
  if (role == RecordRole::kName) kept = kMostFileNameBytes + 1;
  // A catalog is held whole up to its limit; a longer one is only hashed.
  if (role == RecordRole::kCatalog) kept = kMostCatalogBytes;
  const RecordStatus status = ReadRecordBackward(reader_, *text, kept, failure_.record);
  if (role == RecordRole::kCatalog) group.contents = failure_.record;
  // Decoded once, here, after the digest has covered the stored bytes. The
  // type is compared with ASCII texts only, and keeps its bytes; a catalog
  // is bytes, not text.
  if (role != RecordRole::kType && role != RecordRole::kCatalog &&
      (status == RecordStatus::kOk || status == RecordStatus::kDigestMismatch)) {
    *text = DecodeEnvelopeText(std::move(*text));
  }
  return Noted(status, role, group);
}

RecordStatus GroupReader::Noted(RecordStatus status, RecordRole role, Group& group) {
  if (status != RecordStatus::kDigestMismatch) return status;
  if (!group.bad_record) group.bad_record = role;
  return RecordStatus::kOk;
}

RecordStatus GroupReader::ReadRecords(std::span<const RecordRole> roles, Group& group) {
  for (const RecordRole role : roles) {
    if (const RecordStatus status = ReadRecord(role, group); status != RecordStatus::kOk) {
      return status;
    }
  }
  return RecordStatus::kOk;
}

RecordStatus GroupReader::ReadHead(Group& group) {
  group = Group();
  if (const RecordStatus status = ReadRecord(RecordRole::kType, group);
      status != RecordStatus::kOk) {
    return status;
  }
  group.kind = KindOfGroupType(group.type);
  return group.kind == GroupKind::kTail ? RecordStatus::kOk : ReadRecord(RecordRole::kKey, group);
}

RecordStatus GroupReader::ReadBody(Group& group) {
  const std::span<const RecordRole> records = RecordsAfterType(group.kind);
  return ReadRecords(records.empty() ? records : records.subspan(1), group);
}

RecordStatus GroupReader::Next(Group& group) {
  const RecordStatus status = ReadHead(group);
  return status == RecordStatus::kOk ? ReadBody(group) : status;
}

RecordStatus GroupReader::LocateFrame(RecordLocation& frame) {
  failure_ = {RecordRole::kContents, reader_.Position(), {}};
  if (!LocateRecordBackward(reader_, failure_.record)) return RecordStatus::kOutsideFile;
  frame = failure_.record;
  return RecordStatus::kOk;
}

RecordStatus GroupReader::VerifyContents(Group& group) {
  failure_ = {
      RecordRole::kContents,
      group.contents.start + group.contents.length + static_cast<int64_t>(kRecordTrailerSize),
      group.contents};
  const RecordStatus status =
      HashPayloadInChunks(reader_, group.contents, [](std::string_view) { return true; });
  return Noted(status, RecordRole::kContents, group);
}

}  // namespace format
