// Whole Windows installers under Wine: the Windows reader with envelopes
// appended to it, and a recording setup program (GUI or console) in them. The
// reader carries no test hooks: its message boxes are read from Wine's relay
// trace, its work directory from the prefix's temporary directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "compressed_contents.h"
#include "envelope_writer.h"
#include "expected_messages.h"
#include "installers.h"
#include "options.h"
#include "pe_images.h"
#include "record.h"
#include "tail.h"
#include "test_support.h"
#include "wine_runner.h"

using namespace format;

namespace {

namespace fs = std::filesystem;

using wine::kInvalidArchive;
using wine::Stub;
using wine::WindowsProgram;
using wine::WorkDirectories;

const wine::MessageBox kAlreadyRunning{test::kAlreadyRunningText, test::kAlreadyRunningCaption};

const std::string& GuiSetup() { return WindowsProgram("recording_setup_gui.exe"); }
const std::string& ConsoleSetup() { return WindowsProgram("recording_setup_console.exe"); }

// The release-shaped installer on the Windows reader.
std::string ExampleInstaller(const std::string& setup) {
  return test::ReleaseShapedInstaller(Stub(), setup);
}

std::string SetupOnlyInstaller(const std::string& setup, const std::string& parameters) {
  return test::SetupOnlyInstaller(Stub(), setup, parameters);
}

class WineInstallerTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(record_);
    // Leftovers of an earlier, failed run would hide what this one leaves.
    for (const fs::path& directory : WorkDirectories()) fs::remove_all(directory);
  }

  void WriteInstaller(const std::string& bytes, const fs::path& path) {
    test::WriteFile(path, bytes);
  }
  void WriteInstaller(const std::string& bytes) { WriteInstaller(bytes, installer_); }

  std::map<std::string, std::string> Environment() {
    return {{"SETUP_RECORD", wine::WindowsPath(record_)}};
  }

  wine::Result Run(const fs::path& installer) {
    return wine::Program(installer, scratch_.path(), Environment()).Wait();
  }
  wine::Result Run() { return Run(installer_); }

  std::string Recorded(const std::string& name) { return test::ReadFile(record_ / name); }
  bool SetupRan() { return fs::exists(record_ / "done"); }

  std::set<std::string> RecordedFiles() { return test::EntryNames(record_ / "files"); }

  // The checks of a run of ExampleInstaller(setup) that began at `before`.
  void ExpectTheExampleRan(const wine::Result& result, const std::string& setup,
                           std::time_t before) {
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.boxes, std::vector<wine::MessageBox>{});
    ASSERT_TRUE(SetupRan());

    // The setup program ran in %TEMP%\SF<seconds>...
    const std::string cwd = Recorded("cwd");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(cwd, match, std::regex(R"(C:\\.*\\SF([0-9]+))"))) << cwd;
    const long seconds = std::stol(match[1]);
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
    EXPECT_EQ(wine::HostPath(cwd).parent_path(), wine::TemporaryDirectory());

    // ... from there, with the expanded parameters exactly as expanded...
    EXPECT_EQ(Recorded("tail"),
              "/V\"/l*v install.txt ALLUSERS=2 USER_PARTNER_IDENTITY=5 "
              "USER_SOURCE_DIRECTORY=\\\"" +
                  cwd + "\\\\\\\"\"");
    EXPECT_NE(Recorded("commandline").find(cwd + "\\Setup.exe"), std::string::npos)
        << Recorded("commandline");

    // ... beside every packed file, byte for byte...
    EXPECT_EQ(RecordedFiles(), (std::set<std::string>{"Setup.exe", "BG5.ini", "DE5.ini", "EN5.ini",
                                                      "ZH5.ini", "LogoSmall.bmp"}));
    EXPECT_EQ(test::ReadFile(record_ / "files" / "Setup.exe"), setup);
    EXPECT_EQ(test::ReadFile(record_ / "files" / "LogoSmall.bmp"), test::kLogo);
    EXPECT_EQ(test::ReadFile(record_ / "files" / "DE5.ini"), "[Strings] DE5.ini");

    // ... and its work directory is gone.
    EXPECT_EQ(WorkDirectories(), std::vector<fs::path>{});
  }

  test::ScratchDirectory scratch_;
  fs::path record_ = scratch_.path() / "record";
  fs::path installer_ = scratch_.path() / "installer.exe";
};

