#include "wine_runner.h"

#include "installers.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "expected_messages.h"
#include "test_support.h"

extern char** environ;

namespace wine {
namespace {

namespace fs = std::filesystem;

// Appends one code point to UTF-8 text.
void AppendUtf8(std::string& text, char32_t code_point) {
  if (code_point < 0x80) {
    text += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    text += static_cast<char>(0xC0 | (code_point >> 6));
    text += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    text += static_cast<char>(0xE0 | (code_point >> 12));
    text += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (code_point >> 18));
    text += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

// Reads one wide string as Wine's debug output writes it (L"...", every
// character outside printable ASCII as a backslash and four hex digits of its
// UTF-16 unit), from the opening quote at `at`, as UTF-8; leaves `at` after
// the closing quote.
std::string ReadTracedString(const std::string& trace, size_t& at) {
  std::u16string units;
  for (++at; at < trace.size() && trace[at] != '"'; ++at) {
    if (trace[at] != '\\' || at + 1 >= trace.size()) {
      units += static_cast<char16_t>(static_cast<unsigned char>(trace[at]));
      continue;
    }
    const char escaped = trace[++at];
    switch (escaped) {
      case 'n': units += u'\n'; break;
      case 'r': units += u'\r'; break;
      case 't': units += u'\t'; break;
      case '"':
      case '\\': units += static_cast<char16_t>(escaped); break;
      default: units += static_cast<char16_t>(std::stoi(trace.substr(at, 4), nullptr, 16)); at += 3;
    }
  }
  ++at;
  std::string text;
  for (size_t i = 0; i < units.size(); ++i) {
    const char32_t unit = units[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      AppendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00));
    } else {
      AppendUtf8(text, unit);
    }
  }
  return text;
}

}  // namespace

std::vector<MessageBox> MessageBoxesIn(const std::string& trace) {
  static constexpr char kCall[] = ":Call user32.MessageBoxW(";
  // Each argument is a hex value, a string's followed by its text; a null
  // string (no caption) has none and reads as empty.
  auto argument = [&](size_t& at) {
    while (at < trace.size() && std::isxdigit(static_cast<unsigned char>(trace[at]))) ++at;
    std::string text;
    if (trace.compare(at, 3, " L\"") == 0) {
      at += 2;
      text = ReadTracedString(trace, at);
    }
    at = trace.find_first_of(",)\n", at);  // past a cut string's "..."
    if (at != std::string::npos) ++at;
    return text;
  };
  std::vector<MessageBox> boxes;
  for (size_t at = trace.find(kCall); at != std::string::npos; at = trace.find(kCall, at)) {
    at += sizeof kCall - 1;
    MessageBox box;
    argument(at);  // the owner window
    if (at != std::string::npos) box.text = argument(at);
    if (at != std::string::npos) box.caption = argument(at);
    boxes.push_back(box);
    if (at == std::string::npos) break;
  }
  return boxes;
}

