#include "installers.h"

#include <map>

#include "envelope_writer.h"
#include "options.h"
#include "test_support.h"

namespace test {

const std::string kLogo("BM\x46\0\0\0\0\0\0\0\x36\0\0\0 pixels \xff\x00\x7f", 26);

const std::string& ProgramBytes(const std::string& program_path) {
  static std::map<std::string, std::string> programs;
  auto program = programs.find(program_path);
  if (program == programs.end()) {
    program = programs.emplace(program_path, ReadFile(program_path)).first;
  }
  return program->second;
}

std::string Stub(const std::string& reader_path, std::string_view stub_name) {
  std::string bytes = ProgramBytes(reader_path);
  writer::AppendStubGroup(bytes, stub_name);
  return bytes;
}

std::string ReleaseShapedInstaller(std::string stub, std::string_view setup) {
  std::string bytes = std::move(stub);
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", setup);
  for (const char* language : {"BG5.ini", "DE5.ini", "EN5.ini", "ZH5.ini"}) {
    writer::AppendFileGroup(bytes, "", language, std::string("[Strings] ") + language);
  }
  writer::AppendFileGroup(bytes, "", "LogoSmall.bmp", kLogo);
  writer::AppendValueGroup(bytes, "executable", "%installer%");
  writer::AppendValueGroup(bytes, "parameters", "/V\"/l*v install.txt %msi_parameters%\"");
  writer::AppendValueGroup(
      bytes, "msi_parameters",
      R"(ALLUSERS=2 USER_PARTNER_IDENTITY=5 USER_SOURCE_DIRECTORY=\"%source%\\\")");
  writer::AppendTail(bytes);
  for (int i = 0; i < 4096; ++i) bytes += static_cast<char>(i * 7);
  return bytes;
}

std::string SetupOnlyInstaller(std::string stub, std::string_view setup,
                               std::string_view parameters, bool exit_codes) {
  std::string bytes = std::move(stub);
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", setup);
  writer::AppendValueGroup(bytes, "executable", "%installer%");
  writer::AppendValueGroup(bytes, "parameters", parameters);
  if (exit_codes) writer::AppendOptionGroup(bytes, format::kExitCodesOption);
  writer::AppendTail(bytes);
  return bytes;
}

}  // namespace test
