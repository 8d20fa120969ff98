// Hostile installers under Wine: the Windows reader with damaged or malicious
// envelopes appended, a representative subset of tests/hostile run through
// the Win32 platform layer. Each run must end with the documented message
// boxes and exit code, leave no work directory and write nothing outside it.
// Then the planted-DLL check: a DLL named like a system one beside the
// installer is never loaded.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "envelope_writer.h"
#include "expected_messages.h"
#include "installers.h"
#include "record.h"
#include "tail.h"
#include "test_support.h"
#include "wine_runner.h"

using namespace format;

namespace {

namespace fs = std::filesystem;

using test::AppendLaunch;
using wine::kInvalidArchive;
using wine::Stub;
using wine::WindowsProgram;
using Boxes = std::vector<wine::MessageBox>;

const wine::MessageBox kSpawnFailed{test::kSpawnFailedText, test::kSpawnFailedCaption};
// FormatMessage's texts under Wine, as the reader shows them.
const std::string kNoError = "Success.";
const std::string kInvalidName = "Invalid name.";
const std::string kFileExists = "File exists.";
constexpr size_t kTraceCut = 250;

const std::string& SetupProgram() { return WindowsProgram("recording_setup_gui.exe"); }

// The boxes as text, for failure messages.
std::string Describe(const Boxes& boxes) {
  std::string text;
  for (const wine::MessageBox& box : boxes) {
    text += "\n  [" + box.caption + "] " + testing::PrintToString(box.text);
  }
  return text;
}

// Every entry under `directory`, as paths relative to it.
std::set<std::string> Tree(const fs::path& directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(directory)) {
    names.insert(fs::relative(entry.path(), directory).string());
  }
  return names;
}

class WineHostileTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(record_);
    for (const fs::path& directory : wine::WorkDirectories()) fs::remove_all(directory);
    temp_before_ = Tree(wine::TemporaryDirectory());
    drive_before_ = test::EntryNames(drive_c_);
  }

  void TearDown() override {
    // Nothing was written outside the work directory: the temporary
    // directory and drive C: hold what they held, and so does the scratch
    // directory (the installer, the record and Wine's own output).
    EXPECT_EQ(Tree(wine::TemporaryDirectory()), temp_before_);
    EXPECT_EQ(test::EntryNames(drive_c_), drive_before_);
    for (const auto& entry : fs::directory_iterator(scratch_.path())) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "installer.exe" || name == "record" || name.starts_with("wine-")) << name;
    }
  }

  // Runs `bytes` as the installer; checks exit code 0 and the boxes (the work
  // directory's name written as SF#), and that no work directory is left.
  // Returns whether the setup program ran.
  bool RunExpecting(const std::string& bytes, const Boxes& expected, const std::string& context) {
    test::WriteFile(installer_, bytes);
    fs::remove_all(record_);
    fs::create_directory(record_);
    const wine::Result result =
        wine::Program(installer_, scratch_.path(), {{"SETUP_RECORD", wine::WindowsPath(record_)}})
            .Wait(60);
    EXPECT_EQ(result.exit_code, 0) << context;
    Boxes boxes = result.boxes;
    for (size_t i = 0; i < boxes.size(); ++i) {
      std::string& text = boxes[i].text;
      text = std::regex_replace(text, std::regex(R"(\\SF[0-9]+\\)"), "\\SF#\\");
      // Wine's trace cuts a long string after about 300 characters: such a
      // text is checked as far as it goes.
      if (i < expected.size() && text.size() >= kTraceCut && expected[i].text.starts_with(text)) {
        text = expected[i].text;
      }
    }
    EXPECT_EQ(boxes, expected) << context << ": shown" << Describe(boxes) << "\nexpected"
                               << Describe(expected);
    EXPECT_EQ(Tree(wine::TemporaryDirectory()), temp_before_) << context;
    return fs::exists(record_ / "done");
  }

  wine::MessageBox NotFound() {
    return {"File: " + wine::WindowsPath(installer_) + "\rError: " + kNoError,
            "Failed to initialize archive!"};
  }

  static wine::MessageBox ExtractFailed(const std::string& name, const std::string& error) {
    return {"File: " + WorkDirectory() + name + "\rError: " + error, "Failed to extract file!"};
  }

  // The work directory as the reader names it, with SF# for its number.
  static std::string WorkDirectory() {
    static const std::string temp = [] {
      std::string path = wine::WindowsPath(wine::TemporaryDirectory());
      // Z:\...\drive_c\users\... is C:\users\... to the reader.
      const std::string drive_c = wine::WindowsPath(fs::path(WINE_PREFIX) / "drive_c");
      return "C:" + path.substr(drive_c.size());
    }();
    return temp + "\\SF#\\";
  }

  test::ScratchDirectory scratch_;
  fs::path record_ = scratch_.path() / "record";
  fs::path installer_ = scratch_.path() / "installer.exe";
  fs::path drive_c_ = fs::path(WINE_PREFIX) / "drive_c";
  std::set<std::string> temp_before_, drive_before_;
};

