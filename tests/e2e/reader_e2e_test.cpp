// Whole runs of the built reader with envelopes appended to it, under a
// private TMPDIR, with a shell-script setup program that records what it got.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>

#include "envelope_writer.h"
#include "expected_messages.h"
#include "installers.h"
#include "options.h"
#include "process_runner.h"
#include "reader_run_fixture.h"
#include "record.h"
#include "recording_setup.h"
#include "tail.h"
#include "test_support.h"

using namespace format;

namespace {

namespace fs = std::filesystem;

using test::Entries;
using test::kNobody;
using test::kRecordingSetup;

const std::string& kInvalidArchive = test::kInvalidArchiveReport;
const std::string& kAlreadyRunning = test::kAlreadyRunningReport;
const std::string& kCannotEnter = test::kCannotEnterReport;

const std::string& ReaderBytes() { return test::ProgramBytes(READER_PATH); }

std::string Stub() { return test::Stub(READER_PATH); }

std::string ReleaseShapedInstaller(const std::string& setup) {
  return test::ReleaseShapedInstaller(Stub(), setup);
}

// The setup program alone, started with `parameters`.
std::string SetupOnlyInstaller(const std::string& parameters,
                               const std::string& setup = kRecordingSetup) {
  return test::SetupOnlyInstaller(Stub(), setup, parameters);
}

// The longest a run here may take; the slowest takes a few seconds.
constexpr int kRunTimeLimitSeconds = 60;

class ReaderRunTest : public test::ReaderRunFixture {
 protected:
  ReaderRunTest() : ReaderRunFixture(kRunTimeLimitSeconds) {}

  std::string Recorded(const std::string& name) { return test::ReadFile(record_ / name); }
  bool SetupRan() { return fs::exists(record_ / "argc"); }

  std::vector<std::string> RecordedArguments() {
    std::vector<std::string> arguments(std::stoul(Recorded("argc")));
    for (size_t i = 0; i < arguments.size(); ++i) {
      arguments[i] = Recorded("arg" + std::to_string(i));
    }
    return arguments;
  }

  std::set<std::string> RecordedFiles() { return test::EntryNames(record_ / "files"); }

