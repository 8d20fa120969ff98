// Hostile installers and faults around them, run whole against the built
// reader under a private TMPDIR. Every run must end with the documented
// messages and exit code, in bounded time and memory, leave no work directory
// and write nothing outside it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "archive_writer.h"
#include "envelope_writer.h"
#include "expected_messages.h"
#include "installers.h"
#include "little_endian.h"
#include "process_runner.h"
#include "reader_run_fixture.h"
#include "record.h"
#include "recording_setup.h"
#include "tail.h"
#include "test_support.h"

using namespace format;

namespace {

namespace fs = std::filesystem;

using test::AppendLaunch;
using test::Entries;
using test::kNobody;
using test::kRecordingSetup;  // its arguments, one a line, are in $SETUP_RECORD/args

const std::string& kInvalidArchive = test::kInvalidArchiveReport;
const std::string& kSpawnFailed = test::kSpawnFailedReport;
const std::string& kCannotEnter = test::kCannotEnterReport;

// Enough for the reader and the largest payload here; far below what an
// unbounded allocation or expansion would take. The sanitizers reserve more
// address space than any such limit, so they run without one.
constexpr rlim_t kMemoryLimit = READER_SANITIZED ? RLIM_INFINITY : 256 * 1024 * 1024;

// The longest a run here may take: far beyond what any takes, a guard
// against a hang.
constexpr int kRunTimeLimitSeconds = 90;

const std::string& ReaderBytes() { return test::ProgramBytes(READER_PATH); }

std::string Stub() { return test::Stub(READER_PATH); }

class HostileRunTest : public test::ReaderRunFixture {
 protected:
  HostileRunTest() : ReaderRunFixture(kRunTimeLimitSeconds) {}

  void SetUp() override {
    ReaderRunFixture::SetUp();
    fs::create_directory(outside_);
  }

  void TearDown() override {
    // Nothing outside the work directory was written: the scratch directory
    // holds only what the test made, and the bait directory stays empty.
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(scratch_.path())) {
      names.insert(entry.path().filename());
    }
    names.erase("record");
    names.erase("installer");  // absent when a test is skipped
    EXPECT_EQ(names, (std::set<std::string>{"tmp", "outside"}));
    EXPECT_TRUE(Entries(outside_).empty());
  }

  // Every run within kMemoryLimit.
  test::LaunchOptions Options() const override {
    test::LaunchOptions options = ReaderRunFixture::Options();
    options.address_space_limit = kMemoryLimit;
    return options;
  }

  // Runs `bytes` and checks the common end: exit code 0, these messages
  // (work directory names written as SF#), no work directory left. Returns
  // the setup program's arguments, one a line, or "-" when it did not run.
  std::string RunExpecting(const std::string& bytes, const std::string& messages,
                           const std::string& context = "") {
    WriteInstaller(bytes);
    return RunWrittenExpecting(messages, context);
  }

  // The same for the installer as it was written.
  std::string RunWrittenExpecting(const std::string& messages, const std::string& context = "") {
    fs::remove(record_ / "args");
    const test::ProgramResult result = Run();
    EXPECT_EQ(result.exit_code, 0) << context;
    EXPECT_EQ(std::regex_replace(result.errors, std::regex("/SF-?[0-9]+/"), "/SF#/"), messages)
        << context;
    EXPECT_TRUE(Entries(temp_).empty()) << context;
    return fs::exists(record_ / "args") ? test::ReadFile(record_ / "args") : "-";
  }

  // Mounts a 256 KiB tmpfs on the temporary directory, for a disk that fills
  // up; the test unmounts it. Why it could not, or empty.
  std::string MountSmallTemporaryDirectory() {
    if (geteuid() != 0) return "mounting a small file system needs root";
    if (mount("quillmarrow-test", temp_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
              "size=256k,mode=0700") != 0) {
      return std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
    }
    return "";
  }

  std::string InstallerPath() { return (fs::canonical(scratch_.path()) / "installer").string(); }
  std::string WorkPath() { return temp_.string() + "/SF#/"; }

  fs::path outside_ = scratch_.path() / "outside";
};

