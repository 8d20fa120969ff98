#include "pack.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive_writer.h"
#include "compression_pipeline.h"
#include "envelope_writer.h"
#include "options.h"
#include "pack_progress.h"
#include "plan_rules.h"
#include "platform_files.h"
#include "platform_system.h"
#include "record.h"
#include "tail.h"
#include "tool_error.h"
#include "tree_source.h"
#include "utf8_path.h"
#include "windows_program.h"

namespace tool {

namespace {

// Opens an input and returns its size, refusing what no record can hold.
platform::File OpenInput(const std::filesystem::path& path, const std::string& what,
                         uint32_t& size) {
  // Checked before opening: opening a named pipe would wait for a writer.
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    throw ToolError(what + " " + Quoted(Utf8FromPath(path)) + " is not a regular file");
  }
  platform::File file = platform::File::OpenForReading(Utf8FromPath(path));
  if (!file.IsOpen()) {
    throw ToolError(what + " " + Quoted(Utf8FromPath(path)) + ": " +
                    platform::SystemErrorText(platform::LastErrorCode()));
  }
  if (!file.SeekToEnd()) {
    throw ToolError(what + " " + Quoted(Utf8FromPath(path)) + ": " +
                    platform::SystemErrorText(platform::LastErrorCode()));
  }
  const int64_t length = file.Position();
  if (static_cast<uint64_t>(length) > format::kMaxPayloadSize) {
    throw ToolError(what + " " + Quoted(Utf8FromPath(path)) +
                    " is 4 GiB or larger; an envelope record holds at most 4 GiB - 1 bytes");
  }
  file.Seek(-length);
  size = static_cast<uint32_t>(length);
  return file;
}

// Writes the installer to a file, gathering small records in memory and
// passing large pieces straight through.
class FileOutput : public writer::Output {
 public:
  explicit FileOutput(platform::File& file) : file_(file) {}

  void Write(std::string_view bytes) override {
    if (pending_.size() + bytes.size() < format::kPayloadChunkSize) {
      pending_ += bytes;
      return;
    }
    Flush();
    WriteToFile(bytes);
  }

  void Flush() {
    WriteToFile(pending_);
    pending_.clear();
  }

 private:
  void WriteToFile(std::string_view bytes) {
    if (!file_.Write(bytes.data(), bytes.size())) {
      throw ToolError("writing the installer failed: " +
                      platform::SystemErrorText(platform::LastErrorCode()));
    }
  }

  platform::File& file_;
  std::string pending_;
};

// Reads the next `size` bytes of the input `what` into `buffer`, or throws.
void ReadInput(platform::File& source, char* buffer, size_t size, const std::string& what) {
  if (!source.Read(buffer, size)) {
    throw ToolError(what + ": read failed (" +
                    platform::SystemErrorText(platform::LastErrorCode()) +
                    "); did it change while being packed?");
  }
}

// The `size` bytes of `source` from its current position, as a record's
// payload.
writer::Payload FileContents(platform::File& source, uint32_t size, const std::string& what) {
  return writer::Payload(size, [&source, what](char* buffer, size_t piece) {
    ReadInput(source, buffer, piece, what);
  });
}

// What reads a file to compress: opened when the pipeline reaches it (so
// that only one input is open at a time), refused when its size is no longer
// `size`, read with the same complaints as an uncompressed file.
writer::CompressionInput CompressedInput(const FileEntry& file, uint32_t size,
                                         writer::Compression compression) {
  writer::CompressionInput input;
  input.size = size;
  input.compression = compression;
  input.open = [source = file.source, name = file.name, size]() -> writer::ReadNext {
    uint32_t now = 0;
    auto opened = std::make_shared<platform::File>(
        OpenInput(source, "file " + Quoted(name) + ": source", now));
    if (now != size) throw ToolError("file " + Quoted(name) + ": source changed while packing");
    const std::string what = "file " + Quoted(name);
    return [opened, what](char* buffer, size_t piece) { ReadInput(*opened, buffer, piece, what); };
  };
  return input;
}

// The permission bits a tree's entry is packed with: the same for every
// file and directory but for the execute bits, so that the installer does
// not depend on the packing user's umask.
constexpr uint16_t kDirectoryMode = 0755;
constexpr uint16_t kExecutableMode = 0755;
constexpr uint16_t kFileMode = 0644;

// A listed tree as the archive writer takes it: each file read, when the
// writer reaches it, through a reader that refuses a file that changed.
std::vector<writer::ArchiveItem> ArchiveItems(const std::vector<TreeEntry>& entries) {
  std::vector<writer::ArchiveItem> items;
  items.reserve(entries.size());
  for (const TreeEntry& entry : entries) {
    writer::ArchiveItem item;
    item.kind = entry.directory ? format::EntryKind::kDirectory : format::EntryKind::kFile;
    item.mode = entry.directory ? kDirectoryMode : entry.executable ? kExecutableMode : kFileMode;
    item.path = entry.path;
    item.size = entry.size;
    item.open = [&entry]() {
      auto reader = std::make_shared<TreeFileReader>(entry);
      return writer::ArchiveFileReader{
          [reader](char* buffer, size_t size) { reader->Read(buffer, size); },
          [reader] { reader->Finish(); }};
    };
    items.push_back(std::move(item));
  }
  return items;
}

// The trees of `plan`, listed and checked against each other and the plan's
// files, and with the files against what the reader on the stub's system
// (Windows when `windows_stub`) can make.
std::vector<std::vector<TreeEntry>> ListTrees(const PackPlan& plan, bool windows_stub) {
  std::vector<std::vector<TreeEntry>> trees;
  std::vector<TreeEntry> all;
  for (const TreeSource& tree : plan.trees) {
    trees.push_back(ListTree(tree.source));
    all.insert(all.end(), trees.back().begin(), trees.back().end());
  }
  CheckTreeEntries(plan, all);
  CheckPathLengths(plan, all, windows_stub);
  return trees;
}

// A name for the installer while it is written: hidden, beside `output`,
// and unlikely to be taken.
std::filesystem::path TemporaryBeside(const std::filesystem::path& output) {
  std::random_device random;
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "%08x", random());
  // Appended piece by piece: GCC 12 mistakes the chain of operator+ for an
  // overlapping copy (-Wrestrict) in optimised builds.
  std::string name = ".";
  name += Utf8FromPath(output.filename());
  name += ".partial-";
  name += suffix;
  return output.parent_path() / PathFromUtf8(name);
}

