// libFuzzer target: the envelope tool's parsing of what release engineers and
// downloads hand it.
//
// An input whose first byte is even is a manifest (the rest of the input),
// read and checked as `envelope pack` does before it packs. One whose first
// byte is odd is an installer, made from the rest as ProgramFile
// (fuzz_support.h) describes, then listed as text and as JSON, verified and
// extracted into a scratch directory. Anything appearing beside that
// directory is a write outside it and aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string_view>

#include "commands.h"
#include "fuzz_support.h"
#include "manifest.h"
#include "plan_rules.h"
#include "tool_error.h"

using namespace tool;

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const FuzzScratch scratch("tool-fuzzer");
  // The commands print their findings; only crashes matter here.
  static FILE* const silenced = freopen("/dev/null", "w", stdout);
  if (silenced == nullptr || size == 0) return 0;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const bool installer = (input[0] & 1) != 0;
  input.remove_prefix(1);

  const fs::path file = scratch.root / (installer ? "installer" : "installer.toml");
  const fs::path work = scratch.work();
  try {
    if (installer) {
      WriteFuzzFile(file, ProgramFile(input));
      ListInstaller(file, false);
      ListInstaller(file, true);
      VerifyInstaller(file);
      ExtractInstaller(file, work);
    } else {
      WriteFuzzFile(file, input);
      CheckPlan(ReadManifest(file));
    }
  } catch (const ToolError&) {
    // A refusal, as the tool reports it.
  } catch (const fs::filesystem_error&) {
    // A file system refusal, such as a name the system does not take.
  }

  scratch.EndInput(file);
  return 0;
}
