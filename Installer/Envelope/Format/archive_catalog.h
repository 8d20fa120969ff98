// The catalog of an archive group ("archive"): a folder tree, its files'
// bytes as one stream cut into frames, each frame in a record of its own.
//
// An archive group is read as its type, its key, the catalog record, then one
// contents record per frame, the LAST frame first: the writer writes the
// frames as it compresses them, in stream order, and the catalog after them,
// so that the reader finds the catalog first. Every frame decodes on its own,
// so the order they are read in does not matter to what they hold.
//
// The catalog's payload is, all numbers little-endian:
//   entry count                    4 bytes
//   frame count                    4 bytes
//   for each entry, in strictly ascending byte order of the paths:
//     kind                         1 byte: 0 a file, 1 a directory
//     mode                         2 bytes: permission bits, at most 0777
//     path size                    4 bytes: 1 to kMostFileNameBytes
//     path                         UTF-8 components joined by "/"
//     size                         8 bytes: a file's bytes; 0 for a directory
//   for each frame, in stream order:
//     method                       1 byte: 0 stored, 1 zstd
//     original size                4 bytes: 1 to kMaxFrameOriginalSize
// and nothing after. The stream is the files' bytes one after the other in
// catalog order; the frames' original sizes add up to the files' sizes. A
// stored frame's record holds its bytes as they are; a zstd frame's record
// holds exactly one zstd frame (RFC 8878) that decodes to its original size
// with a window of at most 2^kMaxFrameWindowLog bytes.
//
// A path has at most kMostPathNames components, none of them empty, "." or
// "..", no "\", no zero byte and no leading "/", and no name Windows could
// not hold as it is (see WindowsNameProblemOf: no reserved character,
// trailing dot or space, or device name); its first component is no name a
// temporary file may have (see file_names.h), so that no entry ever takes a
// pending file's name; and no path passes through a file: every proper
// prefix of a path that ends before a "/" is, where the catalog lists it, a
// directory.
// Directories a path passes through need not be listed; those listed are
// made even when empty. Contents that break any rule are a damaged envelope.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace format {

inline constexpr std::string_view kArchiveGroupType = "archive";

inline constexpr size_t kCatalogHeaderSize = 8;
inline constexpr size_t kCatalogEntryFixedSize = 1 + 2 + 4 + 8;
inline constexpr size_t kCatalogFrameSize = 1 + 4;

// A reader holds the catalog whole, so it is kept small: 16 MiB, which lists
// some hundred thousand files with long paths.
inline constexpr size_t kMostCatalogBytes = 16 * 1024 * 1024;

// A frame decodes to at most 1 GiB, so that its stored bytes always fit a
// record, whatever they are.
inline constexpr uint32_t kMaxFrameOriginalSize = 1024 * 1024 * 1024;

// The largest window a zstd frame may ask for: 128 MiB, the most a reader
// holds for a frame's history.
inline constexpr int kMaxFrameWindowLog = 27;

// A path has at most this many names: a reader holds a directory open for
// each name on the way to what it makes, and its removal goes as deep.
inline constexpr size_t kMostPathNames = 256;

// The permission bits an entry may carry, and the execute bits among them.
inline constexpr uint16_t kMostEntryMode = 0777;
inline constexpr uint16_t kExecuteBits = 0111;

enum class EntryKind : uint8_t { kFile = 0, kDirectory = 1 };
enum class FrameMethod : uint8_t { kStored = 0, kZstd = 1 };

struct ArchiveEntry {
  EntryKind kind = EntryKind::kFile;
  uint16_t mode = 0;
  std::string_view path;  // into the catalog's payload (or the writer's text)
  uint64_t size = 0;
  uint64_t offset = 0;  // where the file's bytes begin in the stream

  bool executable() const { return (mode & kExecuteBits) != 0; }
};

struct ArchiveFrame {
  FrameMethod method = FrameMethod::kStored;
  uint32_t original_size = 0;
  uint64_t offset = 0;  // where its bytes begin in the stream
};

struct ArchiveCatalog {
  std::vector<ArchiveEntry> entries;
  std::vector<ArchiveFrame> frames;
  uint64_t stream_size = 0;  // the files' bytes, all together

  // The index of the first entry whose bytes reach past stream offset
  // `offset` (entries.size() when none does): the first file a frame that
  // begins there holds bytes of.
  size_t FirstEntryEndingAfter(uint64_t offset) const;
};

// Parses a catalog's payload, checking every rule above; nothing when one is
// broken. The entries' paths point into `payload`, which must outlive the
// result. Counts are bounded by the payload's length before anything is
// reserved.
std::optional<ArchiveCatalog> ParseCatalog(std::string_view payload);

// Whether `path` is a path an entry may have (see above), the ordering and
// the passing through files aside.
bool IsArchivePath(std::string_view path);

// The payload of `catalog`, whose entries and frames the writer filled in
// (offsets and the stream size are not stored and may be left out).
std::string EncodeCatalog(const ArchiveCatalog& catalog);

}  // namespace format