TEST_F(WineInstallerTest, TheExampleInstallerRunsItsGuiSetupProgramAndLeavesNothingBehind) {
  WriteInstaller(ExampleInstaller(GuiSetup()));
  const std::time_t before = std::time(nullptr);
  const wine::Result result = Run();
  ExpectTheExampleRan(result, GuiSetup(), before);
}

// A sparse installer of more than 4 GiB: the reader, a hole of 4.5 GiB, then
// the rest of the example installer. Every record lies past 4 GiB.
TEST_F(WineInstallerTest, AnInstallerLargerThanFourGiBRuns) {
  const std::string bytes = ExampleInstaller(GuiSetup());
  const std::string_view reader(bytes.data(), WindowsProgram("reader.exe").size());
  if (!test::WriteFileWithHole(installer_, reader, 4608ull << 20, bytes.substr(reader.size()))) {
    GTEST_SKIP() << "no large sparse files here";
  }
  const std::time_t before = std::time(nullptr);
  const wine::Result result = Run();
  ExpectTheExampleRan(result, GuiSetup(), before);
}

TEST_F(WineInstallerTest, AConsoleSetupProgramsWorkDirectoryIsRemovedToo) {
  WriteInstaller(ExampleInstaller(ConsoleSetup()));
  const std::time_t before = std::time(nullptr);
  const wine::Result result = Run();
  ExpectTheExampleRan(result, ConsoleSetup(), before);
}

TEST_F(WineInstallerTest, TheReadersOwnCommandLineTailReachesTheSetupProgram) {
  WriteInstaller(SetupOnlyInstaller(GuiSetup(), "[%commandline%]"));
  const wine::Result without = Run();
  EXPECT_EQ(without.exit_code, 0);
  ASSERT_TRUE(SetupRan());
  EXPECT_EQ(Recorded("tail"), "[]");

  fs::remove(record_ / "done");
  const wine::Result with =
      wine::Program(installer_, scratch_.path(), Environment(), {"/S", "dir=C:\\x y"}).Wait();
  EXPECT_EQ(with.exit_code, 0);
  ASSERT_TRUE(SetupRan());
  EXPECT_EQ(Recorded("tail"), "[/S \"dir=C:\\x y\"]");  // verbatim, as Wine quoted it
}

TEST_F(WineInstallerTest, ADamagedInstallerShowsTwoInvalidArchiveBoxesAndRunsNothing) {
  std::string bytes = ExampleInstaller(GuiSetup());
  const size_t setup_at = bytes.rfind(GuiSetup());
  ASSERT_NE(setup_at, std::string::npos);
  bytes[setup_at + GuiSetup().size() / 2] ^= 0x20;
  WriteInstaller(bytes);

  const wine::Result result = Run();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.boxes, (std::vector<wine::MessageBox>{kInvalidArchive, kInvalidArchive}));
  EXPECT_FALSE(SetupRan());
  EXPECT_EQ(WorkDirectories(), std::vector<fs::path>{});
}