  // Starts the installer with a setup program that waits for release_ and
  // returns once that program has started.
  std::unique_ptr<test::RunningProgram> StartReaderThatWaits() {
    test::LaunchOptions options = Options();
    options.set_environment["SETUP_RELEASE"] = release_.string();
    auto program = std::make_unique<test::RunningProgram>(installer_.string(), options);
    for (int i = 0; i < 600 && !fs::exists(record_ / "started"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(fs::exists(record_ / "started"));
    return program;
  }

  fs::path release_ = scratch_.path() / "release";
};

TEST_F(ReaderRunTest, RunsAReleaseShapedInstallerSilentlyAndRemovesItsWorkDirectory) {
  WriteInstaller(ReleaseShapedInstaller(kRecordingSetup));
  const std::time_t before = std::time(nullptr);
  const test::ProgramResult result = Run();
  const std::time_t after = std::time(nullptr);

  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.errors, "");
  EXPECT_EQ(result.output, "");

  // The setup program ran in TMPDIR/SF<seconds>...
  std::smatch match;
  const std::string cwd = Recorded("cwd");
  const std::string work = fs::canonical(temp_).string() + "/SF";
  ASSERT_TRUE(std::regex_match(cwd, match, std::regex(work + "([0-9]+)\n")));
  const long seconds = std::stol(match[1]);
  EXPECT_GE(seconds, before);
  EXPECT_LE(seconds, after);

  // ... with one argument, the work directory between escaped quotes...
  EXPECT_EQ(RecordedArguments(),
            std::vector<std::string>{"/V/l*v install.txt ALLUSERS=2 USER_PARTNER_IDENTITY=5 "
                                     "USER_SOURCE_DIRECTORY=\"" +
                                     cwd.substr(0, cwd.size() - 1) + "\\\""});

  // ... beside every packed file, byte for byte...
  EXPECT_EQ(RecordedFiles(), (std::set<std::string>{"Setup.exe", "BG5.ini", "DE5.ini", "EN5.ini",
                                                    "ZH5.ini", "LogoSmall.bmp"}));
  EXPECT_EQ(test::ReadFile(record_ / "files" / "Setup.exe"), kRecordingSetup);
  EXPECT_EQ(test::ReadFile(record_ / "files" / "LogoSmall.bmp"), test::kLogo);
  EXPECT_EQ(test::ReadFile(record_ / "files" / "DE5.ini"), "[Strings] DE5.ini");

  // ... and nothing is left behind.
  EXPECT_TRUE(Entries(temp_).empty());
}

// A folder tree in an archive group, its setup program in a subfolder: the
// setup program runs in the work directory's top beside the whole tree,
// executable bits and an empty directory included, and nothing is left
// afterwards, the dot-named directory the tree made included.
TEST_F(ReaderRunTest, AFolderTreeRunsItsSetupProgramFromASubfolderAndLeavesNothing) {
  const auto expected = test::TreeInstallerFiles("setup", kRecordingSetup);
  for (const auto compression : {writer::Compression::kNone, writer::Compression::kBest}) {
    SCOPED_TRACE(static_cast<int>(compression));
    fs::remove_all(record_);
    fs::create_directory(record_);
    WriteInstaller(test::TreeInstaller(Stub(), "setup", kRecordingSetup, compression, 1 << 20));
    const test::ProgramResult result = Run();
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.errors, "");
    ASSERT_TRUE(SetupRan());
    std::map<std::string, std::string> found;
    const fs::path files = record_ / "files";
    for (const auto& entry : fs::recursive_directory_iterator(files)) {
      const std::string path = fs::relative(entry.path(), files).generic_string();
      found[entry.is_directory() ? path + "/" : path] =
          entry.is_directory() ? "" : test::ReadFile(entry.path());
    }
    EXPECT_TRUE(found == expected);
    EXPECT_EQ(test::EntryNames(files),
              (std::set<std::string>{".config", "bin", "empty", "empty.txt", "lib"}));
    EXPECT_TRUE(Entries(temp_).empty());
  }
}

// A program file of more than 4 GiB, sparse: the reader's bytes, a hole of
// 4.5 GiB, then everything of a release-shaped installer after its reader.
// Every record the walk reads lies past 4 GiB; the hole is never read.
TEST_F(ReaderRunTest, AnInstallerLargerThanFourGiBRuns) {
  const std::string bytes = ReleaseShapedInstaller(kRecordingSetup);
  const std::string_view reader(bytes.data(), ReaderBytes().size());
  if (!test::WriteFileWithHole(installer_, reader, 4608ull << 20, bytes.substr(reader.size()))) {
    GTEST_SKIP() << "no large sparse files here";
  }
  fs::permissions(installer_, fs::perms(0755));

  const test::ProgramResult result = Run();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.errors, "");
  ASSERT_TRUE(SetupRan());
  EXPECT_EQ(RecordedFiles(), (std::set<std::string>{"Setup.exe", "BG5.ini", "DE5.ini", "EN5.ini",
                                                    "ZH5.ini", "LogoSmall.bmp"}));
  EXPECT_EQ(test::ReadFile(record_ / "files" / "LogoSmall.bmp"), test::kLogo);
  EXPECT_TRUE(Entries(temp_).empty());
}

TEST_F(ReaderRunTest, TheSampleInstallerShowsWhatItsSetupProgramReceived) {
  installer_ = SAMPLE_INSTALLER_PATH;
  const test::ProgramResult result = Run();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.errors, "");
  const std::string work = fs::canonical(temp_).string() + "/SF[0-9]+";
  EXPECT_TRUE(std::regex_search(
      result.output, std::regex("\\[1\\] /V/l\\*v install.txt ALLUSERS=2 USER_PARTNER_IDENTITY=5 "
                                "USER_SOURCE_DIRECTORY=\"" +
                                work + "\\\\\"\n")))
      << result.output;
  EXPECT_NE(result.output.find("LogoSmall.bmp (102 bytes)"), std::string::npos) << result.output;
  EXPECT_TRUE(Entries(temp_).empty());
}

TEST_F(ReaderRunTest, ItsOwnArgumentsReachTheSetupProgramThroughCommandline) {
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
  test::AppendLaunch(bytes, "%commandline% [%source%]");
  // Values named like the built-ins change nothing.
  writer::AppendValueGroup(bytes, "commandline", "from the envelope");
  writer::AppendValueGroup(bytes, "source", "from the envelope");
  writer::AppendTail(bytes);
  WriteInstaller(bytes);

  const std::vector<std::string> arguments = {
      "plain", "two words", "", "quote\"inside", "trailing\\", "C:\\dir with space\\", "tab\there"};
  test::LaunchOptions options = Options();
  options.arguments = arguments;
  ASSERT_EQ(Run(options).errors, "");
  std::vector<std::string> expected = arguments;
  const std::string cwd = Recorded("cwd");
  expected.push_back("[" + cwd.substr(0, cwd.size() - 1) + "]");
  EXPECT_EQ(RecordedArguments(), expected);
}

