#include "envelope_scan.h"

#include <algorithm>
#include <optional>

#include "archive_catalog.h"
#include "compressed_contents.h"
#include "launch.h"
#include "platform_files.h"
#include "platform_system.h"
#include "tail.h"
#include "tool_error.h"
#include "utf8_path.h"
#include "walk_rule.h"
#include "windows_program.h"

namespace tool {

namespace {

// Keys and values longer than 64 KiB are kept only in part; they are still
// hashed whole (names: see GroupReader).
constexpr size_t kKeptTextSize = 64 * 1024;

// Reads compressed contents through the reader's extraction, writing
// nothing, and notes whether they matched their digest and decode.
format::RecordStatus CheckCompressedContents(format::BackwardReader& archive,
                                             extraction::Extractor& checker, ScannedGroup& group) {
  const format::RecordStatus status = checker.ReadFile(archive, group);
  if (status == format::RecordStatus::kReadFailed) {
    checker.DropFile();
    return status;
  }
  const bool decoded = checker.PlaceFile(false);
  if (!decoded || status != format::RecordStatus::kOk) {
    if (!group.bad_record) group.bad_record = format::RecordRole::kContents;
    group.undecodable = status == format::RecordStatus::kOk || checker.failure().damaged;
  }
  return format::RecordStatus::kOk;
}

// The share of the stored frames each file has, by the bytes it has in each.
std::vector<uint64_t> StoredShares(const format::ArchiveCatalog& catalog,
                                   const std::vector<uint32_t>& frame_sizes) {
  std::vector<uint64_t> shares(catalog.entries.size(), 0);
  for (size_t f = 0; f < catalog.frames.size(); ++f) {
    const format::ArchiveFrame& frame = catalog.frames[f];
    const uint64_t end = frame.offset + frame.original_size;
    for (size_t e = catalog.FirstEntryEndingAfter(frame.offset);
         e < catalog.entries.size() && catalog.entries[e].offset < end; ++e) {
      const format::ArchiveEntry& entry = catalog.entries[e];
      const uint64_t overlap =
          std::min(end, entry.offset + entry.size) - std::max(frame.offset, entry.offset);
      shares[e] += overlap * frame_sizes[f] / frame.original_size;
    }
  }
  return shares;
}

// Lists the tree of an archive group whose frames were read, `frame_sizes`
// their stored sizes, into `group`.
void ListArchiveEntries(const format::ArchiveCatalog& catalog,
                        const std::vector<uint32_t>& frame_sizes, ScannedGroup& group) {
  const std::vector<uint64_t> shares = StoredShares(catalog, frame_sizes);
  for (size_t e = 0; e < catalog.entries.size(); ++e) {
    const format::ArchiveEntry& entry = catalog.entries[e];
    group.entries.push_back({std::string(entry.path), entry.kind == format::EntryKind::kDirectory,
                             entry.executable(), entry.size, shares[e]});
  }
}

// Locates the `count` frames left below a bad one, neither read nor
// checked, so that the scan goes on with the next group; adds their sizes
// to the group's.
format::RecordStatus LocateFramesLeft(format::GroupReader& reader, size_t count,
                                      ScannedGroup& group) {
  for (size_t located = 0; located < count; ++located) {
    format::RecordLocation frame;
    if (const format::RecordStatus status = reader.LocateFrame(frame);
        status != format::RecordStatus::kOk) {
      return status;
    }
    group.size += frame.length;
  }
  return format::RecordStatus::kOk;
}

// Reads an archive group's frames through the reader's extraction, writing
// nothing, and notes whether its catalog keeps the rules and its frames
// match their digests and decode; lists its tree.
format::RecordStatus CheckArchive(format::GroupReader& reader, extraction::Extractor& checker,
                                  ScannedGroup& group) {
  group.size = group.contents.length;
  const extraction::ArchiveOutcome outcome = checker.ExtractArchive(reader, group);
  if (outcome.bad_catalog) {
    group.bad_record = format::RecordRole::kCatalog;
    group.undecodable = true;
    return format::RecordStatus::kOk;
  }
  if (!checker.failure().path.empty()) {
    throw ToolError("cannot check the frames of " + Quoted(checker.failure().path) + ": " +
                    platform::SystemErrorText(checker.failure().error));
  }
  const std::optional<format::ArchiveCatalog> catalog = format::ParseGroupCatalog(group);
  group.original_size = catalog->stream_size;
  for (const uint32_t size : outcome.frame_sizes) group.size += size;
  ListArchiveEntries(*catalog, outcome.frame_sizes, group);
  if (outcome.status != format::RecordStatus::kDigestMismatch) return outcome.status;
  group.bad_record = format::RecordRole::kContents;
  group.undecodable = checker.failure().damaged;
  return LocateFramesLeft(reader, outcome.frames_left, group);
}

// What the reader's walk makes of a run of groups.
struct WalkOutcome {
  format::ReaderOptions options;
  bool envelope_valid = false;
};

// Takes the scanned groups as the reader's walk takes them (format::WalkRule),
// adding their variables to `table`.
WalkOutcome WalkScannedGroups(const std::vector<ScannedGroup>& groups,
                              format::VariableTable& table) {
  format::WalkRule walk(table);
  for (const ScannedGroup& group : groups) {
    if (!walk.Take(group)) break;
  }
  return {walk.options(), walk.envelope_valid()};
}

// Opens the installer at `path` at its end; throws ToolError when it is no
// regular file or cannot be read.
platform::File OpenInstaller(const std::filesystem::path& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    throw ToolError(Quoted(Utf8FromPath(path)) + " is not a regular file");
  }
  platform::File file = platform::File::OpenForReading(Utf8FromPath(path));
  if (!file.IsOpen() || !file.SeekToEnd()) {
    throw ToolError("cannot read " + Quoted(Utf8FromPath(path)) + ": " +
                    platform::SystemErrorText(platform::LastErrorCode()));
  }
  return file;
}

// Notes the size of `file`, open at its end, whether it is a Windows program
// and where its certificate table lies.
void InspectProgram(platform::File& file, EnvelopeScan& scan) {
  scan.file_size = file.Position();
  const WindowsProgramFacts facts = InspectWindowsProgram(file);
  scan.windows_program = facts.is_windows_program;
  scan.headers = facts.headers;
  if (facts.has_signature) {
    scan.certificate_table = InspectCertificateTable(file, facts.certificates, scan.file_size);
  }
}

// Finds the envelope's tail, leaving `file` at its end; false, with the
// problem noted, when there is none.
bool FindTail(platform::File& file, EnvelopeScan& scan) {
  if (!format::FindEnvelopeTail(file)) {
    scan.problem = scan.certificate_table && scan.certificate_table->in_file
                       ? "no envelope in the signed part of the file: the tail marker is missing "
                         "before the certificate table"
                       : "no envelope: the tail marker is missing";
    return false;
  }
  scan.tail_found = true;
  scan.envelope_end = file.Position();
  return true;
}

// Reads the next group whole, its contents hashed and compressed contents
// decoded as the reader decodes them, mismatches noted in the group.
format::RecordStatus ReadAndCheckGroup(format::GroupReader& reader, extraction::Extractor& checker,
                                       ScannedGroup& group) {
  format::RecordStatus read = reader.Next(group);
  if (read == format::RecordStatus::kOk &&
      (group.kind == format::GroupKind::kFile || group.kind == format::GroupKind::kStub)) {
    read = reader.VerifyContents(group);
  }
  if (read == format::RecordStatus::kOk && group.kind == format::GroupKind::kCompressedFile) {
    read = CheckCompressedContents(reader.reader(), checker, group);
  }
  if (read == format::RecordStatus::kOk && group.kind == format::GroupKind::kArchive &&
      !group.bad_record) {
    read = CheckArchive(reader, checker, group);
  }
  return read;
}

// Notes the stored size of a group, and the extracted size of a file.
void SizeGroup(format::BackwardReader& reader, ScannedGroup& group) {
  switch (group.kind) {
    case format::GroupKind::kTail: group.size = group.type.size(); break;
    case format::GroupKind::kValue: group.size = group.value.size(); break;
    case format::GroupKind::kFile:
    case format::GroupKind::kStub: group.size = group.original_size = group.contents.length; break;
    case format::GroupKind::kCompressedFile:
      group.size = group.contents.length;
      group.original_size = format::DeclaredOriginalSize(reader, group.contents);
      break;
    case format::GroupKind::kArchive:  // sized by CheckArchive
    case format::GroupKind::kOption:
    case format::GroupKind::kOther: break;
  }
}

// Why reading stopped at the record `failure` tells of, `read` how.
std::string ReadProblem(format::RecordStatus read, const format::GroupReadFailure& failure) {
  const std::string role = format::RecordRoleName(failure.role);
  return read == format::RecordStatus::kOutsideFile
             ? "the " + role + " record ending at offset " + std::to_string(failure.end) +
                   " does not fit in the file"
             : "reading the " + role + " record at offset " + std::to_string(failure.record.start) +
                   " failed";
}

// Reads the groups from the tail, where `file` is, down to the stub group or
// the first record that cannot be read. Every record is read and hashed, the
// stub's too, and compressed contents decoded as the reader decodes them;
// mismatches are noted and the reading goes on.
void ScanGroups(platform::File& file, EnvelopeScan& scan) {
  format::GroupReader reader(file, kKeptTextSize);
  extraction::Extractor checker;
  for (;;) {
    ScannedGroup group;
    const format::RecordStatus read = ReadAndCheckGroup(reader, checker, group);
    SizeGroup(reader.reader(), group);
    if (read != format::RecordStatus::kOk) {
      scan.problem = ReadProblem(read, reader.failure());
      // A group whose type could be read is shown as far as it goes.
      if (reader.failure().role != format::RecordRole::kType) {
        scan.groups.push_back(std::move(group));
      }
      return;
    }
    if (group.kind == format::GroupKind::kStub && scan.signed_program() &&
        group.bad_record == format::RecordRole::kContents) {
      group.changed_by_signing =
          StubMatchesBeforeSigning(reader.reader(), group.contents, scan.headers);
    }
    scan.groups.push_back(std::move(group));
    if (scan.groups.back().kind == format::GroupKind::kStub) {
      scan.reached_stub = true;
      return;
    }
  }
}

// Gives the scan its verdict: the walk's on the groups read, and a problem
// when the reading ended before the stub group without one.
void JudgeEnvelope(EnvelopeScan& scan) {
  if (!scan.reached_stub && scan.problem.empty()) scan.problem = "no stub group";
  format::VariableTable table;
  scan.walk_valid = WalkScannedGroups(scan.groups, table).envelope_valid;
}

}  // namespace

