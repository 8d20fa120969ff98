// A stand-in for a product's setup program, for the tests under Wine. Built
// twice: as a GUI program (WinMain) and as a console program (main). It
// records into the directory named by %SETUP_RECORD%:
//   commandline  its whole command line, as the system gave it
//   tail         the command-line tail (the text after its own name)
//   cwd          its current directory
//   files\       a copy of every file in its current directory
// With %SETUP_RELEASE% set, it then creates "started" and waits until the
// file %SETUP_RELEASE% names exists. It exits with %SETUP_EXIT_CODE%, else 0.
#include <windows.h>

#include <string>

namespace {

std::string Environment(const char* name) {
  char value[4096];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

void WriteText(const std::string& path, const std::string& text) {
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

// The command line without the program's own name, as the C runtime finds it.
std::string Tail(const char* line) {
  bool quoted = false;
  while (*line != '\0' && (quoted || (*line != ' ' && *line != '\t'))) {
    if (*line == '"') quoted = !quoted;
    ++line;
  }
  while (*line == ' ' || *line == '\t') ++line;
  return line;
}

int Record() {
  const std::string record = Environment("SETUP_RECORD");
  if (record.empty()) return 2;
  const char* line = GetCommandLineA();
  WriteText(record + "\\commandline", line);
  WriteText(record + "\\tail", Tail(line));

  char cwd[MAX_PATH];
  const DWORD length = GetCurrentDirectoryA(sizeof cwd, cwd);
  WriteText(record + "\\cwd", std::string(cwd, length < sizeof cwd ? length : 0));

  const std::string files = record + "\\files";
  CreateDirectoryA(files.c_str(), nullptr);
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA("*", &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CopyFileA(entry.cFileName, (files + "\\" + entry.cFileName).c_str(), FALSE);
      }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }

  const std::string release = Environment("SETUP_RELEASE");
  if (!release.empty()) {
    WriteText(record + "\\started", "");
    while (GetFileAttributesA(release.c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(50);
  }
  WriteText(record + "\\done", "");
  const std::string exit_code = Environment("SETUP_EXIT_CODE");
  return exit_code.empty() ? 0 : static_cast<int>(std::stoul(exit_code));
}

}  // namespace

#ifdef RECORDING_SETUP_CONSOLE
int main() { return Record(); }
#else
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return Record(); }
#endif