// Compressed files are decoded on the reader's helper threads: every one
// arrives whole; a damaged chunk runs nothing and leaves nothing.
TEST_F(WineInstallerTest, ACompressedInstallerRunsWithEveryFileWholeAndADamagedOneRunsNothing) {
  std::string text;
  for (int line = 0; text.size() < 3 * kMaxChunkOriginalSize + 11; ++line) {
    text += "line " + std::to_string(line) + " of a compressible text\r\n";
  }
  const std::string random = test::RandomBytes(kMaxChunkOriginalSize + 5, 3);
  std::string intact = Stub();
  writer::AppendCompressedFileGroup(intact, "", "text.txt", text);
  writer::AppendCompressedFileGroup(intact, "", "random.bin", random, writer::Compression::kFast);
  writer::AppendCompressedFileGroup(intact, "", "empty.txt", "");
  writer::AppendCompressedFileGroup(intact, "installer", "Setup.exe", GuiSetup());
  writer::AppendValueGroup(intact, "executable", "%installer%");
  writer::AppendTail(intact);
  WriteInstaller(intact);
  const wine::Result result = Run();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.boxes, std::vector<wine::MessageBox>{});
  ASSERT_TRUE(SetupRan());
  EXPECT_EQ(RecordedFiles(),
            (std::set<std::string>{"Setup.exe", "text.txt", "random.bin", "empty.txt"}));
  EXPECT_TRUE(test::ReadFile(record_ / "files" / "text.txt") == text);
  EXPECT_TRUE(test::ReadFile(record_ / "files" / "random.bin") == random);
  EXPECT_EQ(test::ReadFile(record_ / "files" / "empty.txt"), "");
  EXPECT_EQ(WorkDirectories(), std::vector<fs::path>{});

  fs::remove_all(record_);
  fs::create_directory(record_);
  const std::string compressed = writer::CompressedContents(text, writer::Compression::kBest);
  std::string damaged = intact;
  damaged[damaged.find(compressed) + compressed.size() / 2] ^= 0x20;
  WriteInstaller(damaged);
  const wine::Result refused = Run();
  EXPECT_EQ(refused.exit_code, 0);
  EXPECT_EQ(refused.boxes, (std::vector<wine::MessageBox>{kInvalidArchive, kInvalidArchive}));
  EXPECT_FALSE(SetupRan());
  EXPECT_EQ(WorkDirectories(), std::vector<fs::path>{});
}

// A folder tree in an archive group, frames spanning files: the setup
// program in a subfolder starts in the work directory's top, beside the
// whole tree, and nothing is left afterwards.
TEST_F(WineInstallerTest, AFolderTreeRunsItsSetupProgramFromASubfolderAndLeavesNothing) {
  WriteInstaller(
      test::TreeInstaller(Stub(), "setup.exe", GuiSetup(), writer::Compression::kBest, 1 << 20));
  const wine::Result result = Run();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.boxes, std::vector<wine::MessageBox>{});
  ASSERT_TRUE(SetupRan());
  for (const auto& [path, bytes] : test::TreeInstallerFiles("setup.exe", GuiSetup())) {
    const fs::path copy = record_ / "files" / fs::u8path(path);
    if (path.ends_with('/')) {
      EXPECT_TRUE(fs::is_directory(copy)) << path;
    } else {
      EXPECT_TRUE(fs::exists(copy) && test::ReadFile(copy) == bytes) << path;
    }
  }
  EXPECT_EQ(WorkDirectories(), std::vector<fs::path>{});
}

// A compressed file named as a temporary file is (in any case, as Windows
// compares names) placed before the next file's temporary file is made: the
// setup program read after it runs, and both files keep their bytes.
TEST_F(WineInstallerTest, ACompressedFileNamedAsATemporaryFileTakesNoOtherFilesBytes) {
  const std::string other = test::RandomBytes(3 * kMaxChunkOriginalSize, 5);
  for (const std::string name : {"~extracting-1", "~EXTRACTING-1"}) {
    std::string bytes = Stub();
    writer::AppendCompressedFileGroup(bytes, "installer", "Setup.exe", GuiSetup());
    writer::AppendCompressedFileGroup(bytes, "", name, other);
    writer::AppendValueGroup(bytes, "executable", "%installer%");
    writer::AppendTail(bytes);
    WriteInstaller(bytes);
    fs::remove_all(record_);
    fs::create_directory(record_);
    const wine::Result result = Run();
    EXPECT_EQ(result.exit_code, 0) << name;
    EXPECT_EQ(result.boxes, std::vector<wine::MessageBox>{}) << name;
    ASSERT_TRUE(SetupRan()) << name;
    EXPECT_EQ(RecordedFiles(), (std::set<std::string>{"Setup.exe", name})) << name;
    EXPECT_TRUE(test::ReadFile(record_ / "files" / "Setup.exe") == GuiSetup()) << name;
    EXPECT_TRUE(test::ReadFile(record_ / "files" / name) == other) << name;
    EXPECT_EQ(WorkDirectories(), std::vector<fs::path>{}) << name;
  }
}

