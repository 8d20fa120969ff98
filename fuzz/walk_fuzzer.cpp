// libFuzzer target: the record reader and the walk over arbitrary program
// files, followed by the two expansions the launch would do.
//
// An input whose first byte is even is the program file as it stands (minus
// that byte). One whose first byte is odd describes an envelope instead, so
// that the fuzzer reaches the group logic behind the digests it cannot forge:
// the rest is split at 0x1E bytes into record payloads, in file order, each
// appended with its length and digest; bit 1 of the first byte then adds the
// tail record, and whatever follows a 0x1F byte in the last piece stands
// after the envelope as it is.
//
// The walk's files go to a scratch work directory, which is emptied between
// inputs; anything appearing beside it is a write outside it and aborts.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "envelope_walk.h"
#include "envelope_writer.h"
#include "run_state.h"
#include "variables.h"

namespace {

namespace fs = std::filesystem;

struct Scratch {
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "walk-fuzzer-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) abort();
    root = pattern;
    fs::create_directory(root / "work");
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  fs::path root;
};

std::string ProgramFile(std::string_view input) {
  if (input.empty()) return {};
  const auto mode = static_cast<unsigned char>(input[0]);
  input.remove_prefix(1);
  if ((mode & 1) == 0) return std::string(input);

  std::string trailing;
  if (const size_t split = input.rfind('\x1f'); split != std::string_view::npos) {
    trailing = input.substr(split + 1);
    input = input.substr(0, split);
  }
  // A few bytes of "reader" first, so that the first record has a start.
  std::string bytes = "#!reader#";
  for (size_t start = 0;;) {
    const size_t end = input.find('\x1e', start);
    envelope::AppendRecord(bytes, input.substr(start, end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  if (mode & 2) envelope::AppendTail(bytes);
  return bytes + trailing;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Scratch scratch;
  const fs::path program = scratch.root / "program";
  const fs::path work = scratch.root / "work";
  {
    FILE* out = fopen(program.c_str(), "wb");
    if (out == nullptr) abort();
    const std::string bytes = ProgramFile(std::string_view(reinterpret_cast<const char*>(data), size));
    if (fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || fclose(out) != 0) abort();
  }

  RunState state;
  state.work_directory = work.string() + "/";
  state.variables["source"] = work.string();
  state.variables["commandline"] = "";
  WalkEnvelope(program.string(), state);
  if (state.envelope_valid) {
    ExpandVariables(state.variables["executable"], state.variables);
    ExpandVariables(state.variables["parameters"], state.variables);
  }

  // Only the program file and the work directory may be there.
  size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(scratch.root)) {
    (void)entry;
    ++entries;
  }
  if (entries != 2 || !fs::is_directory(fs::symlink_status(work))) abort();
  for (const auto& entry : fs::directory_iterator(work)) fs::remove_all(entry.path());
  return 0;
}
