#include "envelope_walk.h"

#include "extraction_progress.h"
#include "file_names.h"
#include "groups.h"
#include "launch.h"
#include "messages.h"
#include "options.h"
#include "platform.h"
#include "record.h"
#include "tail.h"

namespace reader {

namespace {

// A message box ends its text at a zero byte, so a zero byte in a path is
// shown as "\0" to keep the rest of the message. After a caught interruption
// every read fails: stopping because the user asked to is no failure to tell
// about.
void ReportFileError(const char* caption, const std::string& path, int error) {
  if (platform::CaughtInterruption() != 0) return;
  std::string shown;
  for (const char c : path) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
  platform::ReportMessage("File: " + shown + "\rError: " + platform::SystemErrorText(error),
                          caption);
}

// Copies the verified record `contents` of `archive` to the new file work
// directory + `name`, a chunk at a time. A file that cannot be written whole
// is removed, so that no truncated file is left for the setup program.
bool ExtractFile(const std::string& work_directory, const std::string& name,
                 platform::File& archive, const format::RecordLocation& contents,
                 ExtractionProgress& progress) {
  const std::string path = work_directory + name;
  if (!format::IsContainedFileName(name)) {
    ReportFileError(kFailedToExtractFile, path, platform::kErrorInvalidName);
    return false;
  }
  platform::File target = platform::File::CreateForWriting(path);
  if (!target.IsOpen()) {
    ReportFileError(kFailedToExtractFile, path, platform::LastErrorCode());
    return false;
  }
  const bool copied = format::ReadPayloadInChunks(archive, contents, [&](std::string_view chunk) {
    progress.Advance(static_cast<int64_t>(chunk.size()));
    return target.Write(chunk.data(), chunk.size());
  });
  if (!copied || !target.Close()) {
    const int error = platform::LastErrorCode();
    target.Close();
    platform::RemoveFile(path);
    ReportFileError(kFailedToExtractFile, path, error);
    return false;
  }
  return true;
}

}  // namespace

void WalkEnvelope(const std::string& program_path, RunState& state) {
  platform::File archive = platform::File::OpenForReading(program_path);
  if (!archive.IsOpen()) {
    ReportFileError(kFailedToOpenArchive, program_path, platform::LastErrorCode());
    return;
  }
  // A missing marker is no system error: report it as such, not as whatever
  // failed earlier in the run.
  platform::ClearLastError();
  if (!format::FindEnvelopeTail(archive)) {
    ReportFileError(kFailedToInitializeArchive, program_path, platform::LastErrorCode());
    return;
  }

  // The envelope is read from its end down; everything above the position is
  // done, but for a file's contents, which count as they are copied.
  const int64_t envelope_end = archive.Position();
  ExtractionProgress progress(envelope_end);

  // Each group arrives verified, a file's contents included: nothing is
  // written for a record that does not match, and the contents are copied in
  // a second pass.
  format::GroupReader groups(archive, format::kWalkReading);
  format::OptionCollector options;
  format::Group group;
  for (;;) {
    progress.Reached(envelope_end - archive.Position());
    const format::RecordStatus status = groups.Next(group);
    if (status == format::RecordStatus::kDigestMismatch) {
      ReportInvalidArchive();
      state.envelope_valid = false;
    }
    if (status != format::RecordStatus::kOk) return;  // read failures end the walk silently

    format::InsertGroupVariable(state.variables, group);
    options.Add(group);
    state.options = options.options();
    switch (group.kind) {
      case format::GroupKind::kTail: state.envelope_valid = true; break;
      case format::GroupKind::kFile:
        if (!ExtractFile(state.work_directory, group.name, archive, group.contents, progress)) {
          state.failure = RunFailure::kInstallFailure;
          return;
        }
        break;
      case format::GroupKind::kStub: return;
      case format::GroupKind::kValue:
      case format::GroupKind::kOption:
      case format::GroupKind::kOther: break;
    }
  }
}

}  // namespace reader
