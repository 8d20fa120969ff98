#include "envelope_walk.h"

#include <memory>
#include <optional>
#include <vector>

#include "archive_catalog.h"
#include "archive_extraction.h"
#include "compressed_contents.h"
#include "decoding_threads.h"
#include "directory_maker.h"
#include "envelope_text.h"
#include "extraction_progress.h"
#include "file_extraction.h"
#include "file_names.h"
#include "groups.h"
#include "messages.h"
#include "platform.h"
#include "record.h"
#include "reporting.h"
#include "tail.h"
#include "walk_rule.h"

namespace reader {

using extraction::DecodingSlots;
using extraction::DecodingThreads;
using extraction::DirectoryMaker;
using extraction::DiskRoom;
using extraction::ExtractCompressedContents;
using extraction::ExtractContents;
using extraction::MayNameTemporaryFile;
using extraction::PendingFile;
using extraction::WritingThread;

namespace {

// A message box ends its text at a zero byte, so a zero byte in a path is
// shown as "\0" to keep the rest of the message. After a caught interruption
// every read fails: stopping because the user asked to is no failure to tell
// about.
void ReportFileError(const MessageDestination& messages, const char* caption,
                     const std::string& path, int error) {
  if (platform::CaughtInterruption() != 0) return;
  std::string shown;
  for (const char c : path) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
  ReportMessage(messages, "File: " + shown + "\rError: " + platform::SystemErrorText(error),
                caption);
}

// How much of a name too long for any system a message shows.
constexpr size_t kShownNameBytes = 256;

// Refuses on `file`, before anything is created, a name that would lead out
// of `work_directory` or that no system could hold; true when it did. A name
// too long is shown only in part, so that the message stays short.
bool RefuseUnextractableName(const std::string& work_directory, const std::string& name,
                             PendingFile& file) {
  if (format::IsFileNameTooLong(name)) {
    file.Refuse(work_directory + std::string(format::Utf8Prefix(name, kShownNameBytes)) + "...",
                platform::kErrorNameTooLong);
    return true;
  }
  if (!format::IsContainedFileName(name)) {
    file.Refuse(work_directory + name, platform::kErrorInvalidName);
    return true;
  }
  return false;
}

// Extracts a file group's contents: hashed and written to a temporary file
// in one pass, a name refused (it would lead out of the work directory) only
// hashed. The file takes its name later, in PlaceFile.
format::RecordStatus ExtractFile(DirectoryMaker& directories, const format::Group& group,
                                 format::BackwardReader& archive, PendingFile& file,
                                 WritingThread& writing_thread, DiskRoom& room,
                                 ExtractionProgress& progress) {
  if (!RefuseUnextractableName(directories.top(), group.name, file)) {
    file.Create(directories, group.name, directories.top() + group.name);
    room.Spend(group.contents.length);
  }
  return ExtractContents(archive, group.contents, file, writing_thread, progress);
}

// Gives a file whose contents matched their digest its own name, replacing
// an existing file. A file that could not be written whole is reported and
// left nowhere, an install failure; a compressed one that does not decode is
// a damaged envelope.
bool PlaceFile(PendingFile& file, RunState& state) {
  if (file.MoveToName()) return true;
  if (file.damaged()) {
    state.envelope_valid = false;
    ReportInvalidArchive(state.messages);
  } else {
    ReportFileError(state.messages, kFailedToExtractFile, file.path(), file.error());
    state.failure = RunFailure::kInstallFailure;
  }
  return false;
}

// Compressed files whose contents matched their digest, in reading order,
// whose chunks may still be decoding while the next groups are read.
using DecodingFiles = std::vector<std::unique_ptr<PendingFile>>;

// The most files left decoding, each with its temporary file open, while the
// next groups are read: as many as there can be decoding slots, so that the
// reader holds a small, fixed number of files open whatever the envelope
// holds (empty files, which hand over no chunks, included).
constexpr size_t kMostFilesDecoding = 4;

// Places the files of `decoding` in order, from the front: each whose chunks
// have all come back, and, waiting for their chunks, as many more as it
// takes to leave at most `most_left` behind. On the first that fails the rest
// are discarded; false then.
bool PlaceDecodedFiles(DecodingFiles& decoding, size_t most_left, RunState& state) {
  size_t placed = 0;
  for (; placed < decoding.size(); ++placed) {
    if (decoding.size() - placed <= most_left && decoding[placed]->chunks_in_flight() > 0) break;
    if (!PlaceFile(*decoding[placed], state)) {
      decoding.clear();
      return false;
    }
  }
  decoding.erase(decoding.begin(), decoding.begin() + static_cast<ptrdiff_t>(placed));
  return true;
}

// Extracts a compressed file group's contents, its chunks decoded and
// written on the decoding threads. A disk without room for the size they
// declare refuses the file from the start, before anything is written (sizes
// that do not add up are found damaged all the same).
format::RecordStatus ExtractCompressedFile(DirectoryMaker& directories, const format::Group& group,
                                           format::BackwardReader& archive, PendingFile& file,
                                           DecodingThreads& threads, DiskRoom& room,
                                           ExtractionProgress& progress) {
  const std::string path = directories.top() + group.name;
  const char* header = group.contents.length < format::kCompressedHeaderSize
                           ? nullptr
                           : archive.View(group.contents.start, format::kCompressedHeaderSize);
  const uint64_t declared =
      header == nullptr ? 0 : format::DeclaredOriginalSize({header, format::kCompressedHeaderSize});
  if (RefuseUnextractableName(directories.top(), group.name, file)) {
    // Only hashed and parsed.
  } else if (!room.Take(declared, threads.UnwrittenBytes())) {
    file.Refuse(path, platform::kErrorDiskFull);
  } else {
    file.Create(directories, group.name, path);
  }
  return ExtractCompressedContents(archive, group.contents, file, threads, &progress);
}

// Extracts an archive group whose catalog has been read: a catalog that
// breaks its rules, a frame whose digest does not match or that does not
// decode as declared is a damaged envelope (noted in group.bad_record, for
// the walk to report); a disk without room for the sizes the catalog
// declares, or a directory or file that cannot be made, is reported as a
// file that cannot be extracted. Whether the walk goes on.
bool ExtractArchiveGroup(format::GroupReader& groups, format::Group& group, RunState& state,
                         DirectoryMaker& directories, DiskRoom& room,
                         ExtractionProgress& progress) {
  const std::optional<format::ArchiveCatalog> catalog = format::ParseGroupCatalog(group);
  if (!catalog) {
    group.bad_record = format::RecordRole::kCatalog;
    return true;
  }
  if (!room.Take(catalog->stream_size, 0)) {
    ReportFileError(state.messages, kFailedToExtractFile, state.work_directory,
                    platform::kErrorDiskFull);
    state.failure = RunFailure::kInstallFailure;
    return false;
  }
  const extraction::ArchiveResult result =
      extraction::ExtractArchive(groups, *catalog, &directories, &progress);
  if (result.failed()) {
    ReportFileError(state.messages, kFailedToExtractFile, result.failed_path, result.error);
    state.failure = RunFailure::kInstallFailure;
    return false;
  }
  if (result.status == format::RecordStatus::kDigestMismatch) {
    group.bad_record = format::RecordRole::kContents;
    return true;
  }
  // A read failure ends the walk silently.
  return result.status == format::RecordStatus::kOk;
}

// Hands the dot-named directories the walk made to the run's state, whenever
// the walk ends: the end-of-run removal would keep them otherwise.
class MadeDirectories {
 public:
  MadeDirectories(const DirectoryMaker& directories, RunState& state)
      : directories_(directories), state_(state) {}
  ~MadeDirectories() {
    state_.extracted_directories.insert(state_.extracted_directories.end(),
                                        directories_.made_dot_directories().begin(),
                                        directories_.made_dot_directories().end());
  }
  MadeDirectories(const MadeDirectories&) = delete;
  MadeDirectories& operator=(const MadeDirectories&) = delete;

