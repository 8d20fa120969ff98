// The Windows reader for users whose folders, names and parameters hold
// letters outside the ANSI code page (1252 under Wine here): an installer in
// such a folder, a temporary directory under such a name, UTF-8 file names
// and parameters reaching the setup program intact, and a name in code-page
// bytes still read as the ANSI calls read it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "envelope_writer.h"
#include "installers.h"
#include "test_support.h"
#include "wine_runner.h"

namespace {

namespace fs = std::filesystem;

const std::string kFolderName = "Загрузки 下载 Łódź";
const std::string kTemporaryName = "Временные 临时";

// Runs Wine's reg tool in the test prefix with `arguments`; true when it
// succeeded.
bool Registry(const fs::path& scratch, const std::vector<std::string>& arguments) {
  return wine::Program("reg", scratch, {}, arguments).Wait(60).exit_code == 0;
}

// The prefix user's TEMP and TMP set to `directory` in the registry
// (HKCU\Environment, where Windows keeps them) for as long as the object
// lives; then the saved values are put back and the Wine server is let go,
// so that the registry file on disk holds them again for the other tests.
class UserTemporaryDirectory {
 public:
  UserTemporaryDirectory(const fs::path& scratch, const std::string& directory)
      : scratch_(scratch), saved_(wine::WindowsPath(scratch / "environment.reg")) {
    saved_ok_ = Registry(scratch_, {"export", "HKCU\\Environment", saved_, "/y"});
    set_ok_ = saved_ok_;  // nothing is changed that could not be put back
    for (const char* name : {"TEMP", "TMP"}) {
      set_ok_ = set_ok_ && Registry(scratch_, {"add", "HKCU\\Environment", "/v", name, "/t",
                                               "REG_SZ", "/d", directory, "/f"});
    }
  }
  ~UserTemporaryDirectory() {
    if (saved_ok_) {
      Registry(scratch_, {"import", saved_});
    }
    const std::string server = fs::path(WINE_LOADER).parent_path() / "wineserver";
    std::system(("WINEPREFIX='" + std::string(WINE_PREFIX) + "' '" + server + "' -w").c_str());
  }
  UserTemporaryDirectory(const UserTemporaryDirectory&) = delete;
  UserTemporaryDirectory& operator=(const UserTemporaryDirectory&) = delete;

  bool Set() const { return saved_ok_ && set_ok_; }

 private:
  fs::path scratch_;
  std::string saved_;
  bool saved_ok_ = false, set_ok_ = false;
};

class WineUnicodeTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_);
    fs::create_directory(record_);
  }

  std::string Recorded(const std::string& name) { return test::ReadFile(record_ / name); }

  std::set<std::string> RecordedFiles() { return test::EntryNames(record_ / "files"); }

  test::ScratchDirectory scratch_;
  fs::path folder_ = scratch_.path() / kFolderName;
  fs::path installer_ = folder_ / "installer.exe";
  fs::path record_ = scratch_.path() / "record";
};

TEST_F(WineUnicodeTest, AnInstallerInAUnicodeFolderRunsWithAUnicodeTemporaryDirectory) {
  const std::string& setup = wine::WindowsProgram("recording_setup_gui.exe");
  std::string bytes = wine::Stub();
  writer::AppendFileGroup(bytes, "installer", "Setup.exe", setup);
  writer::AppendFileGroup(bytes, "", "Größe.ini", "UTF-8 name");
  writer::AppendFileGroup(bytes, "", "Ελληνικά.txt", "Greek");
  writer::AppendFileGroup(bytes, "", "下载 𝄞.txt", "CJK, and a letter beyond 16 bits");
  writer::AppendFileGroup(bytes, "", "caf\xE9.ini", "a name in code page 1252");
  writer::AppendValueGroup(bytes, "greeting", "Привет, 世界");
  test::AppendLaunch(bytes, "%commandline%|%greeting%|%source%");
  writer::AppendTail(bytes);
  test::WriteFile(installer_, bytes);

  const fs::path temporary = fs::path(WINE_PREFIX) / "drive_c" / kTemporaryName;
  fs::create_directory(temporary);
  wine::Result result;
  {
    UserTemporaryDirectory user_temporary(scratch_.path(), "C:\\" + kTemporaryName);
    ASSERT_TRUE(user_temporary.Set());
    result = wine::Program(installer_, scratch_.path(),
                           {{"SETUP_RECORD", wine::WindowsPath(record_)}}, {"/S", "dir=Łódź 下载"})
                 .Wait();
  }
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.boxes, std::vector<wine::MessageBox>{});
  ASSERT_TRUE(fs::exists(record_ / "done"));

  // It ran in a work directory under the Unicode temporary directory...
  const std::string cwd = Recorded("cwd");
  EXPECT_TRUE(cwd.starts_with("C:\\" + kTemporaryName + "\\SF")) << cwd;
  EXPECT_EQ(wine::HostPath(cwd).parent_path(), temporary);
  EXPECT_NE(Recorded("commandline").find(cwd + "\\Setup.exe"), std::string::npos)
      << Recorded("commandline");
  // ... with the reader's own arguments, a packed value and the directory
  // intact...
  EXPECT_EQ(Recorded("tail"), "/S \"dir=Łódź 下载\"|Привет, 世界|" + cwd);
  // ... beside its files, under their names: UTF-8 as it is, the code-page
  // name as the ANSI calls read it...
  EXPECT_EQ(RecordedFiles(), (std::set<std::string>{"Setup.exe", "Größe.ini", "Ελληνικά.txt",
                                                    "下载 𝄞.txt", "café.ini"}));
  EXPECT_EQ(test::ReadFile(record_ / "files" / "下载 𝄞.txt"), "CJK, and a letter beyond 16 bits");
  EXPECT_EQ(test::ReadFile(record_ / "files" / "café.ini"), "a name in code page 1252");
  // ... and the work directory is gone again.
  EXPECT_TRUE(fs::is_empty(temporary));
  fs::remove(temporary);
}

TEST_F(WineUnicodeTest, AMessageShowsAUnicodePathIntact) {
  test::WriteFile(installer_, wine::WindowsProgram("reader.exe"));
  const wine::Result result = wine::Program(installer_, scratch_.path()).Wait();
  EXPECT_EQ(result.exit_code, 0);
  ASSERT_EQ(result.boxes.size(), 2u) << result.trace;
  EXPECT_EQ(result.boxes[0].caption, "Failed to initialize archive!");
  EXPECT_TRUE(
      result.boxes[0].text.starts_with("File: " + wine::WindowsPath(installer_) + "\rError: "))
      << result.boxes[0].text;
  EXPECT_EQ(result.boxes[1], wine::kInvalidArchive);
}

}  // namespace