TEST_F(WineInstallerTest, AReaderWithoutEnvelopeSaysSoAndAsksForTheWholeDownload) {
  WriteInstaller(WindowsProgram("reader.exe"));
  const wine::Result result = Run();
  EXPECT_EQ(result.exit_code, 0);
  ASSERT_EQ(result.boxes.size(), 2u) << result.trace;
  EXPECT_EQ(result.boxes[0].caption, "Failed to initialize archive!");
  EXPECT_TRUE(
      result.boxes[0].text.starts_with("File: " + wine::WindowsPath(installer_) + "\rError: "))
      << result.boxes[0].text;
  EXPECT_EQ(result.boxes[1], kInvalidArchive);
  EXPECT_EQ(WorkDirectories(), std::vector<fs::path>{});
}

TEST_F(WineInstallerTest, TheDllSearchIsRestrictedToTheSystemDirectoryFirstOfAll) {
  WriteInstaller(WindowsProgram("reader.exe"));
  const wine::Result result = Run();
  // LOAD_LIBRARY_SEARCH_SYSTEM32, before the reader does anything else.
  const size_t restricted = result.trace.find(".SetDefaultDllDirectories(00000800)");
  ASSERT_NE(restricted, std::string::npos) << result.trace.substr(0, 6000);
  EXPECT_LT(restricted, result.trace.find(":Call user32.MessageBoxW("));
}

TEST_F(WineInstallerTest, ASecondInstanceIsRefusedWhileTheFirstWaitsForItsSetupProgram) {
  WriteInstaller(ExampleInstaller(GuiSetup()));
  const fs::path release = scratch_.path() / "release";
  std::map<std::string, std::string> environment = Environment();
  environment["SETUP_RELEASE"] = wine::WindowsPath(release);
  wine::Program first(installer_, scratch_.path(), environment);
  for (int i = 0; i < 1200 && !fs::exists(record_ / "started"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(fs::exists(record_ / "started"));
  const std::vector<fs::path> running = WorkDirectories();
  EXPECT_EQ(running.size(), 1u);

  const fs::path second_scratch = scratch_.path() / "second";
  fs::create_directory(second_scratch);
  const wine::Result second = wine::Program(installer_, second_scratch, Environment()).Wait();
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_EQ(second.boxes, std::vector<wine::MessageBox>{kAlreadyRunning});
  EXPECT_EQ(WorkDirectories(), running) << "the refused reader made no directory";

  // The first one was waiting all along, and ends normally once released.
  EXPECT_FALSE(fs::exists(record_ / "done"));
  test::WriteFile(release, "");
  const wine::Result result = first.Wait();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.boxes, std::vector<wine::MessageBox>{});
  EXPECT_TRUE(SetupRan());
  EXPECT_EQ(WorkDirectories(), std::vector<fs::path>{});
}

TEST_F(WineInstallerTest, ALongChainOfValuesExpandsWithoutExhaustingTheStack) {
  constexpr int kLinks = 20000;
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", GuiSetup());
  writer::AppendValueGroup(bytes, "v" + std::to_string(kLinks), "%installer%");
  for (int i = kLinks - 1; i >= 0; --i) {
    writer::AppendValueGroup(bytes, "v" + std::to_string(i), "%v" + std::to_string(i + 1) + "%");
  }
  writer::AppendValueGroup(bytes, "executable", "%v0%");
  writer::AppendValueGroup(bytes, "parameters", "chain");
  writer::AppendTail(bytes);
  WriteInstaller(bytes);

  const wine::Result result = Run();
  EXPECT_EQ(result.exit_code, 0) << result.trace.substr(0, 6000);
  EXPECT_EQ(result.boxes, std::vector<wine::MessageBox>{});
  ASSERT_TRUE(SetupRan());
  EXPECT_EQ(Recorded("tail"), "chain");
  EXPECT_EQ(WorkDirectories(), std::vector<fs::path>{});
}

// A work directory made beforehand for the coming runs, holding a DLL the
// setup program might load and a redirection folder for it: the setup
// program starts in an emptied one.
TEST_F(WineInstallerTest, AWorkDirectoryMadeBeforehandIsEmptiedBeforeAnythingIsExtracted) {
  const std::vector<fs::path> planted = test::ComingWorkDirectories(wine::TemporaryDirectory());
  for (const fs::path& directory : planted) {
    fs::create_directories(directory / "Setup.exe.Local");
    test::WriteFile(directory / "Setup.exe.Local" / "comctl32.dll", "planted");
    test::WriteFile(directory / "version.dll", "planted");
  }
  WriteInstaller(SetupOnlyInstaller(GuiSetup(), ""));
  const wine::Result result = Run();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.boxes, std::vector<wine::MessageBox>{});
  ASSERT_TRUE(SetupRan());
  EXPECT_EQ(Recorded("entries"), "Setup.exe\n") << "nothing planted beside it";
  EXPECT_EQ(RecordedFiles(), std::set<std::string>{"Setup.exe"});
  const fs::path used = wine::HostPath(Recorded("cwd"));
  EXPECT_NE(std::find(planted.begin(), planted.end(), used), planted.end()) << used;
  EXPECT_FALSE(fs::exists(used));
  for (const fs::path& directory : planted) fs::remove_all(directory);
}