 private:
  const DirectoryMaker& directories_;
  RunState& state_;
};

// Opens the program file at `program_path` at the end of its envelope's
// tail; false, reported, when it cannot be opened or holds no envelope.
bool OpenEnvelope(const std::string& program_path, platform::File& archive, RunState& state) {
  archive = platform::File::OpenForReading(program_path);
  if (!archive.IsOpen()) {
    ReportFileError(state.messages, kFailedToOpenArchive, program_path, platform::LastErrorCode());
    return false;
  }
  // A missing marker is no system error: report it as such, not as whatever
  // failed earlier in the run.
  platform::ClearLastError();
  if (!format::FindEnvelopeTail(archive)) {
    ReportFileError(state.messages, kFailedToInitializeArchive, program_path,
                    platform::LastErrorCode());
    return false;
  }
  return true;
}

// What the walk keeps from one group to the next, made in this order and
// undone in the reverse one: the threads outlive every PendingFile, and the
// directories made are handed to the run's state before they go.
struct Walk {
  Walk(platform::File& archive, RunState& state)
      : envelope_end(archive.Position()),
        progress(envelope_end, state.messages),
        groups(archive),
        rule(state.variables),
        decoding_threads(DecodingSlots()),
        room(state.work_directory),
        directories(state.work_directory),
        made(directories, state) {}

