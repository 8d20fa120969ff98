// The envelope's record groups, and reading them one after the other.
//
// A group is read as a type record, then (for every type but the tail marker)
// a key record, then the type's further records:
//   tail marker  -> nothing more: the envelope is complete
//   "value"      -> key, value
//   "file"       -> key, name, contents (the file's bytes)
//   "stub"       -> key, name, contents (the reader program); the envelope's
//                   first group, and the end of the reader's walk
//   "option"     -> key (a setting of the reader itself; see options.h)
//   other        -> key; skipped
// In the file each group's records stand in the reverse order, type last, so
// that the record read first stands last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform.h"
#include "record.h"

namespace format {

// The type texts of the groups, besides the tail marker (see tail.h).
inline constexpr std::string_view kValueGroupType = "value";
inline constexpr std::string_view kFileGroupType = "file";
inline constexpr std::string_view kStubGroupType = "stub";
inline constexpr std::string_view kOptionGroupType = "option";

enum class GroupKind { kTail, kValue, kFile, kStub, kOption, kOther };

// The kind a type record's text names.
GroupKind KindOfGroupType(std::string_view type);

// The records of a group, by what they hold.
enum class RecordRole { kType, kKey, kName, kValue, kContents };

// "type", "key", "name", "value" or "contents".
const char* RecordRoleName(RecordRole role);

// The records a group of `kind` holds after its type, in reading order.
std::span<const RecordRole> RecordsAfterType(GroupKind kind);

// A group as read. The key, name and value are envelope text, decoded to
// UTF-8 as envelope_text.h says; the type keeps its stored bytes.
struct Group {
  GroupKind kind = GroupKind::kOther;
  std::string type;
  std::string key;
  std::string name;         // file and stub groups
  std::string value;        // value groups
  RecordLocation contents;  // file and stub groups: located (and verified, when
                            // the reading checks contents), not kept
  // Only when reading on past mismatches: the first of the group's records
  // whose digest does not match.
  std::optional<RecordRole> bad_record;
};

// How a GroupReader reads.
struct GroupReading {
  // Read a stub group's name and contents too; the reader's walk ends at the
  // stub's key and never reads its own program bytes.
  bool stub_records = false;
  // Note a record whose digest does not match in Group::bad_record and read
  // on, instead of stopping there.
  bool read_past_mismatches = false;
  // Read only the type of a group that is neither the tail nor an option,
  // leaving the position inside that group: for looking up the leading
  // options without verifying a file's contents.
  bool options_only = false;
  // Keep at most this many bytes of each text record (key, name, value; a
  // type always as much as the tail marker's length); every record is still
  // hashed whole.
  size_t kept_text_size = SIZE_MAX;
  // Hash a file or stub group's contents when locating them. Without it they
  // are only located, and whoever reads them must check their digest (the
  // walk hashes them as it writes them, reading them once).
  bool check_contents = true;
};

// The reader's walk: everything held, the first mismatch ends the reading,
// the contents left to the extraction to check.
inline constexpr GroupReading kWalkReading{.check_contents = false};

// Where and why a GroupReader stopped.
struct GroupReadFailure {
  RecordRole role = RecordRole::kType;  // the record that could not be read
  int64_t end = 0;                      // where that record ends
  RecordLocation record;                // where it lies, once located
};

// Reads the groups of an envelope backwards, from the end of the tail record
// (where FindEnvelopeTail leaves the file) towards the start of the file,
// through a BackwardReader of its own: the file's position is not used once
// it is made.
class GroupReader {
 public:
  GroupReader(platform::File& file, const GroupReading& reading)
      : reader_(file), reading_(reading) {}

  // Reads the group that ends at the current position into `group`. kOk: the
  // group is whole (its contents located, and their digest checked when the
  // reading says so), and the position is at its start. Otherwise the status
  // of the record that stopped the reading (kDigestMismatch only when not
  // reading past mismatches), `group` holds what was read before it and
  // failure() tells which record it was.
  RecordStatus Next(Group& group);

  const GroupReadFailure& failure() const { return failure_; }

  // The reader the groups are read through, for reading a group's contents
  // from its window; reading them does not move the position.
  BackwardReader& reader() { return reader_; }

 private:
  RecordStatus ReadRecord(RecordRole role, Group& group);

  BackwardReader reader_;
  GroupReading reading_;
  GroupReadFailure failure_;
};

}  // namespace format
