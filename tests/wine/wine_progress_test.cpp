// The Windows reader's progress window under Wine. On a display (the
// wine_progress_window test runs this under xvfb-run) the window is created
// for a slow extraction and is gone before the setup program starts; a quick
// one never creates it. Without a display, a slow run goes on as it always
// did. A slow run is a real one held still (SIGSTOP, as a slow disk would
// hold it) for 1.5 s as soon as its first file appears, with a 64 MiB file
// still to come.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "envelope_writer.h"
#include "installers.h"
#include "test_support.h"
#include "wine_runner.h"

namespace {

namespace fs = std::filesystem;

using wine::WorkDirectories;

// The window class and title the reader gives its progress window.
constexpr char kWindowClass[] = "QuillmarrowProgress";
constexpr char kWindowTitle[] = "\"Setup\"";

// Whether the trace shows the progress window created: a CreateWindowExW
// call for its class whose return, on the same thread, is a window.
bool ProgressWindowCreated(const std::string& trace) {
  static constexpr char kCall[] = ":Call user32.CreateWindowExW(";
  static constexpr char kReturn[] = ":Ret  user32.CreateWindowExW(";
  for (size_t call = trace.find(kCall); call != std::string::npos;
       call = trace.find(kCall, call + 1)) {
    const size_t line_start = trace.rfind('\n', call) + 1;  // npos + 1 is 0
    const size_t line_end = trace.find('\n', call);
    if (trace.substr(line_start, line_end - line_start).find(kWindowClass) == std::string::npos) {
      continue;
    }
    const std::string thread = trace.substr(line_start, call - line_start);
    const size_t ret = trace.find("\n" + thread + kReturn, line_end);
    if (ret == std::string::npos) return false;
    const size_t value = trace.find("retval=", ret);
    // 8 hexadecimal digits in a 32-bit process, 16 in a 64-bit one.
    return value != std::string::npos && std::stoull(trace.substr(value + 7, 16), nullptr, 16) != 0;
  }
  return false;
}

// The X windows on the display, as xwininfo lists them.
std::string DisplayedWindows() {
  std::string listing;
  if (FILE* pipe = popen("xwininfo -root -tree 2>/dev/null", "r")) {
    char buffer[4096];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      listing.append(buffer, got);
    pclose(pipe);
  }
  return listing;
}

class WineProgressTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(record_);
    for (const fs::path& directory : WorkDirectories()) fs::remove_all(directory);
  }

  // Runs an installer with the recording setup program, after a 64 MiB file
  // when `slow`, on `display` (none: headless), and checks that it ran as
  // always: no message, exit code 0, the setup program started and nothing
  // left behind. While the setup program waits, `during_setup` is called.
  wine::Result Run(bool slow, const char* display, const std::function<void()>& during_setup) {
    std::string stub = wine::Stub();
    if (slow) writer::AppendFileGroup(stub, "", "payload.bin", std::string(64 << 20, 'p'));
    test::WriteFile(installer_,
                    test::SetupOnlyInstaller(std::move(stub),
                                             wine::WindowsProgram("recording_setup_gui.exe"), ""));
    std::map<std::string, std::string> environment = {
        {"SETUP_RECORD", wine::WindowsPath(record_)},
        {"SETUP_RELEASE", wine::WindowsPath(release_)}};
    if (display != nullptr) environment["DISPLAY"] = display;
    wine::Program reader(installer_, scratch_.path(), environment);
    if (slow) {
      EXPECT_TRUE(HoldAfterTheFirstFile(reader.pid()));
    }
    for (int i = 0; i < 1200 && !fs::exists(record_ / "started"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(fs::exists(record_ / "started"));
    during_setup();
    test::WriteFile(release_, "");
    const wine::Result result = reader.Wait();
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.boxes, std::vector<wine::MessageBox>{});
    EXPECT_TRUE(fs::exists(record_ / "done"));
    EXPECT_EQ(WorkDirectories(), std::vector<fs::path>{});
    fs::remove(release_);
    fs::remove_all(record_);
    fs::create_directory(record_);
    return result;
  }

  // Waits until the reader `pid` has created its first file, then holds it
  // still for 1.5 s. False when no file appeared.
  static bool HoldAfterTheFirstFile(pid_t pid) {
    for (int i = 0; i < 60000; ++i) {
      std::error_code error;
      for (const auto& entry : fs::directory_iterator(wine::TemporaryDirectory(), error)) {
        if (!fs::exists(entry.path() / "Setup.exe", error)) continue;
        kill(pid, SIGSTOP);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        kill(pid, SIGCONT);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  test::ScratchDirectory scratch_;
  fs::path record_ = scratch_.path() / "record";
  fs::path release_ = scratch_.path() / "release";
  fs::path installer_ = scratch_.path() / "installer.exe";
};

TEST_F(WineProgressTest, OnADisplayTheWindowShowsForASlowRunOnlyAndIsGoneBeforeSetup) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') GTEST_SKIP() << "no display: run under xvfb-run";
  wine::WaitForServerEnd();

  std::string windows_during_setup;
  const wine::Result slow = Run(true, display, [&] { windows_during_setup = DisplayedWindows(); });
  EXPECT_TRUE(ProgressWindowCreated(slow.trace));
  EXPECT_NE(windows_during_setup.find("Root window id"), std::string::npos) << "xwininfo failed";
  EXPECT_EQ(windows_during_setup.find(kWindowTitle), std::string::npos) << windows_during_setup;

  const wine::Result quick = Run(false, display, [] {});
  EXPECT_EQ(quick.trace.find(kWindowClass), std::string::npos);
}

TEST_F(WineProgressTest, WithoutADisplayASlowRunGoesOnAsAlways) {
  Run(true, nullptr, [] {});
}

}  // namespace
