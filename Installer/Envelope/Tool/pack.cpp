#include "pack.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "envelope_reader.h"
#include "envelope_walk.h"
#include "envelope_writer.h"
#include "md5.h"
#include "platform.h"
#include "tool_error.h"
#include "windows_program.h"

namespace {

// Opens an input and returns its size, refusing what no record can hold.
platform::File OpenInput(const std::filesystem::path& path, const std::string& what,
                         uint32_t& size) {
  // Checked before opening: opening a named pipe would wait for a writer.
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    throw ToolError(what + " " + Quoted(path.string()) + " is not a regular file");
  }
  platform::File file = platform::File::OpenForReading(path.string());
  if (!file.IsOpen()) {
    throw ToolError(what + " " + Quoted(path.string()) + ": " +
                    platform::SystemErrorText(platform::LastErrorCode()));
  }
  if (!file.SeekToEnd()) {
    throw ToolError(what + " " + Quoted(path.string()) + ": " +
                    platform::SystemErrorText(platform::LastErrorCode()));
  }
  const int64_t length = file.Position();
  if (length > int64_t{UINT32_MAX}) {
    throw ToolError(what + " " + Quoted(path.string()) +
                    " is 4 GiB or larger; an envelope record holds at most 4 GiB - 1 bytes");
  }
  file.Seek(-length);
  size = static_cast<uint32_t>(length);
  return file;
}

// Writes records to the output, small ones gathered in memory, large ones
// copied through in chunks while their digest is computed.
class RecordSink {
 public:
  explicit RecordSink(platform::File& out) : out_(out) {}

  void Small(std::string_view payload) {
    envelope::AppendRecord(pending_, payload);
    if (pending_.size() >= kPayloadChunkSize) Flush();
  }

  // Copies `size` bytes from `source` as one record.
  void Copy(platform::File& source, uint32_t size, const std::string& what) {
    Flush();
    Md5Hasher hasher;
    std::vector<char> chunk(std::min<size_t>(size, kPayloadChunkSize));
    for (uint32_t done = 0; done < size;) {
      const size_t piece = std::min<size_t>(chunk.size(), size - done);
      if (!source.Read(chunk.data(), piece)) {
        throw ToolError(what + ": read failed (" + platform::SystemErrorText(platform::LastErrorCode()) +
                        "); did it change while being packed?");
      }
      hasher.Update(std::string_view(chunk.data(), piece));
      Write(chunk.data(), piece);
      done += static_cast<uint32_t>(piece);
    }
    pending_ += envelope::RecordTrailer(size, hasher.Digest());
  }

  void Flush() {
    Write(pending_.data(), pending_.size());
    pending_.clear();
  }

 private:
  void Write(const char* data, size_t size) {
    if (!out_.Write(data, size)) {
      throw ToolError("writing the installer failed: " +
                      platform::SystemErrorText(platform::LastErrorCode()));
    }
  }

  platform::File& out_;
  std::string pending_;
};

std::filesystem::path TemporaryBeside(const std::filesystem::path& output) {
  std::random_device random;
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "%08x", random());
  // Appended piece by piece: GCC 12 mistakes the chain of operator+ for an
  // overlapping copy (-Wrestrict) in optimised builds.
  std::string name = ".";
  name += output.filename().string();
  name += ".partial-";
  name += suffix;
  return output.parent_path() / name;
}

}  // namespace

void PackInstaller(const std::filesystem::path& stub, const PackPlan& plan,
                   const std::filesystem::path& output) {
  CheckPlan(plan);
  const std::string stub_name = plan.stub_name.value_or(stub.filename().string());
  if (const std::string refused = RefusedFileName(stub_name); !refused.empty()) {
    throw ToolError("stub name " + Quoted(stub_name) + " " + refused + "; give one with --stub-name");
  }

  uint32_t stub_size = 0;
  platform::File stub_file = OpenInput(stub, "stub", stub_size);
  if (FindEnvelopeTail(stub_file)) {
    throw ToolError("stub " + Quoted(stub.string()) +
                    " already holds an envelope; pack the bare reader program");
  }
  stub_file.Seek(-stub_file.Position());
  if (InspectWindowsProgram(stub_file).has_signature) {
    throw ToolError("stub " + Quoted(stub.string()) +
                    " is code-signed; pack the unsigned reader and sign the packed installer afterwards");
  }
  std::vector<uint32_t> sizes(plan.files.size());
  for (size_t i = 0; i < plan.files.size(); ++i) {
    OpenInput(plan.files[i].source, "file " + Quoted(plan.files[i].name) + ": source", sizes[i]);
  }

  const std::filesystem::path temporary = TemporaryBeside(output);
  platform::File out = platform::File::CreateForWriting(temporary.string());
  if (!out.IsOpen()) {
    throw ToolError("cannot create " + Quoted(temporary.string()) + ": " +
                    platform::SystemErrorText(platform::LastErrorCode()));
  }
  try {
    RecordSink sink(out);
    sink.Copy(stub_file, stub_size, "stub " + Quoted(stub.string()));
    sink.Small(stub_name);
    sink.Small(kStubGroupType);
    sink.Small(kStubGroupType);
    for (size_t i = 0; i < plan.files.size(); ++i) {
      const FileEntry& file = plan.files[i];
      uint32_t size = 0;
      platform::File source = OpenInput(file.source, "file " + Quoted(file.name) + ": source", size);
      if (size != sizes[i]) throw ToolError("file " + Quoted(file.name) + ": source changed while packing");
      sink.Copy(source, size, "file " + Quoted(file.name));
      sink.Small(file.name);
      sink.Small(file.key);
      sink.Small(kFileGroupType);
    }
    for (const ValueEntry& value : plan.values) {
      sink.Small(value.text);
      sink.Small(value.key);
      sink.Small(kValueGroupType);
    }
    sink.Small(TailMarker());
    sink.Flush();
    if (!out.Close()) {
      throw ToolError("writing the installer failed: " +
                      platform::SystemErrorText(platform::LastErrorCode()));
    }
    std::filesystem::permissions(temporary, std::filesystem::status(stub).permissions());
    std::filesystem::rename(temporary, output);
  } catch (...) {
    out.Close();
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    throw;
  }
}