// Signing appends a certificate after the envelope; the reader finds its
// envelope past it.
// The reader program's handling of the standard library's failures (it is
// built without exceptions), in a stand-in program that links it.
TEST_F(WineInstallerTest, AStandardLibraryFailureEndsTheProgramWithTheUnhandledExceptionBox) {
  const struct {
    const char* failure;
    const char* description;
  } cases[] = {
      {"memory", "std::bad_alloc"},
      {"length", "basic_string::_M_create"},
      {"position", "basic_string::substr: __pos (which is 5) > this->size() (which is 3)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failure);
    const wine::Result result = wine::Program(fs::path(WINDOWS_BIN) / "runtime_failure_probe.exe",
                                              scratch_.path(), {}, {c.failure})
                                    .Wait();
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.boxes,
              (std::vector<wine::MessageBox>{{"Unhandled Exception", c.description}}));
  }
}

// Whether `osslsigncode verify` accepts the signature of `installer`.
bool SignatureVerifies(const fs::path& installer, const fs::path& scratch) {
  const fs::path log = scratch / "verifying.log";
  const bool verifies =
      std::system(("osslsigncode verify -CAfile '" + (scratch / "cert.pem").string() + "' -in '" +
                   installer.string() + "' >'" + log.string() + "' 2>&1")
                      .c_str()) == 0;
  if (!verifies) std::cerr << test::ReadFile(log);
  return verifies;
}

// Signs the installer at `unsigned_installer` into `signed_installer` with a
// test certificate made in `scratch`, and checks that the signature
// verifies. Fails the test
// (and returns false) when a signing tool fails.
bool SignInto(const fs::path& unsigned_installer, const fs::path& signed_installer,
              const fs::path& scratch) {
  const fs::path key = scratch / "key.pem", certificate = scratch / "cert.pem";
  const fs::path log = scratch / "signing.log";
  auto run = [&](const std::string& command) {
    return std::system((command + " </dev/null >>'" + log.string() + "' 2>&1").c_str());
  };
  if (!fs::exists(certificate)) {
    EXPECT_EQ(run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Quillmarrow Test "
                  "Signing' -addext extendedKeyUsage=codeSigning -keyout '" +
                  key.string() + "' -out '" + certificate.string() + "'"),
              0)
        << test::ReadFile(log);
  }
  EXPECT_EQ(run("osslsigncode sign -certs '" + certificate.string() + "' -key '" + key.string() +
                "' -n Quillmarrow -in '" + unsigned_installer.string() + "' -out '" +
                signed_installer.string() + "'"),
            0)
      << test::ReadFile(log);
  return !testing::Test::HasFailure() && SignatureVerifies(signed_installer, scratch);
}

