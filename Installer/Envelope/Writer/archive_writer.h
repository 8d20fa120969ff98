// Writing a folder tree as an archive group (see archive_catalog.h): the
// files' bytes as one stream, compressed with zstd (or stored) in frames of
// up to format::kMaxFrameOriginalSize bytes, a record each, then the catalog.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "archive_catalog.h"
#include "chunk_compression.h"
#include "envelope_writer.h"

namespace writer {

// A file's bytes as the writer reads them, once it reaches the file.
struct ArchiveFileReader {
  // Fills exactly the buffer it is given with the next bytes, or throws.
  std::function<void(char* buffer, size_t size)> read;
  // Called after the file's last byte; throws when the file is no longer
  // what was listed.
  std::function<void()> finish;
};

// One entry of the tree, in the catalog's order (ascending bytes of the
// paths).
struct ArchiveItem {
  format::EntryKind kind = format::EntryKind::kFile;
  uint16_t mode = 0;
  std::string path;
  uint64_t size = 0;  // a file's; its reader must deliver exactly this many bytes
  // Opens a file with bytes when the writer reaches it.
  std::function<ArchiveFileReader()> open;
};

// Writes the archive group of `items` to `envelope`: the frames, then the
// group's catalog, key and type. A tree whose catalog would be larger than
// a reader takes (format::kMostCatalogBytes) is written as several archive
// groups, each of a run of the items in order, the first run's group first
// (and so read last); a reader makes the directories they share once and
// fills them from each. `advanced` is told of every input byte as
// it is taken. Frames hold at most `frame_size` bytes. zstd compresses with
// a window as large as a frame may ask for (format::kMaxFrameWindowLog) and
// long-distance matching, which finds what files far apart share: at level
// 19 for kBest, level 9 for kFast; kNone stores the frames. Throws what the readers throw,
// std::length_error when a frame would not fit a record, and std::bad_alloc
// when zstd lacks memory.
void AddArchiveGroup(EnvelopeWriter& envelope, std::string_view key,
                     const std::vector<ArchiveItem>& items, Compression compression,
                     const std::function<void(uint64_t bytes)>& advanced,
                     uint32_t frame_size = format::kMaxFrameOriginalSize);

// The same in memory, for tests and fuzzers: an archive group of the files
// and directories `items` describes, whose file bytes `contents` holds in
// order, appended to `out`.
void AppendArchiveGroup(std::string& out, std::string_view key,
                        const std::vector<ArchiveItem>& items, std::string_view contents,
                        Compression compression,
                        uint32_t frame_size = format::kMaxFrameOriginalSize);

}  // namespace writer