TEST_F(ReaderRunTest, ABareReaderReportsTheMissingEnvelope) {
  EXPECT_EQ(ReaderBytes().find(TailMarker()), std::string::npos)
      << "the reader must not carry the tail marker";
  WriteInstaller(ReaderBytes());
  const test::ProgramResult result = Run();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.errors,
            "Failed to initialize archive!: File: " + fs::canonical(installer_).string() +
                "\nError: " + std::strerror(0) + "\n" + kInvalidArchive);
  EXPECT_TRUE(Entries(temp_).empty());
}

TEST_F(ReaderRunTest, ADamagedInstallerIsReportedTwiceAndRunsNothing) {
  std::string bytes = ReleaseShapedInstaller(kRecordingSetup);
  bytes[bytes.find("[Strings] ZH5.ini")] ^= 0x01;
  WriteInstaller(bytes);
  const test::ProgramResult result = Run();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.errors, kInvalidArchive + kInvalidArchive);
  EXPECT_FALSE(SetupRan());
  EXPECT_TRUE(Entries(temp_).empty());
}

TEST_F(ReaderRunTest, ARefusedFileNameEndsExtractionButTheSetupProgramStillRuns) {
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "", "not-reached.txt", "x");
  writer::AppendFileGroup(bytes, "", "../escaped.txt", "outside");
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
  writer::AppendValueGroup(bytes, "executable", "%installer%");
  writer::AppendTail(bytes);
  WriteInstaller(bytes);

  const test::ProgramResult result = Run();
  EXPECT_EQ(result.exit_code, 0);
  ASSERT_TRUE(SetupRan());
  const std::string cwd = Recorded("cwd");
  EXPECT_EQ(result.errors, "Failed to extract file!: File: " + temp_.string() + "/SF" +
                               cwd.substr(cwd.rfind("/SF") + 3, cwd.size() - cwd.rfind("/SF") - 4) +
                               "/../escaped.txt\nError: Invalid argument\n");
  EXPECT_EQ(RecordedFiles(), std::set<std::string>{"Setup.exe"});
  EXPECT_FALSE(fs::exists(temp_ / "escaped.txt"));
  EXPECT_TRUE(Entries(temp_).empty());
}

TEST_F(ReaderRunTest, AFileThatCannotBeWrittenWholeIsNotLeftHalfWritten) {
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "", "big.bin", std::string(256 * 1024, 'b'));
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
  writer::AppendValueGroup(bytes, "executable", "%installer%");
  writer::AppendTail(bytes);
  WriteInstaller(bytes);

  test::LaunchOptions options = Options();
  options.file_size_limit = 64 * 1024;
  const test::ProgramResult result = Run(options);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(std::regex_match(
      result.errors,
      std::regex("Failed to extract file!: File: .*/SF[0-9]+/big.bin\nError: File too large\n")))
      << result.errors;
  ASSERT_TRUE(SetupRan());
  EXPECT_EQ(RecordedFiles(), std::set<std::string>{"Setup.exe"});
  EXPECT_TRUE(Entries(temp_).empty());
}

TEST_F(ReaderRunTest, ASetupProgramThatCannotBeStartedIsReported) {
  const std::string& kSpawnFailed = test::kSpawnFailedReport;
  {
    std::string bytes = Stub();
    writer::AppendValueGroup(bytes, "executable", "NotPacked.exe");
    writer::AppendTail(bytes);
    WriteInstaller(bytes);
    const test::ProgramResult result = Run();
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.errors, kSpawnFailed);
  }
  {
    // Without an executable value the work directory itself is started.
    std::string bytes = Stub();
    writer::AppendFileGroup(bytes, "", "data.txt", "d");
    writer::AppendTail(bytes);
    WriteInstaller(bytes);
    const test::ProgramResult result = Run();
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.errors, kSpawnFailed);
  }
  EXPECT_TRUE(Entries(temp_).empty());
}

TEST_F(ReaderRunTest, AWaitThatFailsIsReportedAfterTheProgramEnded) {
  // With SIGCHLD ignored the system reaps the program itself, so the wait
  // cannot collect it.
  WriteInstaller(SetupOnlyInstaller("", "#!/bin/sh\nsleep 0.3\n: > \"$SETUP_RECORD/ended\"\n"));
  test::LaunchOptions options = Options();
  options.ignore_child_signals = true;
  const test::ProgramResult result = Run(options);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.errors, "WaitForSingleObject failed: Unable to wait for process\n");
  EXPECT_TRUE(fs::exists(record_ / "ended")) << "the reader still waited for the program";
  EXPECT_TRUE(Entries(temp_).empty());
}

