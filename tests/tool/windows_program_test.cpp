// Recognising Windows programs and their code signatures from the headers,
// and what packing and listing make of them.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "commands.h"
#include "manifest.h"
#include "pack.h"
#include "pe_images.h"
#include "test_support.h"
#include "tool_error.h"
#include "windows_program.h"

using namespace tool;

namespace {

// A minimal PE image whose certificate table entry has `certificate_size`;
// an empty entry is all zeros, as linkers write it.
std::string Program(uint16_t magic, uint32_t certificate_size) {
  std::string bytes = test::MinimalPeImage(magic);
  test::SetCertificateDirectory(bytes, certificate_size == 0 ? 0 : 0x300, certificate_size);
  return bytes;
}

WindowsProgramFacts Inspect(const test::ScratchDirectory& scratch, const std::string& bytes) {
  test::WriteFile(scratch.path() / "program", bytes);
  platform::File file = platform::File::OpenForReading((scratch.path() / "program").string());
  const WindowsProgramFacts facts = InspectWindowsProgram(file);
  EXPECT_EQ(file.Position(), 0);
  return facts;
}

// Lists `installer` as JSON into `document`; the list command's exit code.
int ListedAsJson(const std::filesystem::path& installer, nlohmann::json& document) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int listed = ListInstaller(installer, true);
  std::fflush(stdout);
  document = nlohmann::json::parse(testing::internal::GetCapturedStdout());
  testing::internal::GetCapturedStderr();
  return listed;
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
  test::PutLittleEndian(far_header, 0x3c, 0xfffffff0, 4);  // PE header beyond the end
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

// A signed installer's certificate table as signing lays it out, and with
// bytes hidden in it or after it, which the signature does not cover.
TEST(WindowsProgram, BytesOutsideTheSignatureAreToldApartFromItsAlignment) {
  test::ScratchDirectory scratch;
  std::string installer = test::MinimalPeImage();
  installer += "the envelope";
  std::string signed_installer = installer;
  const size_t table = test::AppendCertificateTable(signed_installer, 1457);
  struct Case {
    const char* what;
    std::string bytes;
    CertificateTableFacts expected;  // all but the entry
  };
  std::vector<Case> cases = {
      {"as signed", signed_installer, {{}, true, 0, true, 0}},
      {"bytes after the table", signed_installer + "more", {{}, true, 4, true, 0}},
  };
  std::string grown = signed_installer;
  test::GrowCertificateTable(grown, std::string(100, 'h'));
  cases.push_back({"bytes hidden in the table", grown, {{}, true, 0, true, 104}});
  std::string no_signature = signed_installer;
  no_signature[table + 8] = '\x31';  // a SET, not the SEQUENCE of a PKCS#7 signature
  cases.push_back({"no signature", no_signature, {{}, true, 0, false, 0}});
  std::string cut = signed_installer.substr(0, signed_installer.size() - 8);
  cases.push_back({"cut off", cut, {{}, false, 0, false, 0}});
  for (const Case& c : cases) {
    test::WriteFile(scratch.path() / "installer", c.bytes);
    platform::File file = platform::File::OpenForReading((scratch.path() / "installer").string());
    const WindowsProgramFacts program = InspectWindowsProgram(file);
    ASSERT_TRUE(program.has_signature) << c.what;
    EXPECT_EQ(program.certificates.offset, table) << c.what;
    const CertificateTableFacts facts =
        InspectCertificateTable(file, program.certificates, static_cast<int64_t>(c.bytes.size()));
    EXPECT_EQ(facts.in_file, c.expected.in_file) << c.what;
    EXPECT_EQ(facts.bytes_after, c.expected.bytes_after) << c.what;
    EXPECT_EQ(facts.signature_readable, c.expected.signature_readable) << c.what;
    EXPECT_EQ(facts.bytes_beyond_signature, c.expected.bytes_beyond_signature) << c.what;
  }
}

// Verify and list read the envelope the reader reads, from the signed part
// only, and fail, saying why, when a signed installer hides bytes outside its
// signature.
TEST(WindowsProgram, VerifyFailsWhereASignedInstallerHoldsBytesOutsideItsSignature) {
  test::ScratchDirectory scratch;
  PackPlan plan = PlanOnWindowsStub(scratch, 0);
  plan.values.push_back({"executable", "%installer%"});
  const std::filesystem::path installer = scratch.path() / "out.exe";
  PackInstaller(scratch.path() / "reader.exe", plan, installer);
  std::string signed_installer = test::ReadFile(installer);
  const size_t envelope_end = signed_installer.size();
  test::AppendCertificateTable(signed_installer);
  std::string grown = signed_installer;
  test::GrowCertificateTable(grown, test::HiddenEnvelope("hidden setup"));
  const std::string appended = signed_installer + test::HiddenEnvelope("hidden setup");

  struct Case {
    const char* what;
    const std::string& bytes;
    int expected_code;
    const char* said;  // on standard output when verified, else on standard error
  };
  const Case cases[] = {
      {"signed", signed_installer, kExitSuccess, "before the certificate table"},
      {"an envelope hidden in the table", grown, kExitBadInstaller, "bytes beyond its signature"},
      {"an envelope after the table", appended, kExitBadInstaller, "bytes follow the certificate"},
  };
  for (const Case& c : cases) {
    test::WriteFile(installer, c.bytes);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int verified = VerifyInstaller(installer);
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(verified, c.expected_code) << c.what;
    EXPECT_NE((verified == kExitSuccess ? out : errors).find(c.said), std::string::npos)
        << c.what << ": " << out << errors;

    nlohmann::json document;
    const int listed = ListedAsJson(installer, document);
    EXPECT_EQ(listed, c.expected_code) << c.what;
    EXPECT_EQ(document["envelope_end"], envelope_end) << c.what;
    EXPECT_EQ(document["signed"], true) << c.what;
    EXPECT_EQ(document["certificate_table"]["envelope_before_it"], true) << c.what;
    EXPECT_EQ(document["variables"]["installer"], "Setup.exe") << c.what;
  }
}

// Code signing rewrites the stub's checksum and certificate entry only: with
// them set back (the checksum to 0 or to the one a linker computes), the
// stub's digest is checked as in an unsigned installer, so a changed byte of
// the reader fails verify, and list says which it is.
TEST(WindowsProgram, VerifyCatchesAChangedReaderInASignedInstaller) {
  constexpr size_t kChecksum = 0x80 + 4 + 20 + 64;  // in MinimalPeImage's optional header
  const auto checksum_of = [](const std::string& image) {
    uint32_t sum = 0;
    for (size_t i = 0; i < image.size(); i += 2) {
      if (i == kChecksum || i == kChecksum + 2) continue;
      sum += static_cast<unsigned char>(image[i]) | static_cast<unsigned char>(image[i + 1]) << 8;
      sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<uint32_t>(sum + image.size());
  };
  for (const bool linker_checksum : {false, true}) {
    test::ScratchDirectory scratch;
    const PackPlan plan = PlanOnWindowsStub(scratch, 0);
    std::string stub = test::ReadFile(scratch.path() / "reader.exe");
    stub[0x300] = 'c';  // the reader's code
    if (linker_checksum) test::PutLittleEndian(stub, kChecksum, checksum_of(stub), 4);
    test::WriteFile(scratch.path() / "reader.exe", stub);
    const std::filesystem::path installer = scratch.path() / "out.exe";
    PackInstaller(scratch.path() / "reader.exe", plan, installer);
    std::string signed_installer = test::ReadFile(installer);
    test::AppendCertificateTable(signed_installer);
    test::PutLittleEndian(signed_installer, kChecksum, 0x5157, 4);  // the signed file's
    for (const bool changed : {false, true}) {
      std::string bytes = signed_installer;
      if (changed) bytes[0x300] = 'C';
      test::WriteFile(installer, bytes);
      testing::internal::CaptureStdout();
      testing::internal::CaptureStderr();
      const int verified = VerifyInstaller(installer);
      std::fflush(stdout);
      testing::internal::GetCapturedStdout();
      const std::string errors = testing::internal::GetCapturedStderr();
      nlohmann::json document;
      const int listed = ListedAsJson(installer, document);
      const std::string context =
          std::string(linker_checksum ? "a linker's checksum" : "no checksum") +
          (changed ? ", a byte changed" : "");
      EXPECT_EQ(verified, changed ? kExitBadInstaller : kExitSuccess) << context << errors;
      EXPECT_EQ(listed, verified) << context;
      EXPECT_EQ(
          errors.find("even with the fields code signing rewrites set back") != std::string::npos,
          changed)
          << context << errors;
      EXPECT_EQ(document["groups"].back()["changed_only_by_signing"], !changed) << context;
    }
  }
}

}  // namespace
