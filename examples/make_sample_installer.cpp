// Packs the sample installer: the reader, the sample setup program under the
// key "installer", language files and a logo, the launch values, and a few KB
// after the envelope where a signature would go.
//
//   make_sample_installer READER SAMPLE_DIR OUTPUT
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "envelope_writer.h"

namespace {

std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: make_sample_installer READER SAMPLE_DIR OUTPUT\n";
    return 2;
  }
  const std::filesystem::path reader = argv[1], sample = argv[2], output = argv[3];
  try {
    std::string installer = ReadWholeFile(reader);
    envelope::AppendStubGroup(installer, reader.filename().string());
    envelope::AppendFileGroup(installer, "installer", "setup.sh", ReadWholeFile(sample / "setup.sh"));
    for (const char* name : {"BG5.ini", "DE5.ini", "EN5.ini", "ZH5.ini", "LogoSmall.bmp"}) {
      envelope::AppendFileGroup(installer, "", name, ReadWholeFile(sample / name));
    }
    envelope::AppendValueGroup(installer, "executable", "%installer%");
    envelope::AppendValueGroup(installer, "parameters", "/V\"/l*v install.txt %msi_parameters%\"");
    envelope::AppendValueGroup(installer, "msi_parameters",
                               "ALLUSERS=2 USER_PARTNER_IDENTITY=5 "
                               "USER_SOURCE_DIRECTORY=\\\"%source%\\\\\\\"");
    envelope::AppendTail(installer);
    for (int i = 0; i < 4096; ++i) installer += static_cast<char>((i * 37 + 11) & 0xff);

    // Written beside the output and renamed into place, so that an
    // interrupted run never leaves half an installer.
    const std::filesystem::path partial = output.string() + ".partial";
    {
      std::ofstream out(partial, std::ios::binary | std::ios::trunc);
      out.write(installer.data(), static_cast<std::streamsize>(installer.size()));
      if (!out.flush()) throw std::runtime_error("cannot write " + partial.string());
    }
    std::filesystem::permissions(partial, std::filesystem::status(reader).permissions());
    std::filesystem::rename(partial, output);
  } catch (const std::exception& error) {
    std::cerr << "make_sample_installer: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
