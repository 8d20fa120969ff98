// Installers the tests pack, shared by the native, hostile and Wine suites.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "archive_catalog.h"
#include "chunk_compression.h"

namespace test {

// The bytes of the file at `program_path`, read once per path.
const std::string& ProgramBytes(const std::string& program_path);

// The program file at `reader_path` followed by its stub group named
// `stub_name`: where every envelope starts. The file is read once per path.
std::string Stub(const std::string& reader_path, std::string_view stub_name = "reader");

// A small bitmap, packed as LogoSmall.bmp.
extern const std::string kLogo;

// An installer shaped like a release, on `stub`: `setup` as Setup.exe under
// the key "installer", the language files BG5/DE5/EN5/ZH5.ini and the logo
// with empty keys, the three launch values, and 4 KB after the envelope where
// a signature would be.
std::string ReleaseShapedInstaller(std::string stub, std::string_view setup);

// Appends the values that start the extracted setup program: "executable"
// %installer% (the file extracted under the key "installer"), with
// `parameters`.
void AppendLaunch(std::string& bytes, std::string_view parameters = "");

// An installer on `stub` that holds only `setup`, as Setup.exe under the key
// "installer", started with `parameters`; with the option "exit-codes" when
// `exit_codes` is set.
std::string SetupOnlyInstaller(std::string stub, std::string_view setup,
                               std::string_view parameters, bool exit_codes = false);

// The files and directories (with a trailing "/") of TreeInstaller's tree,
// by path, with the bytes of each file.
std::map<std::string, std::string> TreeInstallerFiles(std::string_view setup_name,
                                                      std::string_view setup);

// Appends an archive group of the folder tree `files` (a path ending in "/"
// a directory, any other a file with its bytes; those below "bin/"
// executable), compressed at `compression` in frames of `frame_size` bytes.
void AppendTreeGroup(std::string& bytes, const std::map<std::string, std::string>& files,
                     writer::Compression compression = writer::Compression::kNone,
                     uint32_t frame_size = format::kMaxFrameOriginalSize);

// An installer on `stub` whose files are a folder tree in one archive group,
// compressed at `compression` in frames of `frame_size` bytes: `setup` as
// bin/`setup_name` (executable), started through the value "executable"; a
// dot-named directory, an empty directory, an empty file, a name beyond
// ASCII, and 3 MB that span frames of less.
std::string TreeInstaller(std::string stub, std::string_view setup_name, std::string_view setup,
                          writer::Compression compression, uint32_t frame_size);

}  // namespace test
