// Extracting an envelope's groups into a directory, or checking that they
// would extract: the one entry point the reader's walk and the envelope
// tool use.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive_catalog.h"
#include "decoding_threads.h"
#include "directory_maker.h"
#include "disk_room.h"
#include "groups.h"
#include "pending_file.h"
#include "progress_counter.h"
#include "record.h"
#include "writing_thread.h"

namespace extraction {

// Why a file or a folder tree did not come out, when it did not.
struct Failure {
  // Compressed contents, or a tree's frame, that do not decode as they
  // declare: a damaged envelope.
  bool damaged = false;
  // Otherwise the file or directory that could not be made or written (its
  // full path, as messages name it) and the system's error code; empty when
  // nothing failed.
  std::string path;
  int error = 0;

  bool failed() const { return damaged || !path.empty(); }
};

// How an archive group came out; where a file or directory could not be
// made or written, or the disk had no room, Extractor::failure() tells.
struct ArchiveOutcome {
  // kOk when every frame was read; kDigestMismatch when the catalog breaks
  // its rules (`bad_catalog`), a frame does not match its digest, or one
  // does not decode as declared (failure().damaged); kOutsideFile or
  // kReadFailed when a record could not be read.
  format::RecordStatus status = format::RecordStatus::kOk;
  bool bad_catalog = false;
  // The stored size of each frame, in stream order (0 for one not reached),
  // and how many frames were not reached: those below the one reading
  // stopped at.
  std::vector<uint32_t> frame_sizes;
  size_t frames_left = 0;
};

// Extracts groups one after the other as an envelope is read, into one
// directory (as DirectoryMaker makes things there) or, checking only,
// nowhere. Each file's contents are hashed (and decoded) into a temporary
// file in one pass; the file takes its own name only when the caller says
// so, once its group's records all matched. Compressed files may go on
// decoding on helper threads while later groups are read; they take their
// names in the order they were read, before any later archive group is
// extracted. Owns the helper threads, the disk's room, the directories and
// the files still decoding. Not for use from several threads.
class Extractor {
 public:
  // Extracts into `directory`, which ends in a separator and exists;
  // `progress`, when given, counts every envelope byte as it is read.
  Extractor(std::string directory, ProgressCounter* progress);

  // Checks only: contents are hashed and decoded, nothing is written.
  Extractor();

  ~Extractor();
  Extractor(const Extractor&) = delete;
  Extractor& operator=(const Extractor&) = delete;

  // Reads the contents of the file or compressed file group `group`, whose
  // body was read from `archive`: hashed, and decoded where compressed,
  // into a temporary file. A name that would leave the directory, or that no
  // system could hold, is only hashed and fails at PlaceFile; so does a
  // compressed file the disk has no room for (its declared size beside what
  // the helper threads have yet to write). kOk; kDigestMismatch when the
  // contents do not match their digest or break the compressed layout
  // (PlaceFile then tells damage); kReadFailed when they could not be read.
  format::RecordStatus ReadFile(format::BackwardReader& archive, const format::Group& group);

  // Drops the file ReadFile read last: its group did not read whole.
  void DropFile();

  // Gives the files read before the last one their names, in order; false
  // on the first that fails (failure() tells; the rest are discarded).
  // While the last one, compressed, still decodes, a few of them may stay
  // decoding.
  bool SettleEarlierFiles();

  // Gives the file ReadFile read last its name: a plain file's now, a
  // compressed file's once its chunks are decoded, which may wait while
  // `more` groups are read (but not when its name may be a temporary
  // file's). False when it, or a file read before, did not come out
  // (failure() tells). Checking only: whether its contents decode.
  bool PlaceFile(bool more);

  // Why the last of the calls above that returned false failed; after
  // ExtractArchive, what could not be made or written (or found damaged),
  // when anything.
  const Failure& failure() const { return failure_; }

  // Extracts the archive group `group`, whose catalog `groups` read, after
  // every file read before it has its name: its directories, then its
  // frames from the last to the first, each checked against its digest
  // before a byte of it is decoded, leaving `groups` at the group's start
  // when all were read. Stops at the first failure.
  ArchiveOutcome ExtractArchive(format::GroupReader& groups, const format::Group& group);

  // The dot-named directories made (see DirectoryMaker).
  const std::vector<std::string>& made_dot_directories() const;

 private:
  using PendingFiles = std::vector<std::unique_ptr<PendingFile>>;

  // Places the files still decoding in order, from the front, as long as
  // more than `most_left` remain or the next has all its chunks back.
  bool PlaceDecoded(size_t most_left);

  ProgressCounter* progress_;
  const bool writing_;          // false: checking only
  DirectoryMaker directories_;  // opened only when writing
  DiskRoom room_;               // of the directory extracted to
  Failure failure_;
  WritingThread writing_thread_;
  DecodingThreads decoding_threads_;
  // The file ReadFile read last, and those read before it still decoding;
  // after the threads and the directories, so that they go first.
  std::unique_ptr<PendingFile> last_;
  bool last_compressed_ = false;
  bool last_may_name_temporary_ = false;
  PendingFiles decoding_;
};

}  // namespace extraction