// What packing reads, every input checked before anything is written.
struct CheckedInputs {
  std::string stub_name;  // the name the stub group records
  platform::File stub;    // open at its start
  uint32_t stub_size = 0;
  std::vector<uint32_t> file_sizes;           // the plan's files', in order
  std::vector<std::vector<TreeEntry>> trees;  // the plan's trees, listed
};

// Opens the stub at its start, refusing one that already holds an envelope
// or is code-signed; `windows` tells whether it is a Windows program.
platform::File OpenStub(const std::filesystem::path& stub, uint32_t& size, bool& windows) {
  platform::File file = OpenInput(stub, "stub", size);
  if (format::FindEnvelopeTail(file)) {
    throw ToolError("stub " + Quoted(Utf8FromPath(stub)) +
                    " already holds an envelope; pack the bare reader program");
  }
  file.Seek(-file.Position());
  const WindowsProgramFacts facts = InspectWindowsProgram(file);
  windows = facts.is_windows_program;
  if (facts.has_signature) {
    throw ToolError(
        "stub " + Quoted(Utf8FromPath(stub)) +
        " is code-signed; pack the unsigned reader and sign the packed installer afterwards");
  }
  return file;
}

// The sizes of the plan's files, each source opened once to refuse what
// cannot be packed.
std::vector<uint32_t> FileSizes(const PackPlan& plan) {
  std::vector<uint32_t> sizes(plan.files.size());
  for (size_t i = 0; i < plan.files.size(); ++i) {
    OpenInput(plan.files[i].source, "file " + Quoted(plan.files[i].name) + ": source", sizes[i]);
  }
  return sizes;
}

// Checks the plan, the stub, the files and the trees, in that order; throws
// ToolError for the first problem.
CheckedInputs CheckInputs(const std::filesystem::path& stub, const PackPlan& plan) {
  CheckPlan(plan);
  CheckedInputs inputs;
  inputs.stub_name = RecordedStubName(plan, Utf8FromPath(stub.filename()));
  bool windows_stub = false;
  inputs.stub = OpenStub(stub, inputs.stub_size, windows_stub);
  inputs.file_sizes = FileSizes(plan);
  inputs.trees = ListTrees(plan, windows_stub);
  return inputs;
}

// Creates the file the installer is written to.
platform::File CreateInstallerFile(const std::filesystem::path& path) {
  platform::File file = platform::File::CreateForWriting(Utf8FromPath(path));
  if (!file.IsOpen()) {
    throw ToolError("cannot create " + Quoted(Utf8FromPath(path)) + ": " +
                    platform::SystemErrorText(platform::LastErrorCode()));
  }
  return file;
}

// The plan's files to compress, in order, each with its size and level.
std::vector<writer::CompressionInput> CompressedInputs(const PackPlan& plan,
                                                       const std::vector<uint32_t>& sizes) {
  std::vector<writer::CompressionInput> compressed;
  for (size_t i = 0; i < plan.files.size(); ++i) {
    const writer::Compression compression = plan.files[i].compression.value_or(plan.compression);
    if (compression != writer::Compression::kNone) {
      compressed.push_back(CompressedInput(plan.files[i], sizes[i], compression));
    }
  }
  return compressed;
}