TEST_F(HostileRunTest, TruncatedDownloadsEndAsDocumented) {
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
  const size_t middle_of_setup = bytes.size() - 40;
  AppendLaunch(bytes, "ran");
  const size_t tail_start = bytes.size();
  writer::AppendTail(bytes);
  const size_t tail_end = bytes.size();
  bytes += std::string(300, '\x5c');  // a signature

  const std::string not_found = "Failed to initialize archive!: File: " + InstallerPath() +
                                "\nError: " + std::strerror(0) + "\n" + kInvalidArchive;
  const struct {
    size_t size;
    std::string messages;
    std::string arguments;
  } cases[] = {
      {ReaderBytes().size(), not_found, "-"},  // the bare reader
      {middle_of_setup, not_found, "-"},
      {tail_start + 22, not_found, "-"},        // the marker, with no byte after it
      {tail_start + 23, kInvalidArchive, "-"},  // found, but its record is cut
      {tail_end - 1, kInvalidArchive, "-"},
      {tail_end, "", "ran\n"},  // the signature cut off
      {tail_end + 150, "", "ran\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunExpecting(bytes.substr(0, c.size), c.messages, std::to_string(c.size)),
              c.arguments)
        << c.size;
  }
}

TEST_F(HostileRunTest, LengthsAtTheLimitsAndABorrowedDigest) {
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
  const size_t setup_name_end = bytes.size() - (4 + 20) - (9 + 20);  // below "file" and "installer"
  const size_t setup_contents_end = setup_name_end - 20 - 9;
  AppendLaunch(bytes, "ran");
  writer::AppendTail(bytes);
  const size_t tail_end = bytes.size();
  ASSERT_EQ(bytes.substr(setup_name_end - 29, 9), "Setup.exe");
  ASSERT_EQ(bytes.substr(setup_contents_end - 20 - sizeof kRecordingSetup + 1, 9), "#!/bin/sh");

  const uint32_t size = static_cast<uint32_t>(bytes.size());
  for (const uint32_t length : {0u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, size - 1, size + 1}) {
    const std::string context = "length " + std::to_string(length);
    // On the tail record: the envelope is not valid. Length 0 reads an empty
    // payload whose digest is wrong; every other one reaches past the start
    // of the file and fails silently.
    std::string damaged = bytes;
    test::SetRecordLength(damaged, tail_end, length);
    EXPECT_EQ(
        RunExpecting(damaged, length == 0 ? kInvalidArchive + kInvalidArchive : kInvalidArchive,
                     "tail, " + context),
        "-");
    // On the setup program: the walk ends before it is extracted. The
    // envelope stays valid unless a digest was checked, so the launch is tried
    // with the unexpanded %installer%.
    damaged = bytes;
    test::SetRecordLength(damaged, setup_contents_end, length);
    EXPECT_EQ(RunExpecting(damaged, length == 0 ? kInvalidArchive + kInvalidArchive : kSpawnFailed,
                           "setup, " + context),
              "-");
  }
  // The setup program's digest taken from its name record.
  std::string borrowed = bytes;
  borrowed.replace(setup_contents_end - 16, 16, bytes.substr(setup_name_end - 16, 16));
  EXPECT_EQ(RunExpecting(borrowed, kInvalidArchive + kInvalidArchive), "-");
}

TEST_F(HostileRunTest, AHundredThousandGroupsWithALongChainAndCycles) {
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
  for (int i = 0; i < 1000; ++i) {
    writer::AppendFileGroup(bytes, "", "f" + std::to_string(i), "data");
  }
  for (int i = 0; i < 88990; ++i) {
    writer::AppendValueGroup(bytes, "filler" + std::to_string(i), "x");
  }
  // v0 -> v1 -> ... -> v9999 = "end".
  for (int i = 0; i < 9999; ++i) {
    writer::AppendValueGroup(bytes, "v" + std::to_string(i), "%v" + std::to_string(i + 1) + "%");
  }
  writer::AppendValueGroup(bytes, "v9999", "end");
  // c0 -> c1 -> c2 -> c0, and a name that refers to itself.
  writer::AppendValueGroup(bytes, "c0", "A%c1%");
  writer::AppendValueGroup(bytes, "c1", "B%c2%");
  writer::AppendValueGroup(bytes, "c2", "C%c0%");
  writer::AppendValueGroup(bytes, "self", "[%self%]");
  AppendLaunch(bytes, "%v0% %c0% %c2% %self%");
  writer::AppendTail(bytes);
  EXPECT_EQ(RunExpecting(bytes, ""), "end\nABC%c0%\nCAB%c2%\n[%self%]\n");
}