TEST_F(ReaderRunTest, ASecondReaderIsRefusedWhileTheFirstWaitsForItsSetupProgram) {
  WriteInstaller(SetupOnlyInstaller("first"));
  const auto first = StartReaderThatWaits();
  const std::vector<fs::path> work_directories = Entries(temp_);
  ASSERT_EQ(work_directories.size(), 1u);

  const test::ProgramResult second = Run();
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_EQ(second.errors, kAlreadyRunning);
  EXPECT_EQ(Entries(temp_), work_directories) << "the refused reader creates nothing";

  test::WriteFile(release_, "");
  const test::ProgramResult first_result = first->Wait();
  EXPECT_EQ(first_result.exit_code, 0);
  EXPECT_EQ(first_result.errors, "");
  EXPECT_TRUE(Entries(temp_).empty());
}

TEST_F(ReaderRunTest, AKilledReaderDoesNotBlockTheNextOne) {
  WriteInstaller(SetupOnlyInstaller("first"));
  const auto first = StartReaderThatWaits();
  ASSERT_EQ(kill(first->pid(), SIGKILL), 0);
  // Its end (and so its lock's release) is awaited without collecting it: on
  // a busy machine the next reader could otherwise start before it is gone.
  siginfo_t ended{};
  waitid(P_PID, static_cast<id_t>(first->pid()), &ended, WEXITED | WNOWAIT);

  // Its setup program still runs, and does not hold the lock.
  const fs::path second_record = scratch_.path() / "record2";
  fs::create_directory(second_record);
  test::LaunchOptions options = Options();
  options.set_environment["SETUP_RECORD"] = second_record.string();
  const test::ProgramResult second = Run(options);
  EXPECT_EQ(second.exit_code, 0);
  EXPECT_EQ(second.errors, "");
  EXPECT_EQ(test::ReadFile(second_record / "arg0"), "first");

  test::WriteFile(release_, "");
  EXPECT_EQ(first->Wait().signal, SIGKILL);
}

// The progress line on a terminal: shown when the extraction still runs a
// second after it began, cleared before the setup program starts; never for
// a quick run, never when standard error is no terminal. A slow run is a real
// one held still (SIGSTOP, as a slow disk would hold it) for 1.5 s as soon as
// its first file appears, with a 64 MiB file still to come.
TEST_F(ReaderRunTest, ShowsTheProgressLineOnATerminalForASlowExtractionOnly) {
  struct Case {
    const char* name;
    bool slow;
    bool terminal;
    bool shows_line;
  };
  const Case cases[] = {{"slow, on a terminal", true, true, true},
                        {"quick, on a terminal", false, true, false},
                        {"slow, no terminal", true, false, false}};
  const std::string setup = "#!/bin/sh\necho setup ran >&2\n";
  for (const Case& c : cases) {
    std::string stub = Stub();
    if (c.slow) writer::AppendFileGroup(stub, "", "payload.bin", std::string(64 << 20, 'p'));
    WriteInstaller(test::SetupOnlyInstaller(std::move(stub), setup, ""));
    test::LaunchOptions options = Options();
    options.errors_on_terminal = c.terminal;
    test::RunningProgram reader(installer_.string(), options);
    if (c.slow) {
      bool held = false;
      for (int i = 0; i < 20000 && !held; ++i) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(temp_, error)) {
          if (!fs::exists(entry.path() / "Setup.exe", error)) continue;
          kill(reader.pid(), SIGSTOP);
          std::this_thread::sleep_for(std::chrono::milliseconds(1500));
          kill(reader.pid(), SIGCONT);
          held = true;
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      EXPECT_TRUE(held) << c.name;
    }
    const test::ProgramResult result = reader.Wait();

    EXPECT_EQ(result.exit_code, 0) << c.name;
    if (c.shows_line) {
      EXPECT_TRUE(std::regex_match(
          result.errors,
          std::regex("(\rPreparing the installation +[0-9]+% \\[#* *\\])+\r +\rsetup ran\n")))
          << c.name << ": " << testing::PrintToString(result.errors);
    } else {
      EXPECT_EQ(result.errors, "setup ran\n") << c.name;
    }
    EXPECT_TRUE(Entries(temp_).empty()) << c.name;
  }
}

TEST_F(ReaderRunTest, AnUnusableTemporaryDirectoryRefusesTheRun) {
  WriteInstaller(SetupOnlyInstaller(""));
  test::WriteFile(scratch_.path() / "a-file", "");
  test::LaunchOptions options = Options();
  options.set_environment["TMPDIR"] = (scratch_.path() / "a-file" / "tmp").string();
  const test::ProgramResult result = Run(options);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.errors, kCannotEnter);
  EXPECT_FALSE(SetupRan());
}

