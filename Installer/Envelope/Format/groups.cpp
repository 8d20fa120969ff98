#include "groups.h"

#include <algorithm>

#include "envelope_text.h"
#include "tail.h"

namespace format {

namespace {

constexpr RecordRole kValueRecords[] = {RecordRole::kKey, RecordRole::kValue};
constexpr RecordRole kFileRecords[] = {RecordRole::kKey, RecordRole::kName, RecordRole::kContents};
constexpr RecordRole kOtherRecords[] = {RecordRole::kKey};

// Where each text record's payload goes.
std::string* TextOf(RecordRole role, Group& group) {
  switch (role) {
    case RecordRole::kType: return &group.type;
    case RecordRole::kKey: return &group.key;
    case RecordRole::kName: return &group.name;
    case RecordRole::kValue: return &group.value;
    case RecordRole::kContents: return nullptr;
  }
  return nullptr;
}

}  // namespace

GroupKind KindOfGroupType(std::string_view type) {
  if (type == TailMarker()) return GroupKind::kTail;
  if (type == kValueGroupType) return GroupKind::kValue;
  if (type == kFileGroupType) return GroupKind::kFile;
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
    case RecordRole::kContents: return "contents";
  }
  return "record";
}

std::span<const RecordRole> RecordsAfterType(GroupKind kind) {
  switch (kind) {
    case GroupKind::kTail: return {};
    case GroupKind::kValue: return kValueRecords;
    case GroupKind::kFile:
    case GroupKind::kStub: return kFileRecords;
    case GroupKind::kOption:
    case GroupKind::kOther: return kOtherRecords;
  }
  return {};
}

RecordStatus GroupReader::ReadRecord(RecordRole role, Group& group) {
  failure_ = {role, reader_.Position(), {}};
  std::string* text = TextOf(role, group);
  // A type is kept long enough to tell the tail marker from other texts.
  const size_t kept = role == RecordRole::kType
                          ? std::max(reading_.kept_text_size, TailMarker().size())
                          : reading_.kept_text_size;
  RecordStatus status;
  if (text != nullptr) {
    status = ReadRecordBackward(reader_, *text, kept, failure_.record);
  } else if (reading_.check_contents) {
    status = VerifyRecordBackward(reader_, failure_.record);
  } else {
    status = LocateRecordBackward(reader_, failure_.record) ? RecordStatus::kOk
                                                            : RecordStatus::kOutsideFile;
  }
  const bool read_whole = status == RecordStatus::kOk || status == RecordStatus::kDigestMismatch;
  if (role == RecordRole::kContents && read_whole) group.contents = failure_.record;
  // Decoded once, here, after the digest has covered the stored bytes. The
  // type is compared with ASCII texts only, and keeps its bytes.
  if (text != nullptr && role != RecordRole::kType && read_whole) {
    *text = DecodeEnvelopeText(std::move(*text));
  }
  if (status == RecordStatus::kDigestMismatch && reading_.read_past_mismatches) {
    if (!group.bad_record) group.bad_record = role;
    status = RecordStatus::kOk;
  }
  return status;
}

RecordStatus GroupReader::Next(Group& group) {
  group = Group();
  if (const RecordStatus status = ReadRecord(RecordRole::kType, group);
      status != RecordStatus::kOk) {
    return status;
  }
  group.kind = KindOfGroupType(group.type);
  if (reading_.options_only && group.kind != GroupKind::kTail && group.kind != GroupKind::kOption) {
    return RecordStatus::kOk;
  }
  std::span<const RecordRole> records = RecordsAfterType(group.kind);
  if (group.kind == GroupKind::kStub && !reading_.stub_records) records = records.first(1);
  for (const RecordRole role : records) {
    if (const RecordStatus status = ReadRecord(role, group); status != RecordStatus::kOk) {
      return status;
    }
  }
  return RecordStatus::kOk;
}

}  // namespace format