TEST_F(HostileRunTest, FileNamesThatCannotBeExtracted) {
  const std::string absolute = (outside_ / "absolute.txt").string();
  const struct {
    std::string name;
    int error;
  } cases[] = {
      {"", EISDIR},
      {".", EISDIR},  // a directory's name
      {absolute, EINVAL},
      {"../outside/escaped.txt", EINVAL},
      {"missing/x.txt", ENOENT},
      {std::string(300, 'n'), ENAMETOOLONG},   // longer than 260 and than a name may be
      {std::string(5000, 'p'), ENAMETOOLONG},  // longer than PATH_MAX
  };
  for (const auto& c : cases) {
    std::string bytes = Stub();
    writer::AppendFileGroup(bytes, "", "not-reached.txt", "x");
    writer::AppendFileGroup(bytes, "bad", c.name, "contents");
    writer::AppendFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
    AppendLaunch(bytes, "%bad%|");
    writer::AppendTail(bytes);
    // The walk ends at the refused name; the envelope is valid, so the setup
    // program extracted before it runs.
    EXPECT_EQ(RunExpecting(bytes,
                           "Failed to extract file!: File: " + WorkPath() + c.name +
                               "\nError: " + std::strerror(c.error) + "\n",
                           c.name.substr(0, 40)),
              c.name + "|\n")
        << c.name.substr(0, 40);
  }
}

// A name no system could hold is refused from its length: the reader holds
// no more of it than it takes to tell (the run stays within the memory
// limit), and the message shows only its start.
TEST_F(HostileRunTest, ANameLongerThanAnyPathIsRefusedFromItsLength) {
  const std::string name(50 << 20, 'n');
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "", name, "contents");
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
  AppendLaunch(bytes, "ran");
  writer::AppendTail(bytes);
  EXPECT_EQ(
      RunExpecting(bytes, "Failed to extract file!: File: " + WorkPath() + std::string(256, 'n') +
                              "...\nError: " + std::strerror(ENAMETOOLONG) + "\n"),
      "ran\n");
}

// While a compressed file's chunks are decoded, the next files are read:
// none of them may lose its bytes to the name the compressed one then takes,
// whatever the names (a temporary file's name among them), and the setup
// program that runs is the one packed as such.
TEST_F(HostileRunTest, APendingFileTakesNoOtherFilesBytes) {
  const std::string text = test::RandomBytes(3 << 20, 7);
  const struct {
    std::vector<std::string> names;  // compressed files read before Setup.exe, in reading order
    bool compressed_setup;
  } cases[] = {
      {{"~extracting-1"}, true},
      {{"~extracting-1"}, false},
      {{"./~extracting-1"}, true},
      {{"~extracting-2", "b.txt"}, true},
      {{"a.txt", "~extracting-1", "b.txt"}, false},
  };
  for (const auto& c : cases) {
    std::string bytes = Stub();
    if (c.compressed_setup) {
      writer::AppendCompressedFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
    } else {
      writer::AppendFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
    }
    for (auto name = c.names.rbegin(); name != c.names.rend(); ++name) {
      writer::AppendCompressedFileGroup(bytes, "", *name, *name + text);
    }
    AppendLaunch(bytes, "ran");
    writer::AppendTail(bytes);
    const std::string context = c.names.front() + (c.compressed_setup ? " zfile" : " file");
    fs::remove_all(record_ / "files");
    EXPECT_EQ(RunExpecting(bytes, "", context), "ran\n") << context;
    EXPECT_EQ(test::ReadFile(record_ / "files" / "Setup.exe"), kRecordingSetup) << context;
    for (const std::string& name : c.names) {
      EXPECT_TRUE(test::ReadFile(record_ / "files" / name) == name + text) << context << name;
    }
  }
}

// Empty compressed files hand over no chunks; queued behind a large one they
// still hold no file open each: the reader keeps a few files open, whatever
// the envelope holds.
TEST_F(HostileRunTest, ManyEmptyCompressedFilesBehindALargeOneNeedFewOpenFiles) {
  std::string bytes = Stub();
  writer::AppendCompressedFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
  for (int i = 0; i < 300; ++i) {
    writer::AppendCompressedFileGroup(bytes, "", "e" + std::to_string(i), "");
  }
  writer::AppendCompressedFileGroup(bytes, "", "large.bin", test::RandomBytes(6 << 20, 9));
  AppendLaunch(bytes, "ran");
  writer::AppendTail(bytes);
  WriteInstaller(bytes);
  test::LaunchOptions options = Options();
  options.open_files_limit = 32;
  fs::remove(record_ / "args");
  const test::ProgramResult result = Run(options);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.errors, "");
  EXPECT_EQ(test::ReadFile(record_ / "args"), "ran\n");
  EXPECT_EQ(test::EntryNames(record_ / "files").size(), 302u);
}