TEST_F(ReaderRunTest, APlantedWorkDirectoryIsNeverUsed) {
  WriteInstaller(SetupOnlyInstaller(""));
  const fs::path victim = scratch_.path() / "victim";
  fs::create_directory(victim);
  test::WriteFile(victim / "precious", "keep");

  // Plant the names of the next half minute, one kind at a time.
  const auto plant = [&](const std::function<void(const fs::path&)>& make) {
    for (const auto& entry : Entries(temp_)) fs::remove_all(entry);
    for (const fs::path& directory : test::ComingWorkDirectories(temp_)) make(directory);
  };
  std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> kinds = {
      {"symbolic link", [&](const fs::path& p) { fs::create_directory_symlink(victim, p); }},
      {"group-writable", [&](const fs::path& p) {
         fs::create_directory(p);
         fs::permissions(p, fs::perms(0770));
       }}};
  if (geteuid() == 0) {
    kinds.push_back({"owned by another user", [&](const fs::path& p) {
                       fs::create_directory(p);
                       ASSERT_EQ(chown(p.c_str(), kNobody, kNobody), 0);
                     }});
  }
  for (const auto& [kind, make] : kinds) {
    plant(make);
    const test::ProgramResult result = Run();
    EXPECT_EQ(result.exit_code, 1) << kind;
    EXPECT_EQ(result.errors, kCannotEnter) << kind;
    EXPECT_FALSE(SetupRan()) << kind;
  }
  EXPECT_EQ(Entries(victim).size(), 1u);
  EXPECT_EQ(test::ReadFile(victim / "precious"), "keep");
}

// A work directory of this user made beforehand, as a killed run leaves it
// or someone prepares it for the next run, is used only once it is empty.
TEST_F(ReaderRunTest, AWorkDirectoryMadeBeforehandIsEmptiedBeforeAnythingIsExtracted) {
  WriteInstaller(SetupOnlyInstaller(""));
  const fs::path victim = scratch_.path() / "victim";
  fs::create_directory(victim);
  test::WriteFile(victim / "precious", "keep");
  for (const fs::path& planted : test::ComingWorkDirectories(temp_)) {
    fs::create_directory(planted);
    fs::permissions(planted, fs::perms(0700));
    test::WriteFile(planted / "version.dll", "planted");
    fs::create_directory(planted / ".planted");
    test::WriteFile(planted / ".planted" / "inside", "planted");
    fs::create_directory_symlink(victim, planted / "victim-link");
  }

  const test::ProgramResult result = Run();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.errors, "");
  ASSERT_TRUE(SetupRan());
  EXPECT_EQ(RecordedFiles(), std::set<std::string>{"Setup.exe"}) << "nothing planted beside it";
  const std::string cwd = Recorded("cwd");
  EXPECT_FALSE(fs::exists(fs::symlink_status(cwd.substr(0, cwd.size() - 1))));
  EXPECT_EQ(test::EntryNames(victim), std::set<std::string>{"precious"});
  EXPECT_EQ(test::ReadFile(victim / "precious"), "keep");
}

TEST_F(ReaderRunTest, AWorkDirectoryThatCannotBeEmptiedRefusesTheRun) {
  std::vector<std::unique_ptr<test::UndeletableFile>> planted;
  for (const fs::path& directory : test::ComingWorkDirectories(temp_)) {
    fs::create_directories(directory / "locked");
    fs::permissions(directory, fs::perms(0700));
    planted.push_back(std::make_unique<test::UndeletableFile>(directory / "locked" / "planted"));
    if (!planted.back()->held()) GTEST_SKIP() << planted.back()->reason();
  }
  for (const bool exit_codes : {false, true}) {
    WriteInstaller(test::SetupOnlyInstaller(Stub(), kRecordingSetup, "", exit_codes));
    const test::ProgramResult result = Run();
    EXPECT_EQ(result.exit_code, exit_codes ? 71 : 1);
    EXPECT_EQ(result.errors, kCannotEnter);
    EXPECT_FALSE(SetupRan());
  }
}

TEST_F(ReaderRunTest, ATooLongTemporaryPathFallsBackToTmp) {
  WriteInstaller(SetupOnlyInstaller(""));
  test::LaunchOptions options = Options();
  options.set_environment["TMPDIR"] = "/" + std::string(300, 'x');
  const test::ProgramResult result = Run(options);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.errors, "GetTempPath failed: Unable to get Temporary Directory\n");
  const std::string cwd = Recorded("cwd");
  EXPECT_TRUE(std::regex_match(cwd, std::regex("/tmp/SF[0-9]+\n"))) << cwd;
  EXPECT_FALSE(fs::exists(cwd.substr(0, cwd.size() - 1)));
}