TEST_F(WineInstallerTest, ASignedInstallerVerifiesAndRunsLikeTheUnsignedOne) {
  const fs::path unsigned_installer = scratch_.path() / "unsigned.exe";
  WriteInstaller(ExampleInstaller(GuiSetup()), unsigned_installer);
  ASSERT_TRUE(SignInto(unsigned_installer, installer_, scratch_.path()));

  const std::string signed_bytes = test::ReadFile(installer_);
  const std::string unsigned_bytes = test::ReadFile(unsigned_installer);
  ASSERT_GT(signed_bytes.size(), unsigned_bytes.size()) << "a certificate was appended";
  // The tail record stands before the certificate, not at the end.
  EXPECT_LT(signed_bytes.rfind(TailMarker()) + 42, signed_bytes.size());

  const std::time_t before = std::time(nullptr);
  const wine::Result result = Run();
  ExpectTheExampleRan(result, GuiSetup(), before);
}

// What runs is what the signature covers. A second envelope hidden in the
// grown certificate table (the signature still verifies) or appended after
// it is never read: only the signed envelope's setup program runs, without a
// message. Files that are not signed are searched whole, as before.
TEST_F(WineInstallerTest, OnlyTheSignedEnvelopeRunsWhateverIsHiddenInOrAfterTheSignature) {
  const fs::path unsigned_installer = scratch_.path() / "unsigned.exe";
  const std::string example = ExampleInstaller(GuiSetup());
  WriteInstaller(example, unsigned_installer);
  ASSERT_TRUE(SignInto(unsigned_installer, installer_, scratch_.path()));
  const std::string signed_bytes = test::ReadFile(installer_);
  const std::string hidden = test::HiddenEnvelope(GuiSetup());

  std::string grown = signed_bytes;
  test::GrowCertificateTable(grown, hidden);
  WriteInstaller(grown);
  EXPECT_TRUE(SignatureVerifies(installer_, scratch_.path())) << "the table is not signed";
  std::string entry_past_the_end = example;
  test::SetCertificateDirectory(entry_past_the_end, static_cast<uint32_t>(example.size() - 16),
                                0x1000);
  const std::pair<const char*, std::string> cases[] = {
      {"an envelope hidden in the grown certificate table", grown},
      {"an envelope after the certificate table", signed_bytes + hidden},
      {"unsigned, with bytes after the envelope", example},
      {"a certificate entry that points past the end", entry_past_the_end},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    fs::remove_all(record_);
    fs::create_directory(record_);
    WriteInstaller(bytes);
    const std::time_t before = std::time(nullptr);
    ExpectTheExampleRan(Run(), GuiSetup(), before);
  }
}

// What exit_code_probe.exe recorded of one run of the installer.
struct ProbedRun {
  int exit_code = -1;  // the reader's full exit code; -1 when none was recorded
  wine::Result result;
};

class WineExitCodeTest : public WineInstallerTest {
 protected:
  // Runs the installer through exit_code_probe.exe, in a hidden window
  // station when `hidden` is set.
  ProbedRun Probe(const std::map<std::string, std::string>& more, bool hidden = false) {
    std::map<std::string, std::string> environment = Environment();
    environment.insert(more.begin(), more.end());
    const fs::path recorded = scratch_.path() / "exit-code";
    fs::remove(recorded);
    std::vector<std::string> arguments = {wine::WindowsPath(installer_),
                                          wine::WindowsPath(recorded)};
    if (hidden) arguments.push_back("hidden");
    ProbedRun run;
    run.result = wine::Program(fs::path(WINDOWS_BIN) / "exit_code_probe.exe", scratch_.path(),
                               environment, arguments)
                     .Wait();
    if (fs::exists(recorded)) run.exit_code = std::stoi(test::ReadFile(recorded));
    return run;
  }
};

