#include "commands.h"

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>

#include "command_line.h"
#include "envelope_scan.h"
#include "file_names.h"
#include "groups.h"
#include "launch.h"
#include "shown_text.h"
#include "tool_error.h"
#include "utf8_path.h"
#include "variables.h"
#include "work_directory_placeholder.h"

namespace tool {

using format::GroupKind;

namespace {

// The scan's texts as the Windows reader shows and uses them: names, keys and
// values that are not UTF-8 read in code page 1252 (see shown_text.h).
void ShowTextsAsWindowsDoes(EnvelopeScan& scan) {
  for (ScannedGroup& group : scan.groups) {
    for (std::string* text : {&group.key, &group.name, &group.value}) *text = ShownText(*text);
    if (group.kind == GroupKind::kOther) group.type = ShownText(group.type);
  }
}

// How a message names a group: its kind, its type when unknown, its key and
// its name.
std::string Describe(const ScannedGroup& group) {
  std::string text(format::GroupKindName(group.kind));
  if (group.kind == GroupKind::kOther) text += " (type " + Quoted(group.type) + ")";
  if (group.kind != GroupKind::kTail) text += " key " + Quoted(group.key);
  if (!group.name.empty()) text += " name " + Quoted(group.name);
  return text;
}

// What lies outside the signature of a signed installer, which Windows and
// the reader do not look at but a tampered file can hide things in; empty
// when nothing does.
std::string SignatureProblem(const EnvelopeScan& scan) {
  if (!scan.certificate_table) return {};
  const CertificateTableFacts& table = *scan.certificate_table;
  const std::string where = "the certificate table (offset " + std::to_string(table.entry.offset) +
                            ", " + std::to_string(table.entry.size) + " bytes)";
  if (!table.in_file) {
    return where + " reaches past the end of the file: the signature is cut off";
  }
  if (table.bytes_after > 0) {
    return std::to_string(table.bytes_after) + " bytes follow " + where +
           ": the signature does not cover them (the reader ignores them)";
  }
  if (!table.signature_readable) {
    return where + " holds no PKCS#7 signature whose length can be read";
  }
  if (table.bytes_beyond_signature > 0) {
    return where + " holds " + std::to_string(table.bytes_beyond_signature) +
           " bytes beyond its signature: the signature does not cover them (the reader ignores "
           "them; Windows refuses such a file where it checks the padding)";
  }
  return {};
}

// The signature's place beside the envelope, for a signed installer whose
// envelope was found.
std::string SignatureFacts(const EnvelopeScan& scan) {
  const CertificateTableFacts& table = *scan.certificate_table;
  if (!table.in_file) return "code-signed, but the certificate table lies outside the file";
  return "code-signed: the envelope ends " +
         std::to_string(table.entry.offset - scan.envelope_end) +
         " bytes before the certificate table (offset " + std::to_string(table.entry.offset) +
         ", " + std::to_string(table.entry.size) + " bytes), inside the signed part";
}

// The program and parameters the reader would start; nothing when expanding
// them goes beyond the reader's limits, and the reader would start nothing.
std::optional<format::LaunchCommand> ReaderCommandLine(const EnvelopeScan& scan,
                                                       format::VariableTable table) {
  return format::ExpandLaunchCommand(table, PlaceholderWorkDirectory(scan.windows_program));
}

// A group's digests column: "ok", "signed" (the stub's bytes changed by code
// signing) or the first record that does not match.
std::string Status(const ScannedGroup& group, const EnvelopeScan& scan) {
  if (!group.bad_record) return "ok";
  if (scan.ChangedBySigning(group)) return "signed";
  return std::string("BAD ") + format::RecordRoleName(*group.bad_record);
}

// Where a signed program's certificate table lies and what it holds, or null
// for a program that is not signed.
nlohmann::ordered_json CertificateTableJson(const EnvelopeScan& scan) {
  if (!scan.certificate_table) return nullptr;
  const CertificateTableFacts& certificates = *scan.certificate_table;
  nlohmann::ordered_json facts;
  facts["offset"] = certificates.entry.offset;
  facts["size"] = certificates.entry.size;
  facts["inside_file"] = certificates.in_file;
  facts["envelope_before_it"] = scan.tail_found && certificates.in_file;
  facts["bytes_after"] = certificates.bytes_after;
  facts["signature_readable"] = certificates.signature_readable;
  facts["bytes_beyond_signature"] = certificates.bytes_beyond_signature;
  return facts;
}

// An archive group's tree, an object per entry in catalog order.
nlohmann::ordered_json TreeJson(const ScannedGroup& group) {
  nlohmann::ordered_json tree = nlohmann::ordered_json::array();
  for (const ListedEntry& listed : group.entries) {
    // "size" is the entry's extracted size, as "extracted_size" names it
    // for every group and entry alike.
    tree.push_back({{"path", listed.path},
                    {"type", listed.directory ? "directory" : "file"},
                    {"size", listed.size},
                    {"stored_size", listed.stored},
                    {"extracted_size", listed.size},
                    {"executable", listed.executable}});
  }
  return tree;
}

// A group's entry in the list of groups: what it holds and whether its
// digests match.
nlohmann::ordered_json GroupJson(const ScannedGroup& group) {
  nlohmann::ordered_json entry;
  entry["type"] = std::string(format::GroupKindName(group.kind));
  if (group.kind == GroupKind::kOther) entry["type_text"] = group.type;
  if (group.kind != GroupKind::kTail) entry["key"] = group.key;
  if (format::IsFileGroup(group.kind) || group.kind == GroupKind::kStub) {
    entry["name"] = group.name;
  }
  if (group.kind == GroupKind::kValue) entry["value"] = group.value;
  // The bytes the envelope stores, and what a file or tree comes to once
  // extracted, named alike for every kind ("stored_size",
  // "extracted_size"); "size" and "original_size" are the same numbers
  // under the names earlier listings gave them.
  entry["size"] = group.size;
  entry["stored_size"] = group.size;
  if (format::IsFileGroup(group.kind) || group.kind == GroupKind::kArchive) {
    entry["original_size"] = group.original_size;
    entry["extracted_size"] = group.original_size;
  }
  if (group.kind == GroupKind::kArchive) entry["entries"] = TreeJson(group);
  entry["digests_match"] = !group.bad_record;
  if (group.bad_record) entry["bad_record"] = format::RecordRoleName(*group.bad_record);
  // A signed installer's stub: whether its bytes differ from those packed
  // only where code signing writes (its checksum and certificate entry).
  if (group.kind == GroupKind::kStub) entry["changed_only_by_signing"] = group.changed_by_signing;
  return entry;
}

// The command line the reader would start, or null when it would start
// nothing.
nlohmann::ordered_json CommandLineJson(const EnvelopeScan& scan,
                                       const format::VariableTable& table) {
  const std::optional<format::LaunchCommand> command = ReaderCommandLine(scan, table);
  if (!command) return nullptr;
  return {{"work_directory", std::string(kWorkDirectoryPlaceholder)},
          {"executable", command->program},
          {"parameters", command->parameters},
          {"arguments", format::SplitCommandLine(command->parameters)}};
}

// The listing as one JSON document: the file, its groups and, for a valid
// envelope, what the reader would do with it.
void PrintJson(const std::filesystem::path& installer, const EnvelopeScan& scan,
               const format::VariableTable& table) {
  nlohmann::ordered_json document;
  document["installer"] = Utf8FromPath(installer);
  document["file_size"] = scan.file_size;
  document["envelope_end"] = scan.tail_found ? nlohmann::ordered_json(scan.envelope_end) : nullptr;
  document["windows_program"] = scan.windows_program;
  document["signed"] = scan.signed_program();
  document["certificate_table"] = CertificateTableJson(scan);
  document["valid"] = scan.Valid();
  document["problem"] = scan.problem.empty() ? nullptr : nlohmann::ordered_json(scan.problem);
  nlohmann::ordered_json& groups = document["groups"] = nlohmann::ordered_json::array();
  for (const ScannedGroup& group : scan.groups) groups.push_back(GroupJson(group));
  if (scan.Valid()) {
    document["options"] = {{"exit_codes", ReaderOptions(scan).exit_codes}};
    nlohmann::ordered_json& variables = document["variables"] = nlohmann::ordered_json::object();
    for (const auto& [name, value] : table) variables[name] = value;
    document["command_line"] = CommandLineJson(scan, table);
  }
  // Payload texts are bytes, not necessarily UTF-8: replace what is not.
  std::cout << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

// An archive group's tree, a path a line below the group's row: "stored" is
// a file's share of the frames its bytes lie in.
void PrintTree(const ScannedGroup& group) {
  for (const ListedEntry& entry : group.entries) {
    const std::string path = Quoted(entry.path + (entry.directory ? "/" : ""));
    if (entry.directory) {
      std::printf("%5s  %-6s %-49s %12s %12s\n", "", "", path.c_str(), "", "");
      continue;
    }
    std::printf("%5s  %-6s %-49s %12llu %12llu  %s\n", "", "", path.c_str(),
                static_cast<unsigned long long>(entry.stored),
                static_cast<unsigned long long>(entry.size), entry.executable ? "executable" : "");
  }
}

// The listing's first lines: the file, where its envelope ends and whether
// it is signed.
void PrintSummary(const std::filesystem::path& installer, const EnvelopeScan& scan) {
  std::cout << Quoted(Utf8FromPath(installer)) << ": " << scan.file_size << " bytes";
  if (scan.tail_found) {
    std::cout << ", envelope ends at " << scan.envelope_end << " ("
              << scan.file_size - scan.envelope_end << " bytes follow)";
  }
  if (scan.signed_program()) std::cout << ", code-signed";
  std::cout << "\n";
  if (scan.certificate_table && scan.tail_found) std::cout << SignatureFacts(scan) << "\n";
}

// The groups, a row each in reading order, an archive's tree below its row.
void PrintGroupRows(const EnvelopeScan& scan) {
  // "size" is what the envelope stores; "original" what a file is once
  // extracted (for a compressed file, as its contents declare).
  if (!scan.groups.empty()) {
    std::printf("%5s  %-6s %-24s %-24s %12s %12s  %s\n", "#", "type", "key", "name", "size",
                "original", "digests");
  }
  int row = 0;
  for (const ScannedGroup& group : scan.groups) {
    const std::string type = group.kind == GroupKind::kOther
                                 ? Quoted(group.type)
                                 : std::string(format::GroupKindName(group.kind));
    const std::string original =
        format::IsFileGroup(group.kind) || group.kind == GroupKind::kArchive
            ? std::to_string(group.original_size)
            : "";
    std::printf("%5d  %-6s %-24s %-24s %12llu %12s  %s\n", ++row, type.c_str(),
                group.kind == GroupKind::kTail ? "" : Quoted(group.key).c_str(),
                group.name.empty() ? "" : Quoted(group.name).c_str(),
                static_cast<unsigned long long>(group.size), original.c_str(),
                Status(group, scan).c_str());
    PrintTree(group);
  }
  std::fflush(stdout);
}

// What the reader's exit code would be.
void PrintExitCodes(const EnvelopeScan& scan) {
  std::cout << "exit codes: "
            << (ReaderOptions(scan).exit_codes
                    ? "the setup program's own, and the reader's failure codes (option \"" +
                          std::string(format::kExitCodesOption) + "\")"
                    : std::string("0 after the launch, whatever the setup program returns"))
            << "\n";
}

// The variables, a line each.
void PrintVariables(const format::VariableTable& table) {
  std::cout << "variables:\n";
  for (const auto& [name, value] : table) {
    std::cout << "  " << name << " = " << Quoted(value) << "\n";
  }
}

// The command line the reader would start, and the arguments the program
// would receive, or that it would start nothing.
void PrintCommandLine(const EnvelopeScan& scan, const format::VariableTable& table) {
  const std::optional<format::LaunchCommand> command = ReaderCommandLine(scan, table);
  if (!command) {
    std::cout << "command line: none; the values expand beyond the reader's limits, so it would "
                 "start nothing\n";
    return;
  }
  std::cout << "command line (work directory shown as " << kWorkDirectoryPlaceholder << "):\n"
            << "  executable: " << Quoted(command->program) << "\n"
            << "  parameters: " << Quoted(command->parameters) << "\n"
            << "  arguments as the program receives them:\n";
  int number = 0;
  for (const std::string& argument : format::SplitCommandLine(command->parameters)) {
    std::cout << "    [" << ++number << "] " << Quoted(argument) << "\n";
  }
}

// The listing as text: the file, its groups and, for a valid envelope, what
// the reader would do with it.
void PrintText(const std::filesystem::path& installer, const EnvelopeScan& scan,
               const format::VariableTable& table) {
  PrintSummary(installer, scan);
  PrintGroupRows(scan);
  if (!scan.Valid()) return;  // what is wrong goes to standard error
  PrintExitCodes(scan);
  PrintVariables(table);
  PrintCommandLine(scan, table);
}

// What is wrong with the damaged group `group`.
std::string DamageOf(const ScannedGroup& group, const EnvelopeScan& scan) {
  if (group.undecodable && group.bad_record == format::RecordRole::kCatalog) {
    if (group.contents.length > format::kMostCatalogBytes) {
      return "its catalog holds " + std::to_string(group.contents.length) +
             " bytes, more than the " + std::to_string(format::kMostCatalogBytes >> 20) +
             " MiB a reader takes";
    }
    return "its catalog breaks the rules a folder tree's catalog keeps";
  }
  if (group.undecodable) return "its compressed contents do not decode to the sizes they declare";
  std::string text = "the digest of its " + std::string(format::RecordRoleName(*group.bad_record)) +
                     " record does not match";
  if (group.kind == GroupKind::kStub && scan.signed_program()) {
    text += ", even with the fields code signing rewrites set back to the unsigned program's";
  }
  return text;
}

// Says on standard error what is wrong with the installer, if anything: the
// first group whose digest does not match, or else why the envelope cannot
// be read, or else what a signed installer holds outside its signature. True
// when there was something to say.
bool ReportDamage(const std::filesystem::path& installer, const EnvelopeScan& scan) {
  if (const ScannedGroup* bad = scan.FirstBadGroup()) {
    const auto number = bad - scan.groups.data() + 1;
    std::cerr << "envelope: " << Quoted(Utf8FromPath(installer)) << ": group " << number << " ("
              << Describe(*bad) << "): " << DamageOf(*bad, scan) << "\n";
    return true;
  }
  if (!scan.Valid()) {
    std::cerr << "envelope: " << Quoted(Utf8FromPath(installer)) << ": " << scan.problem << "\n";
    return true;
  }
  if (const std::string problem = SignatureProblem(scan); !problem.empty()) {
    std::cerr << "envelope: " << Quoted(Utf8FromPath(installer)) << ": " << problem << "\n";
    return true;
  }
  return false;
}

// Makes `directory` ready to extract into: created, with the directories it
// lies in, where it does not exist (`created` tells), else used only when it
// is an empty directory, so that an extraction ends with exactly the tree
// the reader's work directory holds, and never replaces anything that was
// there. Throws ToolError when it cannot.
void PrepareDirectoryForFiles(const std::filesystem::path& directory, bool& created) {
  std::error_code error;
  const auto status = std::filesystem::symlink_status(directory, error);
  created = !std::filesystem::exists(status);
  if (!created) {
    if (!std::filesystem::is_directory(status) || !std::filesystem::is_empty(directory, error)) {
      throw ToolError(Quoted(Utf8FromPath(directory)) +
                      " already exists and is not an empty directory; extract into a new or "
                      "empty one");
    }
    return;
  }
  std::filesystem::create_directories(directory, error);
  if (!std::filesystem::is_directory(directory)) {
    throw ToolError("cannot create the directory " + Quoted(Utf8FromPath(directory)) +
                    (error ? ": " + error.message() : ""));
  }
}

// The archive and file groups to extract, in reading order, as the reader
// writes them; a file name the reader would refuse (one that leaves the
// work directory, or longer than any system takes) is refused before
// anything is written. Throws ToolError.
std::vector<const ScannedGroup*> GroupsToExtract(const EnvelopeScan& scan) {
  std::vector<const ScannedGroup*> groups;
  for (const ScannedGroup& group : scan.groups) {
    if (group.kind == GroupKind::kArchive) groups.push_back(&group);
    if (!format::IsFileGroup(group.kind)) continue;
    if (format::IsFileNameTooLong(group.name) || !format::IsContainedFileName(group.name)) {
      throw ToolError("file " + Quoted(group.name) +
                      ": the reader would not extract it (the name leaves the work directory, "
                      "or is longer than any path)");
    }
    groups.push_back(&group);
  }
  return groups;
}

// Extracts an archive group's tree, naming each entry in `report`.
void ExtractTreeGroup(InstallerFiles& contents, const ScannedGroup& group, std::string& report) {
  contents.ExtractArchive(group);
  for (const ListedEntry& entry : group.entries) {
    report += "extracted " + Quoted(entry.path + (entry.directory ? "/" : ""));
    if (!entry.directory) report += " (" + std::to_string(entry.size) + " bytes)";
    report += "\n";
  }
}

// Extracts a file group's file, in place of one an earlier group wrote under
// its name, and names it in `report`.
void ExtractFileGroup(InstallerFiles& contents, const ScannedGroup& group, std::string& report) {
  contents.ExtractFile(group);
  report +=
      "extracted " + Quoted(group.name) + " (" + std::to_string(group.original_size) + " bytes)\n";
}

// Removes what an extraction into `directory` that failed wrote: the
// directory itself when it was `created`, else everything in it.
void RemoveExtracted(const std::filesystem::path& directory, bool created) {
  std::error_code error;
  if (created) {
    std::filesystem::remove_all(directory, error);
    return;
  }
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    std::filesystem::remove_all(entry.path(), error);
  }
}

// The variables the envelope sets, the built-ins left out, a name=value line
// each.
void PrintSetVariables(const EnvelopeScan& scan) {
  for (const auto& [name, value] :
       ReaderVariables(scan, PlaceholderWorkDirectory(scan.windows_program))) {
    // Escaped as a listing quotes: a line break or a terminal's control
    // sequence in a value cannot forge lines or change the terminal.
    if (!format::IsBuiltInVariable(name)) {
      std::cout << Escaped(name) << "=" << Escaped(value) << "\n";
    }
  }
}

}  // namespace

int ListInstaller(const std::filesystem::path& installer, bool json) {
  EnvelopeScan scan = ScanEnvelope(installer);
  ShowTextsAsWindowsDoes(scan);
  // A file without an envelope has nothing to list; a damaged envelope is
  // listed as far as it can be read, marking the groups that fail.
  if (scan.tail_found) {
    const format::VariableTable table =
        ReaderVariables(scan, PlaceholderWorkDirectory(scan.windows_program));
    if (json) {
      PrintJson(installer, scan, table);
    } else {
      PrintText(installer, scan, table);
    }
  }
  return ReportDamage(installer, scan) ? kExitBadInstaller : kExitSuccess;
}

int VerifyInstaller(const std::filesystem::path& installer) {
  EnvelopeScan scan = ScanEnvelope(installer);
  ShowTextsAsWindowsDoes(scan);
  if (ReportDamage(installer, scan)) return kExitBadInstaller;
  std::cout << Quoted(Utf8FromPath(installer)) << ": " << scan.groups.size()
            << " groups, every digest matches"
            << (scan.signed_program() ? " (the stub's own bytes changed by code signing)" : "")
            << "\n";
  if (scan.certificate_table) {
    std::cout << SignatureFacts(scan) << "; nothing follows the table\n";
  } else if (scan.windows_program) {
    std::cout << "not code-signed\n";
  }
  return kExitSuccess;
}

int ExtractInstaller(const std::filesystem::path& installer,
                     const std::filesystem::path& directory) {
  const EnvelopeScan scan = ScanEnvelope(installer);
  if (!scan.Valid()) {
    const int code = VerifyInstaller(installer);
    if (code != kExitSuccess) return code;
  }
  const std::vector<const ScannedGroup*> groups = GroupsToExtract(scan);
  bool created = false;
  PrepareDirectoryForFiles(directory, created);
  // What was extracted is told once all of it is: a failure leaves nothing.
  std::string report;
  try {
    InstallerFiles contents(installer, directory);
    for (const ScannedGroup* group : groups) {
      if (group->kind == GroupKind::kArchive) {
        ExtractTreeGroup(contents, *group, report);
      } else {
        ExtractFileGroup(contents, *group, report);
      }
    }
  } catch (...) {
    RemoveExtracted(directory, created);
    throw;
  }
  std::cout << report;
  PrintSetVariables(scan);
  return kExitSuccess;
}

}  // namespace tool