  // The envelope is read from its end down; everything above the position
  // is done, but for a file's contents, which count as they are written.
  const int64_t envelope_end;
  ExtractionProgress progress;
  format::GroupReader groups;
  format::WalkRule rule;
  WritingThread writing_thread;
  DecodingThreads decoding_threads;
  DiskRoom room;
  DirectoryMaker directories;
  const MadeDirectories made;
  DecodingFiles decoding;
};

// Whether a group's records so far were read whole and matched.
bool ReadWhole(format::RecordStatus status, const format::Group& group) {
  return status == format::RecordStatus::kOk && !group.bad_record;
}

// Reads the next group's head and, but for the stub group's, its body: the
// stub group ends the walk at its key, its name and contents, the reader
// program itself, never read.
format::RecordStatus ReadGroup(format::GroupReader& groups, format::Group& group) {
  const format::RecordStatus status = groups.ReadHead(group);
  if (!ReadWhole(status, group) || group.kind == format::GroupKind::kStub) return status;
  return groups.ReadBody(group);
}

// Extracts a file group's contents to `file` under a temporary name, a
// mismatch of their digest noted in group.bad_record.
format::RecordStatus ExtractGroupFile(Walk& walk, format::Group& group, PendingFile& file) {
  const format::RecordStatus status =
      group.kind == format::GroupKind::kFile
          ? ExtractFile(walk.directories, group, walk.groups.reader(), file, walk.writing_thread,
                        walk.room, walk.progress)
          : ExtractCompressedFile(walk.directories, group, walk.groups.reader(), file,
                                  walk.decoding_threads, walk.room, walk.progress);
  if (status != format::RecordStatus::kDigestMismatch) return status;
  group.bad_record = format::RecordRole::kContents;
  return format::RecordStatus::kOk;
}

// Extracts an archive group after the files read before it, which come
// first, so that no temporary file of theirs is left for the archive's
// files to meet. Whether the walk goes on.
bool ExtractGroupArchive(Walk& walk, format::Group& group, RunState& state) {
  return PlaceDecodedFiles(walk.decoding, 0, state) &&
         ExtractArchiveGroup(walk.groups, group, state, walk.directories, walk.room, walk.progress);
}

// Discards `file` unless its group was read whole, then places the files
// read before this group, which come first, with their own failures: all of
// them, but while this group's compressed file decodes as many as may stay
// decoding. Whether the walk goes on.
bool SettleEarlierFiles(Walk& walk, format::RecordStatus status, const format::Group& group,
                        PendingFile& file, RunState& state) {
  const bool read_whole = ReadWhole(status, group);
  if (!read_whole) file.Discard();
  const bool still_decoding = read_whole && group.kind == format::GroupKind::kCompressedFile;
  return PlaceDecodedFiles(walk.decoding, still_decoding ? kMostFilesDecoding : 0, state);
}

// Takes a group read whole, or one whose digest did not match, as the walk's
// rule says, passing the rule's verdict and options to the run's state, and
// reports a mismatch. Whether the rule lets the walk go on after it.
bool TakeGroup(Walk& walk, const format::Group& group, RunState& state) {
  const bool goes_on = walk.rule.Take(group);
  state.envelope_valid = walk.rule.envelope_valid();
  state.options = walk.rule.options();
  if (group.bad_record) ReportInvalidArchive(state.messages);
  return goes_on;
}

// Gives a file group's file its name: a plain file's now; a compressed
// file's once its chunks are decoded, left decoding only while the walk goes
// on (`goes_on`) and its name cannot be a temporary file's. Whether that
// succeeded.
bool PlaceGroupFile(Walk& walk, const format::Group& group, std::unique_ptr<PendingFile> file,
                    bool goes_on, RunState& state) {
  if (group.kind == format::GroupKind::kFile) return PlaceFile(*file, state);
  if (group.kind != format::GroupKind::kCompressedFile) return true;
  // A file that is to take a name a temporary file may have is placed
  // before the next temporary file is made, so that it never takes that
  // file's name from under it.
  const bool keeps_decoding = goes_on && !MayNameTemporaryFile(group.name);
  walk.decoding.push_back(std::move(file));
  return PlaceDecodedFiles(walk.decoding, keeps_decoding ? kMostFilesDecoding : 0, state);
}

// Reads the next group and applies it to `state`. Each group arrives
// verified but for a file's contents, which are read once, hashed and
// written under a temporary name together. The effects keep their order:
// the digest decides, then the variable is added, then the file takes its
// name. Nothing appears under the name of a file whose contents do not
// match. Whether the walk goes on.
bool WalkGroup(Walk& walk, RunState& state) {
  walk.progress.Reached(walk.envelope_end - walk.groups.reader().Position());
  auto file = std::make_unique<PendingFile>();
  format::Group group;
  format::RecordStatus status = ReadGroup(walk.groups, group);
  if (ReadWhole(status, group) && format::IsFileGroup(group.kind)) {
    status = ExtractGroupFile(walk, group, *file);
  }
  if (ReadWhole(status, group) && group.kind == format::GroupKind::kArchive &&
      !ExtractGroupArchive(walk, group, state)) {
    return false;
  }
  if (!SettleEarlierFiles(walk, status, group, *file, state)) return false;
  // A read failure ends the walk silently; a digest mismatch is reported.
  if (status != format::RecordStatus::kOk && !group.bad_record) return false;
  const bool goes_on = TakeGroup(walk, group, state);
  if (group.bad_record) return false;  // the mismatch ends the walk
  return PlaceGroupFile(walk, group, std::move(file), goes_on, state) && goes_on;
}

}  // namespace

// Kept out of line: inlined into the run sequence, it pushed the launch and
// the work directory's set-up out of line instead, and the reader grew.
[[gnu::noinline]] void WalkEnvelope(const std::string& program_path, RunState& state) {
  platform::File archive;
  if (!OpenEnvelope(program_path, archive, state)) return;
  Walk walk(archive, state);
  // Group after group, down to the stub group or the first that ends the walk.
  while (WalkGroup(walk, state)) continue;
}

}  // namespace reader