TEST_F(ReaderRunTest, AProgramFileThatCannotBeReadIsReported) {
  WriteInstaller(SetupOnlyInstaller(""));
  fs::permissions(installer_, fs::perms(0711));  // may be run, not read
  test::LaunchOptions options = Options();
  if (geteuid() == 0) {
    // Root reads anything: run as nobody, who needs a way in and a TMPDIR.
    for (fs::path p = scratch_.path(); p != p.root_path(); p = p.parent_path()) {
      struct stat status;
      if (stat(p.c_str(), &status) != 0 || (status.st_mode & S_IXOTH) == 0) {
        if (p != scratch_.path()) GTEST_SKIP() << p << " cannot be entered by other users";
      }
    }
    fs::permissions(scratch_.path(), fs::perms(0755));
    ASSERT_EQ(chown(temp_.c_str(), kNobody, kNobody), 0);
    options.user = kNobody;
    options.set_environment["ASAN_OPTIONS"] = "detect_leaks=0";
  }
  const test::ProgramResult result = Run(options);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.errors, "Failed to open archive!: File: " + fs::canonical(installer_).string() +
                               "\nError: Permission denied\n" + kInvalidArchive);
  EXPECT_TRUE(Entries(temp_).empty());
}

TEST_F(ReaderRunTest, ASetupProgramEndedByASignalStillEndsTheRunCleanly) {
  WriteInstaller(SetupOnlyInstaller("", "#!/bin/sh\nkill -KILL $$\n"));
  const test::ProgramResult result = Run();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.errors, "");
  EXPECT_TRUE(Entries(temp_).empty());
}

TEST_F(ReaderRunTest, ValuesThatMultiplyEachOtherEndInAFailedStartWithinLittleMemory) {
  // Each value holds its successor twice: expanding v0 would need 2^20 times
  // v20, 64 GiB.
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
  test::AppendLaunch(bytes, "%v0%");
  for (int i = 0; i < 20; ++i) {
    const std::string next = "%v" + std::to_string(i + 1) + "%";
    writer::AppendValueGroup(bytes, "v" + std::to_string(i), next + next);
  }
  writer::AppendValueGroup(bytes, "v20", std::string(64 * 1024, 'x'));
  writer::AppendTail(bytes);
  WriteInstaller(bytes);

  test::LaunchOptions options = Options();
  // The sanitizers reserve more address space than that.
  if (!READER_SANITIZED) options.address_space_limit = 64 * 1024 * 1024;
  const test::ProgramResult result = Run(options);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.errors, test::kSpawnFailedReport);
  EXPECT_FALSE(SetupRan());
  EXPECT_TRUE(Entries(temp_).empty());
}

// Exits with $SETUP_EXIT_CODE, or ends itself with the signal $SETUP_SIGNAL.
constexpr char kExitingSetup[] = R"(#!/bin/sh
[ -n "$SETUP_SIGNAL" ] && kill -"$SETUP_SIGNAL" $$
exit "$SETUP_EXIT_CODE"
)";

TEST_F(ReaderRunTest, TheSetupProgramsExitCodeIsReturnedOnlyWhenTheEnvelopeAsksForIt) {
  struct Case {
    bool exit_codes;
    const char* exit_code;
    const char* signal;
    int expected;
  };
  const Case cases[] = {{false, "194", "", 0},  // 3010 as POSIX keeps it: its low 8 bits
                        {false, "67", "", 0},
                        {false, "", "KILL", 0},
                        {true, "194", "", 194},
                        {true, "67", "", 67},
                        {true, "0", "", 0},
                        {true, "", "KILL", 128 + SIGKILL},
                        {true, "", "TERM", 128 + SIGTERM}};
  for (const Case& c : cases) {
    const std::string what =
        std::string(c.exit_codes ? "exit codes, " : "default, ") + c.exit_code + c.signal;
    WriteInstaller(test::SetupOnlyInstaller(Stub(), kExitingSetup, "", c.exit_codes));
    test::LaunchOptions options = Options();
    options.set_environment["SETUP_EXIT_CODE"] = c.exit_code;
    options.set_environment["SETUP_SIGNAL"] = c.signal;
    const test::ProgramResult result = Run(options);
    EXPECT_EQ(result.exit_code, c.expected) << what;
    EXPECT_EQ(result.errors, "") << what;
    EXPECT_TRUE(Entries(temp_).empty()) << what;
  }
}

