// Extracting an archive group (see archive_catalog.h): its directories and
// files, from frames that are each checked against their record's digest
// before a byte of them is decoded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive_catalog.h"
#include "directory_maker.h"
#include "groups.h"
#include "pending_file.h"
#include "progress_counter.h"
#include "record.h"

namespace extraction {

// How an archive's extraction ended.
struct ArchiveResult {
  // kOk when every frame was read; kDigestMismatch when a frame's record does
  // not match its digest, or its frame does not decode as the catalog
  // declares (`damaged`); kOutsideFile or kReadFailed when a record could
  // not be read whole.
  format::RecordStatus status = format::RecordStatus::kOk;
  bool damaged = false;
  // A directory or file that could not be made or written (its full path),
  // and the system's error code; empty when none.
  std::string failed_path;
  int error = 0;
  // The stored size of each frame read, in stream order (0 for one not
  // reached).
  std::vector<uint32_t> frame_sizes;
  // How many frames' records were located, from the last frame down: the
  // reader's position is at the start of the last of them.
  size_t frames_located = 0;

  bool failed() const { return !failed_path.empty(); }
};

// Extracts the archive whose catalog `catalog` is, after `groups` has read
// the group's catalog record: reads its frames' records, the last frame
// first, leaving `groups` at the group's start when all were read.
//
// With `directories`, first makes every directory the catalog lists or a
// file lies in, and the empty files; then, per frame, checks the record's
// digest, and only then decodes it, writing the files that lie wholly in it
// straight under their names (on a helper thread, a batch of files at a
// time) and those that span frames under a temporary name in the top
// directory, which they leave once their last frame is in. Everything is
// made as DirectoryMaker makes it: where nothing stands, or a file in place
// of an earlier file of exactly its name. Without `directories` every frame
// is checked and decoded, and nothing is written.
//
// Stops at the first failure. A frame that does not decode as declared
// leaves nothing of the files it holds; a file that cannot be written is
// removed; a decoder that lacks memory fails naming the frame's first file.
// `progress`, when given, counts every record byte as it is read.
ArchiveResult ExtractArchive(format::GroupReader& groups, const format::ArchiveCatalog& catalog,
                             DirectoryMaker* directories, ProgressCounter* progress);

}  // namespace extraction
