#include "envelope_walk.h"

#include "envelope_reader.h"
#include "messages.h"
#include "platform.h"

namespace {

// A message box ends its text at a zero byte, so a zero byte in a path is
// shown as "\0" to keep the rest of the message.
void ReportFileError(const char* caption, const std::string& path, int error) {
  std::string shown;
  for (const char c : path) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
  platform::ReportMessage("File: " + shown + "\rError: " + platform::SystemErrorText(error), caption);
}

// Copies the verified record `contents` of `archive` to the new file work
// directory + `name`, a chunk at a time. A file that cannot be written whole
// is removed, so that no truncated file is left for the setup program.
bool ExtractFile(const std::string& work_directory, const std::string& name,
                 platform::File& archive, const RecordLocation& contents) {
  const std::string path = work_directory + name;
  if (!IsContainedFileName(name)) {
    ReportFileError(kFailedToExtractFile, path, platform::kErrorInvalidName);
    return false;
  }
  platform::File target = platform::File::CreateForWriting(path);
  if (!target.IsOpen()) {
    ReportFileError(kFailedToExtractFile, path, platform::LastErrorCode());
    return false;
  }
  const bool copied = ReadPayloadInChunks(archive, contents, [&](std::string_view chunk) {
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

bool IsContainedFileName(std::string_view name) {
  // The system reads a name only up to a zero byte: what follows one would
  // escape the checks below ("..\0x" is opened as "..").
  if (name.find('\0') != std::string_view::npos) return false;
  if (!name.empty() && (name.front() == '/' || name.front() == '\\')) return false;
  if (name.size() >= 2 && name[1] == ':') return false;  // a drive, as in "C:x"
  size_t start = 0;
  for (;;) {
    const size_t end = name.find_first_of("/\\", start);
    if (name.substr(start, end - start) == "..") return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

void WalkEnvelope(const std::string& program_path, RunState& state) {
  platform::File archive = platform::File::OpenForReading(program_path);
  if (!archive.IsOpen()) {
    ReportFileError(kFailedToOpenArchive, program_path, platform::LastErrorCode());
    return;
  }
  // A missing marker is no system error: report it as such, not as whatever
  // failed earlier in the run.
  platform::ClearLastError();
  if (!FindEnvelopeTail(archive)) {
    ReportFileError(kFailedToInitializeArchive, program_path, platform::LastErrorCode());
    return;
  }

  auto read = [&](std::string& payload) {
    return ReadRecordBackward(archive, payload, state.envelope_valid);
  };
  std::string type, key, name, value;
  RecordLocation contents;
  while (read(type)) {
    if (type == TailMarker()) {
      state.envelope_valid = true;
      continue;
    }
    if (!read(key)) return;
    if (type == kValueGroupType) {
      if (!read(value)) return;
      state.variables.emplace(key, value);
    } else if (type == kFileGroupType) {
      // The contents may be large: verified in one pass, then copied in a
      // second, so that nothing is written for a record that does not match.
      if (!read(name) || !VerifyRecordBackward(archive, contents, state.envelope_valid)) return;
      if (!key.empty()) state.variables.emplace(key, name);
      if (!ExtractFile(state.work_directory, name, archive, contents)) return;
    } else if (type == kStubGroupType) {
      return;
    }
  }
}