TEST_F(WineExitCodeTest, ExitCodesAreTheSetupProgramsAndTheReadersOwnOnlyWhenAskedFor) {
  struct Case {
    bool exit_codes;
    const char* setup_exit_code;
    int expected;
  };
  for (const Case& c : {Case{false, "3010", 0}, Case{true, "3010", 3010}, Case{true, "1603", 1603},
                        Case{true, "0", 0}}) {
    WriteInstaller(test::SetupOnlyInstaller(Stub(), GuiSetup(), "", c.exit_codes));
    const ProbedRun run = Probe({{"SETUP_EXIT_CODE", c.setup_exit_code}});
    EXPECT_EQ(run.exit_code, c.expected) << c.exit_codes << " " << c.setup_exit_code;
    EXPECT_EQ(run.result.boxes, std::vector<wine::MessageBox>{});
  }

  const std::string installer = test::SetupOnlyInstaller(Stub(), GuiSetup(), "", true);
  {
    std::string damaged = installer;
    damaged[damaged.find(GuiSetup()) + GuiSetup().size() / 2] ^= 0x01;
    WriteInstaller(damaged);
    const ProbedRun run = Probe({});
    EXPECT_EQ(run.exit_code, 1620);
    EXPECT_EQ(run.result.boxes, (std::vector<wine::MessageBox>{kInvalidArchive, kInvalidArchive}));
  }
  {
    std::string bytes = Stub();
    writer::AppendValueGroup(bytes, "executable", "NotPacked.exe");
    writer::AppendOptionGroup(bytes, kExitCodesOption);
    writer::AppendTail(bytes);
    WriteInstaller(bytes);
    const ProbedRun run = Probe({});
    EXPECT_EQ(run.exit_code, 1603);
    EXPECT_EQ(run.result.boxes.size(), 1u);
  }
  {
    WriteInstaller(installer);
    const fs::path release = scratch_.path() / "release";
    std::map<std::string, std::string> environment = Environment();
    environment["SETUP_RELEASE"] = wine::WindowsPath(release);
    const fs::path first_scratch = scratch_.path() / "first";
    fs::create_directory(first_scratch);
    wine::Program first(installer_, first_scratch, environment);
    for (int i = 0; i < 1200 && !fs::exists(record_ / "started"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(fs::exists(record_ / "started"));
    const ProbedRun second = Probe({});
    EXPECT_EQ(second.exit_code, 1618);
    EXPECT_EQ(second.result.boxes, std::vector<wine::MessageBox>{kAlreadyRunning});
    test::WriteFile(release, "");
    EXPECT_EQ(first.Wait().exit_code, 0);
  }
  EXPECT_EQ(WorkDirectories(), std::vector<fs::path>{});
}

TEST_F(WineExitCodeTest, WhereNoOneSeesABoxMessagesGoToTheRunsLogAndTheRunGoesOn) {
  std::string bytes = test::SetupOnlyInstaller(Stub(), GuiSetup(), "", true);
  bytes[bytes.find(GuiSetup()) + GuiSetup().size() / 2] ^= 0x01;
  WriteInstaller(bytes);
  const std::time_t before = std::time(nullptr);
  const ProbedRun run = Probe({}, true);
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(run.exit_code, 1620);
  EXPECT_EQ(run.result.boxes, std::vector<wine::MessageBox>{}) << "no box was shown";

  // One log, SF<seconds>.log beside where the work directory was.
  const std::vector<fs::path> left = WorkDirectories();
  ASSERT_EQ(left.size(), 1u);
  std::smatch match;
  const std::string name = left[0].filename().string();
  ASSERT_TRUE(std::regex_match(name, match, std::regex("SF([0-9]+)\\.log"))) << name;
  EXPECT_GE(std::stol(match[1]), before);
  EXPECT_LE(std::stol(match[1]), after);
  const std::string line = kInvalidArchive.caption + ": " +
                           std::regex_replace(kInvalidArchive.text, std::regex("\r\n"), " ") +
                           "\r\n";
  EXPECT_EQ(test::ReadFile(left[0]), line + line);
  fs::remove(left[0]);
}

}  // namespace
