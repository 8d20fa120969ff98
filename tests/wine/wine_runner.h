// Running Windows programs under Wine for the tests: a private prefix,
// headless, standard streams on files (never pipes: Wine's server and the
// processes it starts inherit them, and a pipe would then never close), and
// the message boxes a program showed, read from Wine's relay trace of
// MessageBoxW.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace wine {

struct MessageBox {
  std::string text;  // UTF-8, as is the caption
  std::string caption;
  bool operator==(const MessageBox&) const = default;
};

struct Result {
  int exit_code = -1;  // -1: ended otherwise, or killed at the time limit
  std::vector<MessageBox> boxes;
  std::string trace;  // what Wine wrote to standard error: the relay trace
};

// The MessageBoxW calls in a relay trace, in order.
std::vector<MessageBox> MessageBoxesIn(const std::string& trace);

// A Windows program started under Wine.
class Program {
 public:
  // `environment` is added to this process's own (less DISPLAY and
  // WAYLAND_DISPLAY, unless it sets them; in the C.UTF-8 locale); `scratch`
  // receives the trace and output files.
  // `arguments` follow the program on its command line, quoted by Wine.
  Program(const std::filesystem::path& program, const std::filesystem::path& scratch,
          const std::map<std::string, std::string>& environment = {},
          const std::vector<std::string>& arguments = {});
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Waits at most `timeout_seconds`; a program still running then is killed.
  Result Wait(int timeout_seconds = 120);

  // The process that runs the program (Wine's loader becomes it).
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  std::filesystem::path trace_;
};

// Waits until the test prefix's Wine server has ended, with every program of
// the prefix. A server outlives its last program by a few seconds, and keeps
// the desktop it made: one made headless has no display for later programs.
void WaitForServerEnd();

// The host path of the Windows path `path` in the test prefix (C: or Z:).
std::filesystem::path HostPath(const std::string& path);

// The Windows name (on drive Z:) of a host path.
std::string WindowsPath(const std::filesystem::path& path);

// The temporary directory of the prefix's user, as a host path.
std::filesystem::path TemporaryDirectory();

// The reader's work directories (SF...) in that temporary directory.
std::vector<std::filesystem::path> WorkDirectories();

// The bytes of a program of the Windows build (WINDOWS_BIN), read once.
const std::string& WindowsProgram(const std::string& name);

// The Windows reader followed by its stub group: where every envelope starts.
std::string Stub();

// The reader's message for an envelope that is damaged or missing.
extern const MessageBox kInvalidArchive;

}  // namespace wine