TEST_F(HostileRunTest, ARepeatedNameHoldsTheGroupReadLast) {
  // Read from the end: the second Setup.exe is written first and then
  // overwritten by the first, while the key keeps the name read first.
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
  writer::AppendFileGroup(bytes, "installer", "Setup.exe",
                          "#!/bin/sh\necho never > \"$SETUP_RECORD/args\"\n");
  AppendLaunch(bytes, "the first one");
  writer::AppendTail(bytes);
  EXPECT_EQ(RunExpecting(bytes, ""), "the\nfirst\none\n");
}

TEST_F(HostileRunTest, TailMarkersInTheTrailingBytes) {
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
  AppendLaunch(bytes, "ran");
  writer::AppendTail(bytes);
  const std::string marker = TailMarker();
  std::string tail_record;
  writer::AppendTail(tail_record);

  const struct {
    std::string trailing;
    std::string messages;
    std::string arguments;
  } cases[] = {
      // The highest marker wins; here its length is 0 and its digest zeros.
      {"sig" + marker + std::string(20, '\0') + "nature", kInvalidArchive + kInvalidArchive, "-"},
      // Its record would reach past the end of the file.
      {"signature" + marker + "!", kInvalidArchive, "-"},
      // The last byte of the file is never part of a marker: not found.
      {"signature" + marker, "", "ran\n"},
      // A whole tail record right after the real one only repeats it.
      {tail_record, "", "ran\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunExpecting(bytes + c.trailing, c.messages, c.trailing), c.arguments) << c.trailing;
  }
}

TEST_F(HostileRunTest, AnExecutableOutsideTheWorkDirectoryIsNotMadeExecutable) {
  // The executable value leads out of the work directory to a file of the
  // user's that is not a program; the reader must leave it as it is.
  const fs::path victim = outside_ / "notes.txt";
  test::WriteFile(victim, "#!/bin/sh\n: > \"$SETUP_RECORD/args\"\n");
  fs::permissions(victim, fs::perms(0644));
  std::string bytes = Stub();
  writer::AppendValueGroup(bytes, "executable", "../../outside/notes.txt");
  writer::AppendTail(bytes);
  EXPECT_EQ(RunExpecting(bytes, kSpawnFailed), "-");
  EXPECT_EQ(fs::status(victim).permissions(), fs::perms(0644));
  fs::remove(victim);
}

// A value of 300 MiB (a hole in a sparse file) cannot be held within the
// memory limit. Failing to reserve it ends the walk like a failed read,
// instead of an exception that would skip the removal of the work directory.
TEST_F(HostileRunTest, ARecordTooLargeToHoldEndsTheWalkLikeAFailedRead) {
  if (READER_SANITIZED) GTEST_SKIP() << "the sanitizers run without a memory limit";
  constexpr uint32_t kHuge = 300u * 1024 * 1024;
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
  AppendLaunch(bytes, "ran");

  std::string after;
  AppendLittleEndian32(after, kHuge);
  after += std::string(16, '\0');  // never compared: the payload is never held
  writer::AppendRecord(after, "huge");
  writer::AppendRecord(after, "value");
  writer::AppendTail(after);
  ASSERT_TRUE(test::WriteFileWithHole(installer_, bytes, bytes.size() + kHuge, after));
  fs::permissions(installer_, fs::perms(0755));

  // The launch values lie below the huge one and are never read.
  EXPECT_EQ(RunWrittenExpecting(kSpawnFailed), "-");
}

// ---------------------------------------------------------------------------
// Faults

// A file that fills the disk up mid-write is removed; a compressed file,
// which declares its size, is refused before anything of it is written.
// Either way the message is the same and the run goes on to the setup program.
TEST_F(HostileRunTest, ADiskThatFillsUpMidFile) {
  if (const std::string why = MountSmallTemporaryDirectory(); !why.empty()) GTEST_SKIP() << why;
  using AppendFile = void (*)(std::string&, std::string_view, std::string_view, std::string_view);
  const AppendFile plain = writer::AppendFileGroup;
  const AppendFile compressed = [](std::string& out, std::string_view key, std::string_view name,
                                   std::string_view contents) {
    writer::AppendCompressedFileGroup(out, key, name, contents);
  };
  for (const AppendFile append : {plain, compressed}) {
    std::string bytes = Stub();
    append(bytes, "", "after.txt", "not reached");
    append(bytes, "", "big.bin", std::string(1024 * 1024, 'b'));
    append(bytes, "installer", "Setup.exe", kRecordingSetup);
    AppendLaunch(bytes, "ran");
    writer::AppendTail(bytes);
    const std::string arguments =
        RunExpecting(bytes, "Failed to extract file!: File: " + WorkPath() +
                                "big.bin\nError: " + std::strerror(ENOSPC) + "\n");
    EXPECT_EQ(arguments, "ran\n");
  }
  EXPECT_EQ(umount(temp_.c_str()), 0);
}

// Compressed files that fit one at a time but not all together: the room
// the disk had is counted down as files are declared (the system is asked
// again only when that count runs short), so the two that fit are written
// whole and the one that no longer fits is refused with the disk-full text.
TEST_F(HostileRunTest, ACompressedFileThatNoLongerFitsIsRefused) {
  if (const std::string why = MountSmallTemporaryDirectory(); !why.empty()) GTEST_SKIP() << why;
  std::string bytes = Stub();
  for (const char* name : {"c.bin", "b.bin", "a.bin"}) {
    writer::AppendCompressedFileGroup(bytes, "", name, test::RandomBytes(100 * 1024, name[0]));
  }
  writer::AppendCompressedFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
  AppendLaunch(bytes, "ran");
  writer::AppendTail(bytes);
  EXPECT_EQ(RunExpecting(bytes, "Failed to extract file!: File: " + WorkPath() +
                                    "c.bin\nError: " + std::strerror(ENOSPC) + "\n"),
            "ran\n");
  EXPECT_EQ(test::EntryNames(record_ / "files"),
            (std::set<std::string>{"Setup.exe", "a.bin", "b.bin"}));
  EXPECT_EQ(umount(temp_.c_str()), 0);
}

// A tree whose declared sizes do not fit is refused before any of it is
// written, and the walk ends there: the setup program, read after it, is
// never extracted.
TEST_F(HostileRunTest, ATreeThatDoesNotFitIsRefusedBeforeAnythingIsWritten) {
  if (const std::string why = MountSmallTemporaryDirectory(); !why.empty()) GTEST_SKIP() << why;
  const std::string random = test::RandomBytes(200 * 1024, 3);
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
  writer::AppendArchiveGroup(bytes, "",
                             {{format::EntryKind::kDirectory, 0755, "dir", 0, {}},
                              {format::EntryKind::kFile, 0644, "dir/a.bin", random.size(), {}},
                              {format::EntryKind::kFile, 0644, "dir/b.bin", random.size(), {}}},
                             random + random, writer::Compression::kBest);
  AppendLaunch(bytes, "ran");
  writer::AppendTail(bytes);
  EXPECT_EQ(RunExpecting(bytes, "Failed to extract file!: File: " + WorkPath() +
                                    "\nError: " + std::strerror(ENOSPC) + "\n" + kSpawnFailed),
            "-");
  EXPECT_EQ(umount(temp_.c_str()), 0);
}

TEST_F(HostileRunTest, AMissingOrUnwritableTemporaryDirectory) {
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
  AppendLaunch(bytes, "ran");
  writer::AppendTail(bytes);
  WriteInstaller(bytes);

  // A missing TMPDIR is created, as the system's temporary directory would
  // be, and stays; the work directory in it goes.
  test::LaunchOptions options = Options();
  options.set_environment["TMPDIR"] = (temp_ / "missing").string();
  test::ProgramResult result = Run(options);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.errors, "");
  EXPECT_EQ(test::ReadFile(record_ / "args"), "ran\n");
  EXPECT_TRUE(Entries(temp_ / "missing").empty());
  fs::remove(temp_ / "missing");
  fs::remove(record_ / "args");

  // One whose parent is missing too cannot be made: the run is refused.
  options.set_environment["TMPDIR"] = (temp_ / "missing" / "deeper").string();
  result = Run(options);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.errors, kCannotEnter);
  EXPECT_FALSE(fs::exists(record_ / "args"));
  EXPECT_TRUE(Entries(temp_).empty());

  // One the user may not write to: run as nobody when root, who writes
  // anywhere.
  const fs::path read_only = temp_ / "read-only";
  fs::create_directory(read_only);
  fs::permissions(read_only, fs::perms(0555));
  options.set_environment["TMPDIR"] = read_only.string();
  if (geteuid() == 0) {
    for (fs::path p = scratch_.path(); p != p.root_path(); p = p.parent_path()) {
      struct stat status;
      if (p != scratch_.path() &&
          (stat(p.c_str(), &status) != 0 || (status.st_mode & S_IXOTH) == 0)) {
        GTEST_SKIP() << p << " cannot be entered by other users";
      }
    }
    fs::permissions(scratch_.path(), fs::perms(0755));
    options.user = kNobody;
    options.set_environment["ASAN_OPTIONS"] = "detect_leaks=0";
  }
  result = Run(options);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.errors, kCannotEnter);
  EXPECT_TRUE(Entries(read_only).empty());
  fs::remove(read_only);
}

