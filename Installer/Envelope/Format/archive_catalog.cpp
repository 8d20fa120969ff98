#include "archive_catalog.h"

#include <algorithm>

#include "file_names.h"
#include "little_endian.h"

namespace format {

namespace {

// Reads the catalog's fixed-size fields in order, failing (for good) as soon
// as one would reach past the payload's end.
class FieldReader {
 public:
  explicit FieldReader(std::string_view bytes) : bytes_(bytes) {}

  bool Take(size_t size, std::string_view& field) {
    if (failed_ || bytes_.size() - position_ < size) {
      failed_ = true;
      return false;
    }
    field = bytes_.substr(position_, size);
    position_ += size;
    return true;
  }

  uint64_t Number(size_t size) {
    std::string_view field;
    if (!Take(size, field)) return 0;
    uint64_t value = 0;
    for (size_t i = size; i-- > 0;) value = value << 8 | static_cast<unsigned char>(field[i]);
    return value;
  }

  size_t left() const { return bytes_.size() - position_; }
  bool failed() const { return failed_; }

 private:
  std::string_view bytes_;
  size_t position_ = 0;
  bool failed_ = false;
};

bool ParseEntry(FieldReader& fields, ArchiveEntry& entry) {
  const uint64_t kind = fields.Number(1);
  entry.mode = static_cast<uint16_t>(fields.Number(2));
  const uint64_t path_size = fields.Number(4);
  if (fields.failed() || kind > 1 || entry.mode > kMostEntryMode || path_size == 0 ||
      path_size > kMostFileNameBytes || !fields.Take(static_cast<size_t>(path_size), entry.path)) {
    return false;
  }
  entry.kind = static_cast<EntryKind>(kind);
  entry.size = fields.Number(8);
  return !fields.failed() && (entry.kind == EntryKind::kFile || entry.size == 0);
}

// Tells, for paths taken in ascending order, whether one passes through a
// file taken before. The paths that begin with a given text stand together
// in that order, so only the files that begin the path now taken can lie on
// its way: they are kept on a stack, each beginning the next, and those that
// no longer begin the path are dropped. Time and memory stay linear in the
// catalog but for a few thousand files each beginning the next.
class FilesOnTheWay {
 public:
  // Whether `path` passes through a file taken before; takes `path`, a file
  // when `file`.
  bool PassesThroughFile(std::string_view path, bool file) {
    while (!files_.empty() && !path.starts_with(files_.back())) files_.pop_back();
    for (const std::string_view taken : files_) {
      if (taken.size() < path.size() && path[taken.size()] == '/') return true;
    }
    if (file) files_.push_back(path);
    return false;
  }

 private:
  std::vector<std::string_view> files_;
};

}  // namespace

bool IsArchivePath(std::string_view path) {
  if (path.empty() || IsFileNameTooLong(path) || !IsContainedFileName(path) ||
      path.find('\\') != std::string_view::npos ||
      static_cast<size_t>(std::count(path.begin(), path.end(), '/')) >= kMostPathNames ||
      MayNameTemporaryFile(path.substr(0, path.find('/')))) {
    return false;
  }
  // Every name as Windows would hold it, on every system, so that a tree
  // comes out the same everywhere.
  return !AnyNameComponent(path, [](std::string_view component) {
    return component == "." || component == ".." ||
           WindowsNameProblemOf(component) != WindowsNameProblem::kNone;
  });
}

size_t ArchiveCatalog::FirstEntryEndingAfter(uint64_t offset) const {
  const auto found = std::partition_point(
      entries.begin(), entries.end(),
      [offset](const ArchiveEntry& entry) { return entry.offset + entry.size <= offset; });
  return static_cast<size_t>(found - entries.begin());
}

std::optional<ArchiveCatalog> ParseCatalog(std::string_view payload) {
  FieldReader fields(payload);
  const uint64_t entry_count = fields.Number(4);
  const uint64_t frame_count = fields.Number(4);
  // Bounded by what the payload can hold before anything is reserved.
  if (fields.failed() || entry_count > fields.left() / kCatalogEntryFixedSize ||
      frame_count > fields.left() / kCatalogFrameSize) {
    return std::nullopt;
  }
  ArchiveCatalog catalog;
  catalog.entries.resize(static_cast<size_t>(entry_count));
  FilesOnTheWay files;
  std::string_view previous;
  for (ArchiveEntry& entry : catalog.entries) {
    if (!ParseEntry(fields, entry) || !IsArchivePath(entry.path) ||
        (!previous.empty() && !(previous < entry.path)) ||
        files.PassesThroughFile(entry.path, entry.kind == EntryKind::kFile) ||
        entry.size > UINT64_MAX / 2 - catalog.stream_size) {
      return std::nullopt;
    }
    previous = entry.path;
    entry.offset = catalog.stream_size;
    catalog.stream_size += entry.size;
  }
  if (frame_count > fields.left() / kCatalogFrameSize) return std::nullopt;
  catalog.frames.resize(static_cast<size_t>(frame_count));
  uint64_t framed = 0;
  for (ArchiveFrame& frame : catalog.frames) {
    const uint64_t method = fields.Number(1);
    const uint64_t original_size = fields.Number(4);
    if (fields.failed() || method > 1 || original_size == 0 ||
        original_size > kMaxFrameOriginalSize) {
      return std::nullopt;
    }
    frame = {static_cast<FrameMethod>(method), static_cast<uint32_t>(original_size), framed};
    framed += original_size;
  }
  if (fields.left() != 0 || framed != catalog.stream_size) return std::nullopt;
  return catalog;
}

std::string EncodeCatalog(const ArchiveCatalog& catalog) {
  std::string out;
  AppendLittleEndian32(out, static_cast<uint32_t>(catalog.entries.size()));
  AppendLittleEndian32(out, static_cast<uint32_t>(catalog.frames.size()));
  for (const ArchiveEntry& entry : catalog.entries) {
    out += static_cast<char>(entry.kind);
    out += static_cast<char>(entry.mode & 0xFF);
    out += static_cast<char>(entry.mode >> 8);
    AppendLittleEndian32(out, static_cast<uint32_t>(entry.path.size()));
    out += entry.path;
    AppendLittleEndian64(out, entry.size);
  }
  for (const ArchiveFrame& frame : catalog.frames) {
    out += static_cast<char>(frame.method);
    AppendLittleEndian32(out, frame.original_size);
  }
  return out;
}

}  // namespace format
