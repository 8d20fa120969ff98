#include "envelope_walk.h"

#include <string>
#include <vector>

#include "envelope_text.h"
#include "extraction_progress.h"
#include "extractor.h"
#include "file_names.h"
#include "groups.h"
#include "messages.h"
#include "platform_files.h"
#include "platform_processes.h"
#include "platform_system.h"
#include "record.h"
#include "reporting.h"
#include "tail.h"
#include "walk_rule.h"

namespace reader {

namespace {

// A message box ends its text at a zero byte, so a zero byte in a path is
// shown as "\0" to keep the rest of the message. After a caught interruption
// every read fails: stopping because the user asked to is no failure to tell
// about.
void ReportFileError(const MessageDestination& messages, const char* caption,
                     const std::string& path, int error) {
  if (platform::CaughtInterruption() != 0) return;
  std::string shown;
  for (const char c : path) {
    if (c == '\0') {
      shown += "\\0";
    } else {
      shown += c;
    }
  }
  ReportMessage(messages, "File: " + shown + "\rError: " + platform::SystemErrorText(error),
                caption);
}

// How much of a name too long for any system a message shows.
constexpr size_t kShownNameBytes = 256;

// The path of a file in the work directory as a message names it: a name
// longer than any system holds only by its start, so that the message stays
// short.
std::string ShownPath(const std::string& path, const RunState& state) {
  const size_t top = state.work_directory.size();
  if (path.size() <= top + format::kMostFileNameBytes) return path;
  return std::string(format::Utf8Prefix(path, top + kShownNameBytes)) + "...";
}

// Reports a file or tree that did not come out, the extractor's failure:
// one whose compressed contents do not decode makes the envelope damaged;
// one that could not be written is an install failure. False.
bool Reported(const extraction::Failure& failure, RunState& state) {
  if (failure.damaged) {
    state.envelope_valid = false;
    ReportInvalidArchive(state.messages);
  } else {
    ReportFileError(state.messages, kFailedToExtractFile, ShownPath(failure.path, state),
                    failure.error);
    state.failure = RunFailure::kInstallFailure;
  }
  return false;
}

// Hands the dot-named directories the walk made to the run's state, whenever
// the walk ends: the end-of-run removal would keep them otherwise.
class MadeDirectories {
 public:
  MadeDirectories(const extraction::Extractor& extractor, RunState& state)
      : extractor_(extractor), state_(state) {}
  ~MadeDirectories() {
    const std::vector<std::string>& made = extractor_.made_dot_directories();
    state_.extracted_directories.insert(state_.extracted_directories.end(), made.begin(),
                                        made.end());
  }
  MadeDirectories(const MadeDirectories&) = delete;
  MadeDirectories& operator=(const MadeDirectories&) = delete;

 private:
  const extraction::Extractor& extractor_;
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
// undone in the reverse one: the directories made are handed to the run's
// state before the extractor goes.
struct Walk {
  Walk(platform::File& archive, RunState& state)
      : envelope_end(archive.Position()),
        progress(envelope_end, state.messages),
        groups(archive),
        rule(state.variables),
        extractor(state.work_directory, &progress),
        made(extractor, state) {}

  // The envelope is read from its end down; everything above the position
  // is done, but for a file's contents, which count as they are written.
  const int64_t envelope_end;
  ExtractionProgress progress;
  format::GroupReader groups;
  format::WalkRule rule;
  extraction::Extractor extractor;
  const MadeDirectories made;
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

// Reads a file group's contents into a temporary file, a mismatch of their
// digest noted in group.bad_record.
format::RecordStatus ExtractGroupFile(Walk& walk, format::Group& group) {
  const format::RecordStatus status = walk.extractor.ReadFile(walk.groups.reader(), group);
  if (status != format::RecordStatus::kDigestMismatch) return status;
  group.bad_record = format::RecordRole::kContents;
  return format::RecordStatus::kOk;
}

// Extracts an archive group whose catalog has been read: a catalog that
// breaks its rules, a frame whose digest does not match or that does not
// decode as declared is a damaged envelope (noted in group.bad_record, for
// the walk to report); a disk without room for the sizes the catalog
// declares, or a directory or file that cannot be made, is reported as a
// file that cannot be extracted. Whether the walk goes on.
bool ExtractGroupArchive(Walk& walk, format::Group& group, RunState& state) {
  const extraction::ArchiveOutcome outcome = walk.extractor.ExtractArchive(walk.groups, group);
  if (outcome.status == format::RecordStatus::kDigestMismatch) {
    group.bad_record =
        outcome.bad_catalog ? format::RecordRole::kCatalog : format::RecordRole::kContents;
    return true;
  }
  if (walk.extractor.failure().failed()) return Reported(walk.extractor.failure(), state);
  // A read failure ends the walk silently.
  return outcome.status == format::RecordStatus::kOk;
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

// Reads the next group and applies it to `state`. Each group arrives
// verified but for a file's contents, which are read once, hashed and
// written under a temporary name together. The effects keep their order:
// the digest decides, then the variable is added, then the file takes its
// name (the files read before it first). Nothing appears under the name of a
// file whose contents do not match. Whether the walk goes on.
bool WalkGroup(Walk& walk, RunState& state) {
  walk.progress.Reached(walk.envelope_end - walk.groups.reader().Position());
  format::Group group;
  format::RecordStatus status = ReadGroup(walk.groups, group);
  if (ReadWhole(status, group) && format::IsFileGroup(group.kind)) {
    status = ExtractGroupFile(walk, group);
  }
  if (ReadWhole(status, group) && group.kind == format::GroupKind::kArchive &&
      !ExtractGroupArchive(walk, group, state)) {
    return false;
  }
  if (!ReadWhole(status, group)) walk.extractor.DropFile();
  if (!walk.extractor.SettleEarlierFiles()) return Reported(walk.extractor.failure(), state);
  // A read failure ends the walk silently; a digest mismatch is reported.
  if (status != format::RecordStatus::kOk && !group.bad_record) return false;
  const bool goes_on = TakeGroup(walk, group, state);
  if (group.bad_record) return false;  // the mismatch ends the walk
  if (!walk.extractor.PlaceFile(goes_on)) return Reported(walk.extractor.failure(), state);
  return goes_on;
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