TEST_F(WineHostileTest, TruncatedDownloads) {
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", SetupProgram());
  // Within the setup group: its name record, and the middle of its contents.
  const size_t inside_setup_name = bytes.size() - 60;
  const size_t inside_setup_contents = bytes.size() - 82 - 20 - SetupProgram().size() / 2;
  AppendLaunch(bytes, "ran");
  const size_t tail_start = bytes.size();
  writer::AppendTail(bytes);
  const size_t tail_end = bytes.size();

  const struct {
    size_t size;
    Boxes boxes;
  } cases[] = {
      {inside_setup_contents, {NotFound(), kInvalidArchive}},
      {inside_setup_name, {NotFound(), kInvalidArchive}},
      {tail_start + 10, {NotFound(), kInvalidArchive}},  // inside the marker
      {tail_start + 23, {kInvalidArchive}},              // the marker whole, its record cut
      {tail_end - 1, {kInvalidArchive}},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(RunExpecting(bytes.substr(0, c.size), c.boxes, std::to_string(c.size)));
  }
}

TEST_F(WineHostileTest, LengthsAtTheLimits) {
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", SetupProgram());
  const size_t setup_name_end = bytes.size() - (4 + 20) - (9 + 20);
  const size_t setup_contents_end = setup_name_end - 20 - 9;
  AppendLaunch(bytes, "ran");
  writer::AppendTail(bytes);
  const size_t tail_end = bytes.size();
  ASSERT_EQ(bytes.substr(setup_name_end - 29, 9), "Setup.exe");
  ASSERT_EQ(bytes.substr(setup_contents_end - 20 - SetupProgram().size(), SetupProgram().size()),
            SetupProgram());

  for (const uint32_t length : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    const std::string context = "length " + std::to_string(length);
    // On the tail record: it reaches past the start of the file, so the
    // envelope is not valid.
    std::string damaged = bytes;
    test::SetRecordLength(damaged, tail_end, length);
    EXPECT_FALSE(RunExpecting(damaged, {kInvalidArchive}, "tail, " + context));
    // On the setup program's contents: the walk ends before it is extracted;
    // the envelope stays valid, and the unexpanded %installer% cannot start.
    damaged = bytes;
    test::SetRecordLength(damaged, setup_contents_end, length);
    EXPECT_FALSE(RunExpecting(damaged, {kSpawnFailed}, "setup, " + context));
  }
}

TEST_F(WineHostileTest, FileNamesThatCannotBeExtracted) {
  const struct {
    std::string name;
    std::string error;
  } cases[] = {
      {"C:\\x", kInvalidName},
      {"\\x", kInvalidName},
      {"/x", kInvalidName},
      {"..\\x", kInvalidName},
      {"sub/..\\..\\x", kInvalidName},
      // Longer than 260: the box's text is longer than the trace shows.
      {std::string(300, 'n'), "(beyond the trace)"},
  };
  for (const auto& c : cases) {
    std::string bytes = Stub();
    writer::AppendFileGroup(bytes, "", "not-reached.txt", "x");
    writer::AppendFileGroup(bytes, "bad", c.name, "contents");
    writer::AppendFileGroup(bytes, "installer", "Setup.exe", SetupProgram());
    AppendLaunch(bytes, "%bad%|");
    writer::AppendTail(bytes);
    // The walk ends at the refused name; the envelope is valid, so the setup
    // program extracted before it runs.
    EXPECT_TRUE(RunExpecting(bytes, {ExtractFailed(c.name, c.error)}, c.name.substr(0, 40)));
    EXPECT_EQ(test::ReadFile(record_ / "tail"), c.name + "|");
    EXPECT_EQ(test::EntryNames(record_ / "files"), (std::set<std::string>{"Setup.exe"}));
  }
}

