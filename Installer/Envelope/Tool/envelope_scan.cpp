#include "envelope_scan.h"

#include "envelope_walk.h"
#include "md5.h"
#include "platform.h"
#include "tool_error.h"
#include "windows_program.h"

namespace {

// Texts longer than this are kept only in part (they are still hashed whole).
constexpr size_t kKeptTextSize = 64 * 1024;

class GroupScanner {
 public:
  explicit GroupScanner(platform::File& file) : file_(file) {}

  // Reads the record ending at the current position into `text` (at most
  // kKeptTextSize bytes of it) and notes a digest mismatch against `group`.
  // Returns false, with `problem` set, when the record cannot be read.
  bool Read(ScannedGroup& group, const char* role, std::string* text, RecordLocation* location,
            std::string& problem) {
    RecordLocation record;
    const int64_t end = file_.Position();
    if (!LocateRecordBackward(file_, record)) {
      problem = "the " + std::string(role) + " record ending at offset " + std::to_string(end) +
                " does not fit in the file";
      return false;
    }
    Md5Hasher hasher;
    const bool read = ReadPayloadInChunks(file_, record, [&](std::string_view chunk) {
      hasher.Update(chunk);
      if (text != nullptr && text->size() < kKeptTextSize) {
        text->append(chunk.substr(0, kKeptTextSize - text->size()));
      }
      return true;
    });
    if (!read) {
      problem = "reading the " + std::string(role) + " record at offset " +
                std::to_string(record.start) + " failed";
      return false;
    }
    if (hasher.Digest() != record.digest && group.bad_record.empty()) group.bad_record = role;
    if (location != nullptr) *location = record;
    return true;
  }

 private:
  platform::File& file_;
};

GroupKind KindOf(const std::string& type) {
  if (type == TailMarker()) return GroupKind::kTail;
  if (type == kValueGroupType) return GroupKind::kValue;
  if (type == kFileGroupType) return GroupKind::kFile;
  if (type == kStubGroupType) return GroupKind::kStub;
  return GroupKind::kOther;
}

}  // namespace

const ScannedGroup* EnvelopeScan::FirstBadGroup() const {
  for (const ScannedGroup& group : groups) {
    if (group.bad_record.empty()) continue;
    if (group.kind == GroupKind::kStub && group.bad_record == "contents" && signed_program) continue;
    return &group;
  }
  return nullptr;
}

EnvelopeScan ScanEnvelope(const std::filesystem::path& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    throw ToolError(Quoted(path.string()) + " is not a regular file");
  }
  platform::File file = platform::File::OpenForReading(path.string());
  if (!file.IsOpen() || !file.SeekToEnd()) {
    throw ToolError("cannot read " + Quoted(path.string()) + ": " +
                    platform::SystemErrorText(platform::LastErrorCode()));
  }
  EnvelopeScan scan;
  scan.file_size = file.Position();
  const WindowsProgramFacts facts = InspectWindowsProgram(file);
  scan.windows_program = facts.is_windows_program;
  scan.signed_program = facts.has_signature;
  if (!FindEnvelopeTail(file)) {
    scan.problem = "no envelope: the tail marker is missing";
    return scan;
  }
  scan.tail_found = true;
  scan.envelope_end = file.Position();

  GroupScanner scanner(file);
  for (;;) {
    ScannedGroup group;
    if (!scanner.Read(group, "type", &group.type, nullptr, scan.problem)) break;
    group.kind = KindOf(group.type);
    if (group.kind == GroupKind::kTail) {
      group.size = group.type.size();
      scan.groups.push_back(std::move(group));
      continue;
    }
    bool read = scanner.Read(group, "key", &group.key, nullptr, scan.problem);
    if (read && group.kind == GroupKind::kValue) {
      read = scanner.Read(group, "value", &group.value, nullptr, scan.problem);
      group.size = group.value.size();
    } else if (read && (group.kind == GroupKind::kFile || group.kind == GroupKind::kStub)) {
      read = scanner.Read(group, "name", &group.name, nullptr, scan.problem) &&
             scanner.Read(group, "contents", nullptr, &group.contents, scan.problem);
      group.size = group.contents.length;
    }
    scan.groups.push_back(std::move(group));
    if (!read) break;
    if (scan.groups.back().kind == GroupKind::kStub) {
      scan.reached_stub = true;
      break;
    }
  }
  if (!scan.reached_stub && scan.problem.empty()) scan.problem = "no stub group";
  return scan;
}

VariableTable ReaderVariables(const EnvelopeScan& scan, const std::string& work_directory) {
  VariableTable table;
  table["source"] = work_directory.substr(0, work_directory.size() - 1);
  table["commandline"] = "";
  for (const ScannedGroup& group : scan.groups) {
    if (!group.bad_record.empty()) break;  // the reader's walk ends there
    if (group.kind == GroupKind::kValue) table.emplace(group.key, group.value);
    if (group.kind == GroupKind::kFile && !group.key.empty()) table.emplace(group.key, group.name);
  }
  return table;
}

void CopyRecordToFile(const std::filesystem::path& installer, const RecordLocation& record,
                      const std::filesystem::path& target) {
  auto fail = [&](const std::string& what) {
    throw ToolError(what + " " + Quoted(target.string()) + ": " +
                    platform::SystemErrorText(platform::LastErrorCode()));
  };
  platform::File file = platform::File::OpenForReading(installer.string());
  if (!file.IsOpen()) fail("cannot read the installer for");
  std::error_code error;
  if (std::filesystem::exists(std::filesystem::symlink_status(target, error))) {
    throw ToolError(Quoted(target.string()) + " already exists");
  }
  platform::File out = platform::File::CreateForWriting(target.string());
  if (!out.IsOpen()) fail("cannot create");
  const bool copied = ReadPayloadInChunks(
      file, record, [&](std::string_view chunk) { return out.Write(chunk.data(), chunk.size()); });
  if (!copied || !out.Close()) {
    const int code = platform::LastErrorCode();
    out.Close();
    std::filesystem::remove(target, error);
    throw ToolError("cannot write " + Quoted(target.string()) + ": " + platform::SystemErrorText(code));
  }
}