TEST_F(ReaderRunTest, WithExitCodesEachOwnFailureHasItsCode) {
  const std::string installer = test::SetupOnlyInstaller(Stub(), kRecordingSetup, "", true);
  {
    std::string damaged = installer;
    damaged[damaged.find("pwd -P")] ^= 0x01;
    WriteInstaller(damaged);
    const test::ProgramResult result = Run();
    EXPECT_EQ(result.exit_code, 65);
    EXPECT_EQ(result.errors, kInvalidArchive + kInvalidArchive);
  }
  {
    std::string bytes = Stub();
    writer::AppendFileGroup(bytes, "", "../escaped.txt", "outside");
    writer::AppendFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
    writer::AppendValueGroup(bytes, "executable", "%installer%");
    writer::AppendOptionGroup(bytes, kExitCodesOption);
    writer::AppendTail(bytes);
    WriteInstaller(bytes);
    const test::ProgramResult result = Run();
    EXPECT_EQ(result.exit_code, 71) << "a file not extracted, though the setup program ran";
    EXPECT_TRUE(SetupRan());
  }
  {
    std::string bytes = Stub();
    writer::AppendValueGroup(bytes, "executable", "NotPacked.exe");
    writer::AppendOptionGroup(bytes, kExitCodesOption);
    writer::AppendTail(bytes);
    WriteInstaller(bytes);
    const test::ProgramResult result = Run();
    EXPECT_EQ(result.exit_code, 71);
    EXPECT_EQ(result.errors, test::kSpawnFailedReport);
  }
  EXPECT_TRUE(Entries(temp_).empty());
  {
    WriteInstaller(installer);
    test::WriteFile(scratch_.path() / "a-file", "");
    test::LaunchOptions options = Options();
    options.set_environment["TMPDIR"] = (scratch_.path() / "a-file" / "tmp").string();
    const test::ProgramResult result = Run(options);
    EXPECT_EQ(result.exit_code, 71);
    EXPECT_EQ(result.errors, kCannotEnter);
  }
  {
    const auto first = StartReaderThatWaits();
    const test::ProgramResult second = Run();
    EXPECT_EQ(second.exit_code, 75);
    EXPECT_EQ(second.errors, kAlreadyRunning);
    test::WriteFile(release_, "");
    EXPECT_EQ(first->Wait().exit_code, 0);
  }
  EXPECT_TRUE(Entries(temp_).empty());
}

// Notes the signal it was sent, then exits with 5.
constexpr char kInterruptibleSetup[] = R"(#!/bin/sh
r="$SETUP_RECORD"
for s in INT TERM HUP; do trap "echo $s > '$r/signal'; exit 5" $s; done
: > "$r/started"
while [ ! -e "$SETUP_RELEASE" ]; do sleep 0.05; done
)";

TEST_F(ReaderRunTest, ASignalDuringTheWaitIsPassedOnAndTheRunEndsWithItsCode) {
  WriteInstaller(SetupOnlyInstaller("", kInterruptibleSetup));
  for (const auto& [signal, name] : std::vector<std::pair<int, std::string>>{
           {SIGINT, "INT"}, {SIGTERM, "TERM"}, {SIGHUP, "HUP"}}) {
    fs::remove_all(record_);
    fs::create_directory(record_);
    const auto reader = StartReaderThatWaits();
    ASSERT_EQ(kill(reader->pid(), signal), 0);
    const test::ProgramResult result = reader->Wait();
    EXPECT_EQ(result.exit_code, 128 + signal) << name;
    EXPECT_EQ(result.errors, "") << name;
    EXPECT_EQ(Recorded("signal"), name + "\n");
    EXPECT_TRUE(Entries(temp_).empty()) << name;
  }
}