// Adds the plan's file groups in order: a compressed file with the contents
// `pipeline` gives next, an uncompressed one read from its source, refused
// when its size is no longer `sizes[i]`.
void AddFileGroups(writer::EnvelopeWriter& envelope, const PackPlan& plan,
                   const std::vector<uint32_t>& sizes, writer::CompressionPipeline& pipeline) {
  for (size_t i = 0; i < plan.files.size(); ++i) {
    const FileEntry& file = plan.files[i];
    if (file.compression.value_or(plan.compression) != writer::Compression::kNone) {
      try {
        envelope.AddCompressedFileGroup(file.key, file.name, pipeline.NextContents());
      } catch (const std::length_error&) {
        throw ToolError("file " + Quoted(file.name) +
                        ": compressed, it would take 4 GiB or more, more than an envelope "
                        "record holds; pack it with compression = \"none\"");
      }
      continue;
    }
    uint32_t size = 0;
    platform::File source = OpenInput(file.source, "file " + Quoted(file.name) + ": source", size);
    if (size != sizes[i]) {
      throw ToolError("file " + Quoted(file.name) + ": source changed while packing");
    }
    envelope.AddFileGroup(file.key, file.name,
                          FileContents(source, size, "file " + Quoted(file.name)));
  }
}

// Adds an archive group for each of the plan's trees, `trees` their listed
// entries, showing the progress through all their bytes.
void AddTreeGroups(writer::EnvelopeWriter& envelope, const PackPlan& plan,
                   const std::vector<std::vector<TreeEntry>>& trees) {
  uint64_t tree_bytes = 0;
  for (const auto& tree : trees) {
    for (const TreeEntry& entry : tree) tree_bytes += entry.size;
  }
  PackProgress progress(tree_bytes);
  for (size_t t = 0; t < trees.size(); ++t) {
    try {
      writer::AddArchiveGroup(envelope, "", ArchiveItems(trees[t]),
                              plan.trees[t].compression.value_or(plan.compression),
                              [&progress](uint64_t bytes) { progress.Advance(bytes); });
    } catch (const std::length_error&) {
      throw ToolError("tree " + Quoted(Utf8FromPath(plan.trees[t].source)) +
                      ": a frame would take 4 GiB or more, more than an envelope record holds");
    }
  }
}

// Writes the whole installer to `out` and closes it: the stub group, the
// file groups, the tree groups, the value groups, the option group and the
// tail.
void WriteInstaller(const std::filesystem::path& stub, const PackPlan& plan, CheckedInputs& inputs,
                    platform::File& out) {
  // The compressed files are compressed on every processor from here on,
  // ahead of the writing.
  writer::CompressionPipeline pipeline(CompressedInputs(plan, inputs.file_sizes),
                                       writer::CompressionPipeline::DefaultThreads());
  FileOutput installer(out);
  writer::EnvelopeWriter envelope(installer);
  envelope.AddStubGroup(
      FileContents(inputs.stub, inputs.stub_size, "stub " + Quoted(Utf8FromPath(stub))),
      inputs.stub_name);
  AddFileGroups(envelope, plan, inputs.file_sizes, pipeline);
  // The trees go after the files, so that the reader, reading from the
  // end, makes their directories before it meets a file put in one.
  AddTreeGroups(envelope, plan, inputs.trees);
  for (const ValueEntry& value : plan.values) envelope.AddValueGroup(value.key, value.text);
  if (plan.exit_codes) envelope.AddOptionGroup(format::kExitCodesOption);
  envelope.AddTail();
  installer.Flush();
  if (!out.Close()) {
    throw ToolError("writing the installer failed: " +
                    platform::SystemErrorText(platform::LastErrorCode()));
  }
}

// Gives the written installer the stub's permissions and `output`'s name.
void MoveIntoPlace(const std::filesystem::path& stub, const std::filesystem::path& temporary,
                   const std::filesystem::path& output) {
  std::filesystem::permissions(temporary, std::filesystem::status(stub).permissions());
  std::filesystem::rename(temporary, output);
}

// Closes and removes an installer left unfinished.
void DiscardInstaller(platform::File& out, const std::filesystem::path& temporary) {
  out.Close();
  std::error_code ignored;
  std::filesystem::remove(temporary, ignored);
}

}  // namespace

void PackInstaller(const std::filesystem::path& stub, const PackPlan& plan,
                   const std::filesystem::path& output) {
  CheckedInputs inputs = CheckInputs(stub, plan);
  const std::filesystem::path temporary = TemporaryBeside(output);
  platform::File out = CreateInstallerFile(temporary);
  try {
    WriteInstaller(stub, plan, inputs, out);
    MoveIntoPlace(stub, temporary, output);
  } catch (...) {
    DiscardInstaller(out, temporary);
    throw;
  }
}

}  // namespace tool