// Names that Windows takes for one (case beyond ASCII, a short 8.3 name)
// never lose a file: the second fails, named, the first keeps its bytes and
// the setup program still runs. A path longer than 260 characters is made and
// removed again.
TEST_F(WineHostileTest, NamesWindowsTakesForOneFailClearlyAndLongPathsWork) {
  const std::string long_path =
      std::string(120, 'l') + "/" + std::string(120, 'm') + "/" + std::string(40, 'n') + ".txt";
  const struct {
    std::map<std::string, std::string> tree;
    std::string first, failing;  // the file kept, and the one refused ("" when none is)
  } cases[] = {
      {{{"x/\xc3\x89.txt", "upper"}, {"x/\xc3\xa9.txt", "lower"}},  // É, é
       "x/\xc3\x89.txt",
       "x\\\xc3\xa9.txt"},
      {{{"\xce\xa3.txt", "upper"}, {"\xcf\x83.txt", "lower"}},
       "\xce\xa3.txt",
       "\xcf\x83.txt"},  // Σ, σ
      // Wine's short name of abcdefghij.txt, which comes first in the tree.
      {{{"abcdefghij.txt", "long"}, {"abcd~auf.txt", "short"}}, "abcdefghij.txt", "abcd~auf.txt"},
      {{{long_path, "deep"}}, "", ""},
  };
  for (const auto& c : cases) {
    std::string bytes = Stub();
    test::AppendTreeGroup(bytes, c.tree);
    // Read before the tree, so that it runs whatever the tree does.
    writer::AppendFileGroup(bytes, "installer", "Setup.exe", SetupProgram());
    AppendLaunch(bytes, "ran");
    writer::AppendTail(bytes);
    const Boxes expected =
        c.failing.empty() ? Boxes{} : Boxes{ExtractFailed(c.failing, kFileExists)};
    EXPECT_TRUE(RunExpecting(bytes, expected, c.failing)) << c.failing;
    if (!c.first.empty()) {
      EXPECT_EQ(test::ReadFile(record_ / "files" / fs::u8path(c.first)), c.tree.at(c.first));
    }
  }
}

TEST_F(WineHostileTest, ARepeatedNameHoldsTheGroupReadLast) {
  // Read from the end: the second Setup.exe is written first and then
  // overwritten by the first.
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", SetupProgram());
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", "not a program");
  AppendLaunch(bytes, "the first one");
  writer::AppendTail(bytes);
  EXPECT_TRUE(RunExpecting(bytes, {}, "repeated"));
  EXPECT_EQ(test::ReadFile(record_ / "tail"), "the first one");
  EXPECT_EQ(test::ReadFile(record_ / "files" / "Setup.exe"), SetupProgram());
}

TEST_F(WineHostileTest, TailMarkersInTheTrailingBytes) {
  std::string bytes = Stub();
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", SetupProgram());
  AppendLaunch(bytes, "ran");
  writer::AppendTail(bytes);
  const std::string& marker = TailMarker();

  const struct {
    std::string trailing;
    Boxes boxes;
    bool ran;
  } cases[] = {
      // The highest marker wins; here its length is 0 and its digest zeros.
      {"sig" + marker + std::string(20, '\0') + "nature",
       {kInvalidArchive, kInvalidArchive},
       false},
      // Its record would reach past the end of the file.
      {"signature" + marker + "!", {kInvalidArchive}, false},
      // The last byte of the file is never part of a marker: not found.
      {"signature" + marker, {}, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunExpecting(bytes + c.trailing, c.boxes, c.trailing), c.ran) << c.trailing;
  }
}

// ---------------------------------------------------------------------------
// A DLL planted beside the installer

// System DLLs that a Windows program may load lazily, by bare name, after it
// has started, and that Windows does not hold among its KnownDLLs (those are
// never searched for). Each is planted as a copy of planted.dll, and Wine is
// told to prefer a native DLL of that name (it would otherwise always take its
// own), so that only the search order keeps it out. Not planted: the DLLs
// Wine's own user32 imports or loads while it starts (version, imm32), which
// are resolved before the reader runs its first instruction, and so are
// beyond its reach; Windows takes those from its KnownDLLs.
const char* const kPlantedNames[] = {"uxtheme", "dwmapi",   "cryptbase",
                                     "propsys", "comctl32", "profapi"};

class WinePlantedDllTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(folder_);
    fs::create_directory(record_);
    for (const char* name : kPlantedNames) {
      fs::copy_file(fs::path(WINDOWS_BIN) / "planted.dll", folder_ / (std::string(name) + ".dll"));
    }
  }

  std::map<std::string, std::string> Environment() {
    std::string overrides = "mscoree,mshtml=";
    for (const char* name : kPlantedNames) overrides += std::string(";") + name + "=n,b";
    return {{"WINEDLLOVERRIDES", overrides},
            {"WINEDEBUG", "-all,+relay,+loaddll"},
            {"PLANTED_DLL_MARKER", wine::WindowsPath(marker_)},
            {"SETUP_RECORD", wine::WindowsPath(record_)}};
  }

  // The DLLs of kPlantedNames the traced process loaded after it restricted
  // the DLL search, with where each came from.
  static std::vector<std::string> LoadedAfterRestriction(const std::string& trace) {
    std::vector<std::string> loaded;
    const size_t restricted = trace.find(".SetDefaultDllDirectories(00000800)");
    if (restricted == std::string::npos) return loaded;
    static const std::regex kLoaded(R"re(trace:loaddll:\w+ Loaded L"([^"]*)" at \w+: (\w+))re");
    for (auto it = std::sregex_iterator(trace.begin() + static_cast<long>(restricted), trace.end(),
                                        kLoaded);
         it != std::sregex_iterator(); ++it) {
      std::string path = std::regex_replace((*it)[1].str(), std::regex(R"(\\\\)"), "\\");
      for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      for (const char* name : kPlantedNames) {
        if (path.ends_with("\\" + std::string(name) + ".dll")) {
          loaded.push_back(path + " " + (*it)[2].str());
        }
      }
    }
    return loaded;
  }

  test::ScratchDirectory scratch_;
  fs::path folder_ = scratch_.path() / "downloads";
  fs::path record_ = scratch_.path() / "record";
  fs::path marker_ = scratch_.path() / "planted-dll-loaded";
};

// The control: a program that loads a DLL by bare name without restricting
// the search picks up the planted copy from its own folder; restricted as the
// reader does, it gets the system's.
TEST_F(WinePlantedDllTest, AnUnrestrictedProgramLoadsThePlantedDllTheRestrictedOneDoesNot) {
  const fs::path probe = folder_ / "dll_probe.exe";
  fs::copy_file(fs::path(WINDOWS_BIN) / "dll_probe.exe", probe);

  const wine::Result open =
      wine::Program(probe, scratch_.path(), Environment(), {"uxtheme.dll"}).Wait(60);
  EXPECT_EQ(open.exit_code, 0);
  ASSERT_TRUE(fs::exists(marker_)) << "not loaded: the check below could not fail";
  EXPECT_EQ(test::ReadFile(marker_), wine::WindowsPath(probe));
  fs::remove(marker_);

  const wine::Result restricted =
      wine::Program(probe, scratch_.path(), Environment(), {"uxtheme.dll", "restricted"}).Wait(60);
  EXPECT_EQ(restricted.exit_code, 0);
  EXPECT_FALSE(fs::exists(marker_)) << test::ReadFile(marker_);
}

// The reader, run from a folder full of planted DLLs: an installer that shows
// message boxes and one that starts its setup program through the shell.
TEST_F(WinePlantedDllTest, TheReaderLoadsNoDllFromItsOwnFolder) {
  std::string damaged = Stub();
  writer::AppendFileGroup(damaged, "installer", "Setup.exe", SetupProgram());
  AppendLaunch(damaged, "ran");
  writer::AppendTail(damaged);
  std::string working = damaged;
  damaged[damaged.size() - 100] ^= 0x20;

  std::vector<std::string> loaded;
  for (const std::string* bytes : {&damaged, &working}) {
    const fs::path installer = folder_ / "installer.exe";
    test::WriteFile(installer, *bytes);
    fs::remove(record_ / "done");
    const wine::Result result = wine::Program(installer, scratch_.path(), Environment()).Wait(60);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.boxes.empty(), bytes == &working) << Describe(result.boxes);
    EXPECT_EQ(fs::exists(record_ / "done"), bytes == &working);
    if (fs::exists(marker_)) {
      const size_t native =
          result.trace.find(": native\n", result.trace.find("SetDefaultDllDirectories"));
      ADD_FAILURE() << "loaded by " << test::ReadFile(marker_) << ":\n"
                    << result.trace.substr(native < 3000 ? 0 : native - 3000, 3200);
    }
    const std::vector<std::string> these = LoadedAfterRestriction(result.trace);
    loaded.insert(loaded.end(), these.begin(), these.end());
  }
  // Some planted names were asked for after start-up, and came from the
  // system directory: without that, the check above could not fail.
  ASSERT_FALSE(loaded.empty());
  for (const std::string& dll : loaded) {
    EXPECT_TRUE(dll.starts_with("c:\\windows\\system32\\")) << dll;
  }
  std::string all;
  for (const std::string& dll : loaded) all += dll + "; ";
  RecordProperty("loaded", all);
}

}  // namespace
