#include "installers.h"

#include <map>

#include "archive_writer.h"
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

void AppendLaunch(std::string& bytes, std::string_view parameters) {
  writer::AppendValueGroup(bytes, "executable", "%installer%");
  writer::AppendValueGroup(bytes, "parameters", parameters);
}

std::string ReleaseShapedInstaller(std::string stub, std::string_view setup) {
  std::string bytes = std::move(stub);
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", setup);
  for (const char* language : {"BG5.ini", "DE5.ini", "EN5.ini", "ZH5.ini"}) {
    writer::AppendFileGroup(bytes, "", language, std::string("[Strings] ") + language);
  }
  writer::AppendFileGroup(bytes, "", "LogoSmall.bmp", kLogo);
  AppendLaunch(bytes, "/V\"/l*v install.txt %msi_parameters%\"");
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
  AppendLaunch(bytes, parameters);
  if (exit_codes) writer::AppendOptionGroup(bytes, format::kExitCodesOption);
  writer::AppendTail(bytes);
  return bytes;
}

std::map<std::string, std::string> TreeInstallerFiles(std::string_view setup_name,
                                                      std::string_view setup) {
  return {{".config/", ""},
          {".config/settings.ini", "[settings]\r\n"},
          {"bin/", ""},
          {"bin/" + std::string(setup_name), std::string(setup)},
          {"empty/", ""},
          {"empty.txt", ""},
          {"lib/", ""},
          {"lib/large.bin", RandomBytes(1500000, 7) + std::string(1500000, 'z')},
          {"lib/r\xc3\xa9sum\xc3\xa9.txt", "\xc3\xa9t\xc3\xa9"}};
}

void AppendTreeGroup(std::string& bytes, const std::map<std::string, std::string>& files,
                     writer::Compression compression, uint32_t frame_size) {
  // In the catalog's order: by the paths' bytes, directories without their
  // "/".
  std::map<std::string, std::string> tree;
  for (const auto& [path, contents] : files) {
    tree[path.ends_with('/') ? path.substr(0, path.size() - 1) : path] =
        path.ends_with('/') ? std::string("/") : "=" + contents;
  }
  std::vector<writer::ArchiveItem> items;
  std::string contents;
  for (const auto& [path, kind_and_bytes] : tree) {
    writer::ArchiveItem item;
    item.path = path;
    if (kind_and_bytes == "/") {
      item.kind = format::EntryKind::kDirectory;
      item.mode = 0755;
    } else {
      item.mode = path.starts_with("bin/") ? 0755 : 0644;
      item.size = kind_and_bytes.size() - 1;
      contents += kind_and_bytes.substr(1);
    }
    items.push_back(std::move(item));
  }
  writer::AppendArchiveGroup(bytes, "", items, contents, compression, frame_size);
}

std::string TreeInstaller(std::string stub, std::string_view setup_name, std::string_view setup,
                          writer::Compression compression, uint32_t frame_size) {
  std::string installer = std::move(stub);
  AppendTreeGroup(installer, TreeInstallerFiles(setup_name, setup), compression, frame_size);
  writer::AppendValueGroup(installer, "executable", "bin/" + std::string(setup_name));
  writer::AppendTail(installer);
  return installer;
}

}  // namespace test
