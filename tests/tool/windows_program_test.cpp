// Recognising Windows programs and their code signatures from the headers,
// and what packing and listing make of them.
#include <gtest/gtest.h>

#include <cstdio>

#include "commands.h"
#include "little_endian.h"
#include "manifest.h"
#include "pack.h"
#include "test_support.h"
#include "tool_error.h"
#include "windows_program.h"

using namespace tool;

namespace {

void Put(std::string& bytes, size_t offset, uint32_t value, int size) {
  format::StoreLittleEndian(reinterpret_cast<unsigned char*>(bytes.data()) + offset, value,
                            static_cast<size_t>(size));
}

// A minimal PE image: DOS header, PE signature, COFF header and an optional
// header whose certificate table entry has `certificate_size`.
std::string Program(uint16_t magic, uint32_t certificate_size) {
  std::string bytes(1024, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  const size_t pe = 0x80;
  Put(bytes, 0x3c, pe, 4);
  Put(bytes, pe, 0x00004550, 4);
  const size_t optional = pe + 24;
  Put(bytes, optional, magic, 2);
  const size_t directories = optional + (magic == 0x20b ? 112 : 96);
  Put(bytes, directories - 4, 16, 4);         // number of data directories
  Put(bytes, directories + 4 * 8, 0x300, 4);  // certificate table: offset
  Put(bytes, directories + 4 * 8 + 4, certificate_size, 4);
  return bytes;
}

WindowsProgramFacts Inspect(const test::ScratchDirectory& scratch, const std::string& bytes) {
  test::WriteFile(scratch.path() / "program", bytes);
  platform::File file = platform::File::OpenForReading((scratch.path() / "program").string());
  const WindowsProgramFacts facts = InspectWindowsProgram(file);
  EXPECT_EQ(file.Position(), 0);
  return facts;
}

TEST(WindowsProgram, SignatureIsSeenInThirtyTwoAndSixtyFourBitHeaders) {
  test::ScratchDirectory scratch;
  for (const uint16_t magic : {uint16_t{0x10b}, uint16_t{0x20b}}) {
    const WindowsProgramFacts unsigned_program = Inspect(scratch, Program(magic, 0));
    EXPECT_TRUE(unsigned_program.is_windows_program);
    EXPECT_FALSE(unsigned_program.has_signature);
    const WindowsProgramFacts signed_program = Inspect(scratch, Program(magic, 0x1000));
    EXPECT_TRUE(signed_program.is_windows_program);
    EXPECT_TRUE(signed_program.has_signature);
  }
}

TEST(WindowsProgram, OtherFilesAndBrokenHeadersAreNoSignedPrograms) {
  test::ScratchDirectory scratch;
  EXPECT_FALSE(Inspect(scratch,
                       "\x7f"
                       "ELF and more bytes")
                   .is_windows_program);
  EXPECT_FALSE(Inspect(scratch, "MZ").is_windows_program);
  std::string far_header = Program(0x10b, 0x1000);
  Put(far_header, 0x3c, 0xfffffff0, 4);  // PE header beyond the end
  EXPECT_FALSE(Inspect(scratch, far_header).is_windows_program);
  std::string truncated = Program(0x10b, 0x1000).substr(0, 0x80 + 30);
  const WindowsProgramFacts facts = Inspect(scratch, truncated);
  EXPECT_TRUE(facts.is_windows_program);
  EXPECT_FALSE(facts.has_signature);
}

// Writes a PE stub as reader.exe and a setup program into `scratch`, and
// returns a plan that packs the setup program as Setup.exe.
PackPlan PlanOnWindowsStub(const test::ScratchDirectory& scratch, uint32_t certificate_size) {
  test::WriteFile(scratch.path() / "reader.exe", Program(0x10b, certificate_size));
  test::WriteFile(scratch.path() / "setup", "setup");
  PackPlan plan;
  plan.files.push_back({"installer", "Setup.exe", scratch.path() / "setup"});
  return plan;
}

TEST(WindowsProgram, ASignedStubIsNotPacked) {
  test::ScratchDirectory scratch;
  const PackPlan plan = PlanOnWindowsStub(scratch, 0x1000);
  try {
    PackInstaller(scratch.path() / "reader.exe", plan, scratch.path() / "out.exe");
    ADD_FAILURE() << "a signed stub was packed";
  } catch (const ToolError& error) {
    EXPECT_NE(std::string(error.what())
                  .find("pack the unsigned reader and sign the packed installer afterwards"),
              std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "out.exe"));
}

TEST(WindowsProgram, AnInstallerOnAWindowsStubListsAWindowsCommandLine) {
  test::ScratchDirectory scratch;
  PackPlan plan = PlanOnWindowsStub(scratch, 0);
  plan.values.push_back({"executable", "%installer%"});
  plan.values.push_back({"parameters", "/dir=\"%source%\""});
  PackInstaller(scratch.path() / "reader.exe", plan, scratch.path() / "out.exe");

  testing::internal::CaptureStdout();
  const int code = ListInstaller(scratch.path() / "out.exe", false);
  std::fflush(stdout);
  const std::string listed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(code, kExitSuccess);
  EXPECT_NE(listed.find("executable: \"<work>\\Setup.exe\""), std::string::npos) << listed;
  EXPECT_NE(listed.find("[1] \"/dir=<work>\""), std::string::npos) << listed;
}

}  // namespace
