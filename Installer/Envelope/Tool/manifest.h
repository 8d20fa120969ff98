// Reading a TOML manifest into a PackPlan:
//
//   stub_name = "Reader.exe"        # optional; default: the stub's file name
//   exit_codes = true               # optional; default false: the reader
//                                   # returns the setup program's exit code
//                                   # and codes of its own failures
//   compression = "best"            # optional: "none", "fast" or "best"
//                                   # (the default), for every file that
//                                   # does not say otherwise
//
//   [[file]]
//   key = "installer"               # optional; a variable naming the file
//   name = "Setup.exe"              # the name it is extracted under
//   source = "build/setup.exe"      # relative to the manifest
//   compression = "none"            # optional: this file's own level
//
//   [[tree]]
//   source = "dist/app"             # a directory, relative to the manifest:
//                                   # its contents go to the work
//                                   # directory's top
//   compression = "fast"            # optional: its files' own level
//
//   [[value]]
//   key = "executable"
//   text = "%installer%"
#pragma once

#include <filesystem>

#include "pack_plan.h"

namespace tool {

// Reads a manifest; source paths (of files and trees) become relative to the
// current directory.
// Throws ToolError naming the file, line and column of what is wrong.
PackPlan ReadManifest(const std::filesystem::path& manifest);

}  // namespace tool