TEST_F(HostileRunTest, AReaderKilledMidExtractionDoesNotHinderTheNextRun) {
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
  writer::AppendFileGroup(bytes, "", "big.bin", std::string(32 * 1024 * 1024, 'b'));
  AppendLaunch(bytes, "ran");
  writer::AppendTail(bytes);
  WriteInstaller(bytes);

  // Kill the reader as soon as it has begun to write the large file, the
  // first one read, under its temporary name.
  fs::path killed_directory;
  {
    test::RunningProgram reader(installer_.string(), Options());
    for (int i = 0; i < 30000 && killed_directory.empty(); ++i) {
      for (const fs::path& entry : Entries(temp_)) {
        std::error_code error;
        if (!fs::is_empty(entry, error) && !error) killed_directory = entry;
      }
      if (killed_directory.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_FALSE(killed_directory.empty());
    ASSERT_EQ(kill(reader.pid(), SIGKILL), 0);
    EXPECT_EQ(reader.Wait().signal, SIGKILL);
  }
  ASSERT_FALSE(fs::exists(killed_directory / "Setup.exe")) << "killed after extraction had ended";

  // The next run is not refused, and the killed run's left-overs (in its own
  // directory, reused when the next run starts within the same second) do
  // not disturb it.
  const test::ProgramResult result = Run();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.errors, "");
  EXPECT_EQ(test::ReadFile(record_ / "args"), "ran\n");
  const std::vector<fs::path> left = Entries(temp_);
  EXPECT_TRUE(left.empty() || left == std::vector<fs::path>{killed_directory});
  fs::remove_all(killed_directory);
}

// A directory of a tree swapped for a link to a folder outside while the
// frames before its file are decoded (the reader held still meanwhile):
// the file is never written through the link.
TEST_F(HostileRunTest, ADirectorySwappedForALinkMidRunIsNotFollowed) {
  std::string bytes = Stub();
  // a.bin's 128 MiB, before d/x in the stream, keep the reader busy once
  // it has made d.
  test::AppendTreeGroup(bytes, {{"a.bin", std::string(128 << 20, '\0')}, {"d/", ""}, {"d/x", "x"}});
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", kRecordingSetup);
  AppendLaunch(bytes, "ran");
  writer::AppendTail(bytes);
  WriteInstaller(bytes);
  test::RunningProgram reader(installer_.string(), Options());
  fs::path made;
  for (int i = 0; i < 30000 && made.empty(); ++i) {
    for (const fs::path& work : Entries(temp_)) {
      std::error_code error;
      if (fs::is_directory(fs::symlink_status(work / "d", error))) made = work / "d";
    }
    if (made.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_FALSE(made.empty());
  ASSERT_EQ(kill(reader.pid(), SIGSTOP), 0);
  const bool before_its_file = !fs::exists(made / "x");
  fs::rename(made, made.string() + "-moved");
  fs::create_directory_symlink(outside_, made);
  ASSERT_EQ(kill(reader.pid(), SIGCONT), 0);
  const test::ProgramResult result = reader.Wait(kRunTimeLimitSeconds);
  ASSERT_TRUE(before_its_file) << "the reader wrote d/x before it was held";
  EXPECT_EQ(result.exit_code, 0) << result.errors;
  EXPECT_TRUE(Entries(outside_).empty());
  EXPECT_TRUE(Entries(temp_).empty());
}

}  // namespace
