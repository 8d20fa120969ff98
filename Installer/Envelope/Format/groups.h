// The envelope's record groups, and reading them one after the other.
//
// A group is read as a type record, then (for every type but the tail marker)
// a key record, then the type's further records:
//   tail marker  -> nothing more: the envelope is complete
//   "value"      -> key, value
//   "file"       -> key, name, contents (the file's bytes)
//   "zfile"      -> key, name, contents (the file's bytes compressed in
//                   chunks; see compressed_contents.h)
//   "archive"    -> key, catalog, then one contents record per frame (a
//                   folder tree; see archive_catalog.h)
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

#include "archive_catalog.h"
#include "platform_files.h"
#include "record.h"

namespace format {

// The type texts of the groups, besides the tail marker (see tail.h).
inline constexpr std::string_view kValueGroupType = "value";
inline constexpr std::string_view kFileGroupType = "file";
inline constexpr std::string_view kCompressedFileGroupType = "zfile";
inline constexpr std::string_view kStubGroupType = "stub";
// kArchiveGroupType is in archive_catalog.h.
inline constexpr std::string_view kOptionGroupType = "option";

enum class GroupKind { kTail, kValue, kFile, kCompressedFile, kArchive, kStub, kOption, kOther };

// Whether a group of `kind` is a file for the work directory: "file" or
// "zfile".
constexpr bool IsFileGroup(GroupKind kind) {
  return kind == GroupKind::kFile || kind == GroupKind::kCompressedFile;
}

// The kind a type record's text names.
GroupKind KindOfGroupType(std::string_view type);

// The records of a group, by what they hold.
enum class RecordRole { kType, kKey, kName, kValue, kCatalog, kContents };

// "type", "key", "name", "value", "catalog" or "contents".
const char* RecordRoleName(RecordRole role);

// The records a group of `kind` holds after its type, in reading order.
std::span<const RecordRole> RecordsAfterType(GroupKind kind);

// The type text of a group of `kind`; for kOther, which names no one type,
// an empty text.
std::string_view GroupType(GroupKind kind);

// What a listing calls a group of `kind`: its type text, but "tail" for the
// tail (whose type text is the tail marker) and "other" for a type no reader
// knows.
std::string_view GroupKindName(GroupKind kind);

// A group as read. The key, name and value are envelope text, decoded to
// UTF-8 as envelope_text.h says; the type keeps its stored bytes.
struct Group {
  GroupKind kind = GroupKind::kOther;
  std::string type;
  std::string key;
  std::string name;         // file, compressed file and stub groups
  std::string value;        // value groups
  std::string catalog;      // archive groups: the catalog's payload, when it is small
                            // enough to hold (see kMostCatalogBytes)
  RecordLocation contents;  // file, compressed file and stub groups: located, not kept;
                            // archive groups: where the catalog lies
  // The first of the group's records whose digest does not match.
  std::optional<RecordRole> bad_record;
};

// The catalog of an archive group whose body was read, or nothing when it
// breaks the rules of archive_catalog.h, its record longer than
// kMostCatalogBytes among them. Its paths point into group.catalog.
std::optional<ArchiveCatalog> ParseGroupCatalog(const Group& group);

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
//
// A group is read in two steps: its head (the type record and, for every
// kind but the tail, the key) and its body (the records after the key). Every text record is read
// whole and its digest checked; a file or stub group's contents are only located, for whoever reads
// them to check (VerifyContents, or while extracting them). A record whose digest does not match is
// noted in Group::bad_record and the reading goes on with the next one, so that the position stays
// at record boundaries; a record that cannot be read whole ends the reading.
class GroupReader {
 public:
  // Keys and values longer than `kept_text_size` bytes are kept only in
  // part, though hashed whole; a type is always kept as long as the tail
  // marker, and a name up to kMostFileNameBytes + 1 bytes (see
  // file_names.h): whole when some system could hold it, else enough for
  // IsFileNameTooLong to tell.
  explicit GroupReader(platform::File& file, size_t kept_text_size = SIZE_MAX)
      : reader_(file), kept_text_size_(kept_text_size) {}

  // Reads the head of the group that ends at the current position into
  // `group`, which is cleared first. kOk when every record was read whole
  // (group.bad_record tells whether their digests matched) and the position
  // is at the head's start; otherwise the status of the record that could not
  // be read, and failure() tells which.
  RecordStatus ReadHead(Group& group);

  // Reads the rest of the group whose head ReadHead read into `group`: a value
  // group's value, a file or stub group's name and contents. Results as for
  // ReadHead; on kOk the position is at the group's start.
  RecordStatus ReadBody(Group& group);

  // ReadHead, then ReadBody.
  RecordStatus Next(Group& group);

  // Reads the contents `group`'s body located and checks their digest, a
  // mismatch noted in group.bad_record. kOk when they were read whole; the
  // position does not move.
  RecordStatus VerifyContents(Group& group);

  // Locates the record that ends at the current position as the next frame
  // of the archive group whose catalog ReadBody read (see
  // archive_catalog.h), and moves to its start; neither read nor checked.
  // kOk, or kOutsideFile when it does not fit in the file.
  RecordStatus LocateFrame(RecordLocation& frame);

  const GroupReadFailure& failure() const { return failure_; }

  // The reader the groups are read through, for reading a group's contents
  // from its window; reading them does not move the position.
  BackwardReader& reader() { return reader_; }

 private:
  RecordStatus ReadRecords(std::span<const RecordRole> roles, Group& group);
  RecordStatus ReadRecord(RecordRole role, Group& group);
  RecordStatus Noted(RecordStatus status, RecordRole role, Group& group);

  BackwardReader reader_;
  size_t kept_text_size_;
  GroupReadFailure failure_;
};

}  // namespace format
