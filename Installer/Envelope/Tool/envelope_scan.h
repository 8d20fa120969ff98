// Reading an installer's envelope group by group without running anything:
// the groups as the reader's walk reads them, with every record's digest
// checked and, unlike the walk, the stub group's name and contents too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "backward_reader.h"
#include "extractor.h"
#include "groups.h"
#include "options.h"
#include "platform_files.h"
#include "record.h"
#include "variables.h"
#include "windows_program.h"

namespace tool {

// An entry of an archive group's tree, as listed.
struct ListedEntry {
  std::string path;
  bool directory = false;
  bool executable = false;
  uint64_t size = 0;    // a file's bytes once extracted
  uint64_t stored = 0;  // its share of the stored frames, by the bytes it has in each
};

struct ScannedGroup : format::Group {
  uint64_t size = 0;  // bytes of the contents or the value, as stored
  // A file's size once extracted: `size` for a file group, the size a
  // compressed file group declares (0 when its contents are too short to
  // declare one).
  uint64_t original_size = 0;
  // A compressed file's or archive's contents matched their digest but do
  // not decode to the sizes they declare, or an archive's catalog breaks its
  // rules (bad_record is then kContents or kCatalog).
  bool undecodable = false;
  // An archive group's tree, in catalog order.
  std::vector<ListedEntry> entries;
  // A signed installer's stub group whose contents differ from what was
  // packed only in the two fields that code signing rewrites (see
  // StubMatchesBeforeSigning).
  bool changed_by_signing = false;
};

struct EnvelopeScan {
  int64_t file_size = 0;
  bool tail_found = false;
  int64_t envelope_end = 0;  // just after the tail record
  bool windows_program = false;
  // Where a code-signed program's certificate table lies, and what it holds;
  // only for a Windows program whose certificate entry is not empty.
  std::optional<CertificateTableFacts> certificate_table;
  // Its headers, where it is a Windows program.
  format::ProgramHeaders headers;
  std::vector<ScannedGroup> groups;  // in reading order, tail first
  bool reached_stub = false;
  // Whether the reader's walk would find the envelope valid, taking the
  // groups as format::WalkRule takes them.
  bool walk_valid = false;
  // Why the scan ended before the stub group, when it did.
  std::string problem;

  // Whether the installer is code-signed: its certificate entry is not empty.
  bool signed_program() const { return certificate_table.has_value(); }
  // Whether `group`'s only damage is the stub's bytes changed by code
  // signing, and in the fields signing rewrites alone.
  bool ChangedBySigning(const ScannedGroup& group) const;
  // The first group with a bad digest, or nullptr. The stub's contents
  // count as whole in a signed program where only the fields signing
  // rewrites changed.
  const ScannedGroup* FirstBadGroup() const;
  // Whether the installer is whole: the reader's walk finds the envelope
  // valid, the scan reached the stub group, and the stub's name and
  // contents, which the walk does not read, match their digests too (but for
  // the contents' change by code signing).
  bool Valid() const;
};

// Scans the installer at `path`; throws ToolError when it cannot be read.
EnvelopeScan ScanEnvelope(const std::filesystem::path& path);

// The options the reader would follow (see options.h).
format::ReaderOptions ReaderOptions(const EnvelopeScan& scan);

// The variable table the reader would build, with `work_directory` (ending in
// a separator) standing in for its per-run directory and no arguments.
format::VariableTable ReaderVariables(const EnvelopeScan& scan, const std::string& work_directory);

// An installer opened once to extract its files into a directory the way the
// reader extracts them into its work directory (see extraction::
// DirectoryMaker: directories shared, a later file replacing an earlier one
// of exactly its name, nothing else ever replaced), with one set of helper
// threads for all of them.
class InstallerFiles {
 public:
  // Opens the installer at `installer`, to extract into the directory
  // `directory`, which exists; throws ToolError when either cannot be opened.
  InstallerFiles(const std::filesystem::path& installer, const std::filesystem::path& directory);
  InstallerFiles(const InstallerFiles&) = delete;
  InstallerFiles& operator=(const InstallerFiles&) = delete;

  // Extracts the file or compressed file group `group`: hashed (and
  // decoded) into a temporary file, which takes the file's name only when
  // the contents are whole. Throws ToolError.
  void ExtractFile(const ScannedGroup& group);

  // Extracts the archive group `group`: its directories, then its files.
  // Throws ToolError.
  void ExtractArchive(const ScannedGroup& group);

 private:
  platform::File file_;
  std::optional<format::BackwardReader> archive_;
  extraction::Extractor extractor_;
};

}  // namespace tool