bool EnvelopeScan::ChangedBySigning(const ScannedGroup& group) const {
  return group.changed_by_signing;
}

const ScannedGroup* EnvelopeScan::FirstBadGroup() const {
  for (const ScannedGroup& group : groups) {
    if (group.bad_record && !ChangedBySigning(group)) return &group;
  }
  return nullptr;
}

bool EnvelopeScan::Valid() const {
  if (!walk_valid || !reached_stub) return false;
  const ScannedGroup& stub = groups.back();
  return !stub.bad_record || ChangedBySigning(stub);
}

EnvelopeScan ScanEnvelope(const std::filesystem::path& path) {
  platform::File file = OpenInstaller(path);
  EnvelopeScan scan;
  InspectProgram(file, scan);
  if (!FindTail(file, scan)) return scan;
  ScanGroups(file, scan);
  JudgeEnvelope(scan);
  return scan;
}

format::ReaderOptions ReaderOptions(const EnvelopeScan& scan) {
  format::VariableTable table;
  return WalkScannedGroups(scan.groups, table).options;
}

format::VariableTable ReaderVariables(const EnvelopeScan& scan, const std::string& work_directory) {
  format::VariableTable table;
  format::SetBuiltInVariables(table, work_directory, "");
  WalkScannedGroups(scan.groups, table);
  return table;
}