// Writes an installer whose first file is `size` bytes, streamed to disk.
void WriteLargeInstaller(const fs::path& path, const std::string& stub, uint64_t size,
                         const std::string& setup) {
  class FileOutput : public writer::Output {
   public:
    explicit FileOutput(const fs::path& target) : out_(target, std::ios::binary) {}
    void Write(std::string_view bytes) override {
      out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

   private:
    std::ofstream out_;
  };
  {
    FileOutput output(path);
    output.Write(stub);
    writer::EnvelopeWriter envelope(output);
    envelope.AddFileGroup("", "large.bin", writer::Payload(size, [](char* buffer, size_t piece) {
                            std::memset(buffer, 'x', piece);
                          }));
    envelope.AddFileGroup("installer", "Setup.exe", setup);
    envelope.AddValueGroup("executable", "%installer%");
    envelope.AddTail();
  }
  fs::permissions(path, fs::perms(0755));
}

TEST_F(ReaderRunTest, ASignalDuringExtractionStopsItAndLeavesNothingBehind) {
  WriteLargeInstaller(installer_, Stub(), 256ull << 20, kRecordingSetup);
  test::RunningProgram reader(installer_.string(), Options());
  for (int i = 0; i < 10000 && Entries(temp_).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_FALSE(Entries(temp_).empty()) << "the work directory never appeared";
  ASSERT_EQ(kill(reader.pid(), SIGINT), 0);
  const test::ProgramResult result = reader.Wait();
  EXPECT_EQ(result.exit_code, 128 + SIGINT);
  EXPECT_EQ(result.errors, "");
  EXPECT_FALSE(SetupRan()) << "the walk went on to the end";
  EXPECT_TRUE(Entries(temp_).empty());
}

// A file system mounted over `target` for the life of the object.
class Mount {
 public:
  Mount(const fs::path& target, unsigned long flags) : target_(target) {
    mounted_ = mount("none", target.c_str(), "tmpfs", flags, "mode=0700") == 0;
  }
  ~Mount() {
    if (mounted_) umount(target_.c_str());
  }
  bool mounted() const { return mounted_; }

 private:
  fs::path target_;
  bool mounted_ = false;
};

TEST_F(ReaderRunTest, ANoexecTemporaryDirectoryGivesWayToOneWhereProgramsRun) {
  // A mount namespace of this test's own, where /tmp of the others stays.
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr)) {
    GTEST_SKIP() << "no mount namespace of its own here";
  }
  struct statvfs scratch_status;
  ASSERT_EQ(statvfs(scratch_.path().c_str(), &scratch_status), 0);
  if ((scratch_status.f_flag & ST_NOEXEC) != 0) GTEST_SKIP() << "the build tree is noexec";
  const Mount noexec(temp_, MS_NOEXEC | MS_NOSUID | MS_NODEV);
  if (!noexec.mounted()) GTEST_SKIP() << "tmpfs cannot be mounted here";
  WriteInstaller(SetupOnlyInstaller(""));

  const fs::path runtime = scratch_.path() / "runtime";
  const fs::path home = scratch_.path() / "home";
  const fs::path cache_home = scratch_.path() / "cache-home";
  fs::create_directories(home / ".cache");
  fs::create_directory(runtime);
  fs::permissions(runtime, fs::perms(0700));
  fs::permissions(home / ".cache", fs::perms(0700));
  struct Case {
    const char* what;
    std::string runtime;     // $XDG_RUNTIME_DIR, unset when empty
    std::string cache_home;  // $XDG_CACHE_HOME, unset when empty
    bool without_cache;      // ~/.cache removed first
    fs::path expected;       // where the work directory goes; empty: not started
    bool created;            // `expected` made by the reader, private
  };
  const Case cases[] = {{"XDG_RUNTIME_DIR first", runtime.string(), "", false, runtime, false},
                        {"else $HOME/.cache", "", "", false, home / ".cache", false},
                        {"only private directories", (scratch_.path() / "shared").string(), "",
                         false, home / ".cache", false},
                        {"no ~/.cache yet: made", "", "", true, home / ".cache", true},
                        {"$XDG_CACHE_HOME, made", "", cache_home.string(), false, cache_home, true},
                        {"a relative $XDG_CACHE_HOME is ignored", "", "relative-cache", false,
                         home / ".cache", false}};
  fs::create_directory(scratch_.path() / "shared");
  fs::permissions(scratch_.path() / "shared", fs::perms(0777));
  for (const Case& c : cases) {
    fs::remove_all(record_);
    fs::create_directory(record_);
    if (c.without_cache) fs::remove(home / ".cache");
    test::LaunchOptions options = Options();
    options.set_environment["HOME"] = home.string();
    if (c.runtime.empty()) {
      options.unset_environment.push_back("XDG_RUNTIME_DIR");
    } else {
      options.set_environment["XDG_RUNTIME_DIR"] = c.runtime;
    }
    if (c.cache_home.empty()) {
      options.unset_environment.push_back("XDG_CACHE_HOME");
    } else {
      options.set_environment["XDG_CACHE_HOME"] = c.cache_home;
    }
    const test::ProgramResult result = Run(options);
    EXPECT_EQ(result.exit_code, 0) << c.what;
    EXPECT_EQ(result.errors, "") << c.what;
    ASSERT_TRUE(SetupRan()) << c.what;
    const std::string cwd = Recorded("cwd");
    EXPECT_EQ(fs::path(cwd.substr(0, cwd.size() - 1)).parent_path(), fs::canonical(c.expected))
        << c.what;
    EXPECT_TRUE(Entries(c.expected).empty()) << c.what;
    if (c.created) {
      EXPECT_EQ(fs::status(c.expected).permissions(), fs::perms(0700)) << c.what;
    }
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status("relative-cache")));

  // With nowhere better, the run goes on as before: the program cannot start.
  fs::permissions(home / ".cache", fs::perms(0770));
  fs::remove_all(record_);
  fs::create_directory(record_);
  test::LaunchOptions options = Options();
  options.set_environment["HOME"] = home.string();
  options.unset_environment.push_back("XDG_RUNTIME_DIR");
  options.unset_environment.push_back("XDG_CACHE_HOME");
  const test::ProgramResult result = Run(options);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.errors, test::kSpawnFailedReport);
  EXPECT_FALSE(SetupRan());
  EXPECT_TRUE(Entries(temp_).empty());
}

}  // namespace
