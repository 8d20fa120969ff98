// envelope: builds, inspects, verifies and unpacks Quillmarrow installers.
#include <CLI/CLI.hpp>
#include <iostream>

#include "commands.h"
#include "manifest.h"
#include "pack.h"
#include "pack_flags.h"
#include "tool_error.h"
#include "utf8_path.h"
#include "version.h"

namespace tool {
namespace {

struct Options {
  std::string stub, manifest, output, stub_name, installer, directory, compression;
  std::vector<std::string> files, trees, values;
  bool json = false;
  bool exit_codes = false;
  bool compression_given = false;
};

int Pack(const Options& options) {
  PackPlan plan;
  if (!options.manifest.empty()) plan = ReadManifest(PathFromUtf8(options.manifest));
  for (const std::string& flag : options.files) plan.files.push_back(ParseFileFlag(flag));
  for (const std::string& flag : options.trees) plan.trees.push_back(ParseTreeFlag(flag));
  for (const std::string& flag : options.values) plan.values.push_back(ParseValueFlag(flag));
  if (!options.stub_name.empty()) plan.stub_name = options.stub_name;
  if (options.exit_codes) plan.exit_codes = true;
  // The flag replaces the manifest's top-level level; a file's or tree's own
  // level still applies to it.
  if (options.compression_given) plan.compression = ParseCompressionFlag(options.compression);
  if (plan.files.empty() && plan.trees.empty() && plan.values.empty()) {
    throw ToolError("nothing to pack: give --manifest, --file, --tree or --value");
  }
  PackInstaller(PathFromUtf8(options.stub), plan, PathFromUtf8(options.output));
  return kExitSuccess;
}

// Adds the "pack" command, its flags read into `options`.
CLI::App* AddPackCommand(CLI::App& app, Options& options) {
  CLI::App* pack =
      app.add_subcommand("pack", "Pack a reader, files, trees and values into an installer");
  pack->add_option("--stub", options.stub, "The bare reader program")->required();
  pack->add_option("--manifest", options.manifest, "TOML file listing the files, trees and values");
  pack->add_option("--file", options.files,
                   "Add a file: KEY:NAME=PATH (KEY may be empty; NAME may hold folders, "
                   "separated by \"/\": bin/setup.exe)");
  pack->add_option("--tree", options.trees,
                   "Add the whole tree of the folder DIR: its files and folders go to the top of "
                   "the work directory (repeatable; symbolic links are refused)")
      ->type_name("DIR");
  pack->add_option("--value", options.values, "Add a value: KEY=TEXT");
  pack->add_option("--stub-name", options.stub_name,
                   "Name recorded for the stub (default: its file name)");
  pack->add_flag("--exit-codes", options.exit_codes,
                 "Make the reader return the setup program's exit code, and codes of its own "
                 "failures, instead of 0 (also: exit_codes = true in the manifest)");
  pack->add_option("--compression", options.compression,
                   "none: files stored as they are (\"file\" groups), trees stored; fast "
                   "or best (the default), for speed or for size: files compressed in 1 MiB "
                   "chunks on every processor (\"zfile\" groups), trees as one zstd "
                   "archive. Replaces the manifest's top-level compression; a [[file]]'s or "
                   "[[tree]]'s own compression still applies to it");
  pack->add_option("--output,-o", options.output, "The installer to write")->required();
  return pack;
}

// Adds the "list" command, its arguments read into `options`.
CLI::App* AddListCommand(CLI::App& app, Options& options) {
  CLI::App* list = app.add_subcommand("list", "Show every group, the values and the command line");
  list->add_option("installer", options.installer, "Installer to read")->required();
  list->add_flag("--json", options.json, "One JSON document instead of text");
  return list;
}

// Adds the "verify" command, its argument read into `options`.
CLI::App* AddVerifyCommand(CLI::App& app, Options& options) {
  CLI::App* verify =
      app.add_subcommand("verify", "Check every record's digest (exit 1 if one fails)");
  verify->add_option("installer", options.installer, "Installer to check")->required();
  return verify;
}

// Adds the "extract" command, its arguments read into `options`.
CLI::App* AddExtractCommand(CLI::App& app, Options& options) {
  CLI::App* extract =
      app.add_subcommand("extract", "Write the files as the reader would, run nothing");
  extract->add_option("installer", options.installer, "Installer to unpack")->required();
  extract->add_option("--to", options.directory, "Directory to write into (created if missing)")
      ->required();
  return extract;
}

// Runs the command the command line chose; a failure is told on standard
// error, as kExitError.
int RunCommand(const CLI::App* pack, const CLI::App* list, const CLI::App* verify,
               const Options& options) {
  try {
    if (pack->parsed()) return Pack(options);
    const std::filesystem::path installer = PathFromUtf8(options.installer);
    if (list->parsed()) return ListInstaller(installer, options.json);
    if (verify->parsed()) return VerifyInstaller(installer);
    return ExtractInstaller(installer, PathFromUtf8(options.directory));
  } catch (const std::exception& error) {
    std::cerr << "envelope: error: " << error.what() << "\n";
    return kExitError;
  }
}

// The command line, its arguments in UTF-8.
int Run(int argc, char** argv) {
  CLI::App app("Builds, inspects, verifies and unpacks Quillmarrow installers.", "envelope");
  app.set_version_flag("--version", "envelope " QUILLMARROW_VERSION);
  app.require_subcommand(1);
  Options options;
  CLI::App* pack = AddPackCommand(app, options);
  CLI::App* list = AddListCommand(app, options);
  CLI::App* verify = AddVerifyCommand(app, options);
  AddExtractCommand(app, options);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? kExitSuccess : kExitError;
  }
  options.compression_given = pack->count("--compression") > 0;
  return RunCommand(pack, list, verify, options);
}

}  // namespace

}  // namespace tool

#ifdef _WIN32
// Windows hands the program its command line in UTF-16 here (linked with
// -municode); main's narrow arguments would be in the ANSI code page, which
// cannot carry every file name.
int wmain(int argc, wchar_t** argv) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16");
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) {
    std::optional<std::string> argument =
        tool::Utf8FromUtf16(reinterpret_cast<const char16_t*>(argv[i]));
    if (!argument) {
      std::cerr << "envelope: error: argument " << i
                << " holds an unpaired UTF-16 surrogate; it names no file and no text\n";
      return tool::kExitError;
    }
    arguments.push_back(std::move(*argument));
  }
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return tool::Run(argc, pointers.data());
}
#else
int main(int argc, char** argv) { return tool::Run(argc, argv); }
#endif