InstallerFiles::InstallerFiles(const std::filesystem::path& installer,
                               const std::filesystem::path& directory)
    : file_(platform::File::OpenForReading(Utf8FromPath(installer))),
      extractor_(Utf8FromPath(directory / ""), nullptr) {
  if (!file_.IsOpen() || !file_.SeekToEnd()) {
    throw ToolError("cannot read the installer " + Quoted(Utf8FromPath(installer)) + ": " +
                    platform::SystemErrorText(platform::LastErrorCode()));
  }
  archive_.emplace(file_);
}

void InstallerFiles::ExtractFile(const ScannedGroup& group) {
  const format::RecordStatus status = extractor_.ReadFile(*archive_, group);
  if (status != format::RecordStatus::kOk) extractor_.DropFile();
  if (status == format::RecordStatus::kReadFailed) {
    throw ToolError("reading the contents of " + Quoted(group.name) +
                    " failed: " + platform::SystemErrorText(platform::LastErrorCode()));
  }
  const bool placed = extractor_.PlaceFile(false);
  if (status != format::RecordStatus::kOk || (!placed && extractor_.failure().damaged)) {
    throw ToolError(Quoted(group.name) +
                    ": the contents changed since they were verified, or do not decode");
  }
  if (!placed) {
    throw ToolError("cannot write " + Quoted(extractor_.failure().path) + ": " +
                    platform::SystemErrorText(extractor_.failure().error));
  }
}

void InstallerFiles::ExtractArchive(const ScannedGroup& group) {
  // Read from the catalog's start down, as the reader's walk reads it.
  if (!file_.Seek(group.contents.start - file_.Position())) {
    throw ToolError("cannot read the installer: " +
                    platform::SystemErrorText(platform::LastErrorCode()));
  }
  format::GroupReader frames(file_);
  const extraction::ArchiveOutcome outcome = extractor_.ExtractArchive(frames, group);
  if (outcome.bad_catalog) throw ToolError("the archive's catalog changed since it was verified");
  if (!extractor_.failure().path.empty()) {
    throw ToolError("cannot write " + Quoted(extractor_.failure().path) + ": " +
                    platform::SystemErrorText(extractor_.failure().error));
  }
  if (outcome.status == format::RecordStatus::kReadFailed) {
    throw ToolError("reading the archive failed: " +
                    platform::SystemErrorText(platform::LastErrorCode()));
  }
  if (outcome.status != format::RecordStatus::kOk) {
    throw ToolError("the archive changed since it was verified, or does not decode");
  }
}

}  // namespace tool