Program::Program(const fs::path& program, const fs::path& scratch,
                 const std::map<std::string, std::string>& environment,
                 const std::vector<std::string>& arguments)
    : trace_(scratch / ("wine-trace-" + program.filename().string() + ".txt")) {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const size_t equals = text.find('=');
    if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  variables.erase("DISPLAY");
  variables.erase("WAYLAND_DISPLAY");
  variables["WINEPREFIX"] = WINE_PREFIX;
  variables["WINEDLLOVERRIDES"] = "mscoree,mshtml=";
  variables["WINEDEBUG"] = "-all,+relay";  // the prefix limits relay to MessageBoxW
  // Unix names in UTF-8 reach Wine intact; Wine's ANSI code page is then 1252.
  variables["LANG"] = "C.UTF-8";
  variables.erase("LC_ALL");
  variables.erase("LC_CTYPE");
  for (const auto& [name, value] : environment) variables[name] = value;
  std::vector<std::string> texts;
  for (const auto& [name, value] : variables) texts.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& text : texts) envp.push_back(text.data());
  envp.push_back(nullptr);

  std::vector<std::string> words = {WINE_LOADER, program.string()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::string& loader = words[0];

  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  const std::string output = (scratch / "wine-output.txt").string(), trace = trace_.string();
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, output.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_addopen(&files, STDERR_FILENO, trace.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int error = posix_spawn(&pid_, loader.c_str(), &files, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&files);
  if (error != 0) throw std::runtime_error("cannot start " + loader + ": " + std::strerror(error));
}

Program::~Program() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

Result Program::Wait(int timeout_seconds) {
  Result result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  int status = 0;
  pid_t ended = 0;
  while ((ended = waitpid(pid_, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (ended == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  } else if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  }
  pid_ = -1;
  result.trace = test::ReadFile(trace_);
  result.boxes = MessageBoxesIn(result.trace);
  return result;
}

void WaitForServerEnd() {
  // wineserver lies beside the loader; -w waits for the prefix's server.
  const std::string server = (fs::path(WINE_LOADER).parent_path() / "wineserver").string();
  const std::string prefix = std::string("WINEPREFIX=") + WINE_PREFIX;
  char* argv[] = {const_cast<char*>(server.c_str()), const_cast<char*>("-w"), nullptr};
  std::vector<char*> envp;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!std::string_view(*entry).starts_with("WINEPREFIX=")) envp.push_back(*entry);
  }
  envp.push_back(const_cast<char*>(prefix.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, server.c_str(), nullptr, nullptr, argv, envp.data()) == 0) {
    waitpid(pid, nullptr, 0);
  }
}

fs::path HostPath(const std::string& path) {
  std::string rest = path.substr(2);
  for (char& c : rest) {
    if (c == '\\') c = '/';
  }
  if (path.starts_with("Z:") || path.starts_with("z:")) return rest;
  if (path.starts_with("C:") || path.starts_with("c:")) {
    return fs::path(WINE_PREFIX) / "drive_c" / rest.substr(1);
  }
  throw std::runtime_error("not a path of the test prefix: " + path);
}

std::string WindowsPath(const fs::path& path) {
  std::string text = "Z:" + fs::absolute(path).string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

fs::path TemporaryDirectory() {
  // HKCU\Environment\TEMP, as user.reg holds it: "TEMP"="C:\\users\\...\\Temp",
  // or "TEMP"=str(2):"%USERPROFILE%\\Temp".
  const std::string registry = test::ReadFile(fs::path(WINE_PREFIX) / "user.reg");
  static constexpr char kName[] = "\n\"TEMP\"=";
  size_t begin = registry.find(kName);
  if (begin == std::string::npos) throw std::runtime_error("the Wine prefix has no TEMP");
  begin = registry.find('"', begin + sizeof kName - 1) + 1;
  std::string value = registry.substr(begin, registry.find('"', begin) - begin);
  for (size_t at = value.find("\\\\"); at != std::string::npos; at = value.find("\\\\", at + 1)) {
    value.erase(at, 1);
  }
  static constexpr char kProfile[] = "%USERPROFILE%";
  if (value.starts_with(kProfile)) {
    for (const auto& user : fs::directory_iterator(fs::path(WINE_PREFIX) / "drive_c" / "users")) {
      if (user.path().filename() != "Public") {
        value = "C:\\users\\" + user.path().filename().string() + value.substr(sizeof kProfile - 1);
        break;
      }
    }
  }
  const fs::path temp = HostPath(value);
  fs::create_directories(temp);  // Wine makes it when first asked for; so would the reader
  return temp;
}

std::vector<fs::path> WorkDirectories() {
  std::vector<fs::path> found;
  for (const auto& entry : fs::directory_iterator(TemporaryDirectory())) {
    if (entry.path().filename().string().starts_with("SF")) found.push_back(entry.path());
  }
  return found;
}

const std::string& WindowsProgram(const std::string& name) {
  return test::ProgramBytes((fs::path(WINDOWS_BIN) / name).string());
}

std::string Stub() {
  return test::Stub((std::filesystem::path(WINDOWS_BIN) / "reader.exe").string(), "Reader.exe");
}

const MessageBox kInvalidArchive{test::kInvalidArchiveText, test::kInvalidArchiveCaption};

}  // namespace wine
