// libFuzzer target: the record reader and the walk over arbitrary program
// files, followed by the two expansions the launch would do.
//
// The input becomes the program file as fuzz_support.h describes.
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
#include "fuzz_support.h"
#include "run_state.h"
#include "variables.h"

using namespace format;
using namespace reader;

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const FuzzScratch scratch("walk-fuzzer");
  const fs::path program = scratch.root / "program";
  const fs::path work = scratch.work();
  WriteFuzzFile(program, ProgramFile(std::string_view(reinterpret_cast<const char*>(data), size)));

  RunState state;
  state.work_directory = work.string() + "/";
  state.variables["source"] = work.string();
  state.variables["commandline"] = "";
  WalkEnvelope(program.string(), state);
  if (state.envelope_valid) {
    ExpandVariables(state.variables["executable"], state.variables);
    ExpandVariables(state.variables["parameters"], state.variables);
  }

  scratch.EndInput(program);
  return 0;
}
