// A stand-in for a product's setup program, for the tests under Wine. Built
// twice: as a GUI program (WinMain) and as a console program (main). It
// records into the directory named by %SETUP_RECORD%, through the wide calls,
// every text written as UTF-8:
//   commandline  its whole command line, as the system gave it
//   tail         the command-line tail (the text after its own name)
//   cwd          its current directory
//   files\       a copy of every file in its current directory, and of every
//                directory with everything in it
//   entries      the name of every entry there, directories included, a line
//                each
// With %SETUP_RELEASE% set, it then creates "started" and waits until the
// file %SETUP_RELEASE% names exists. It exits with %SETUP_EXIT_CODE%, else 0.
#include <windows.h>

#include <string>

namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t value[4096];
  const DWORD length = GetEnvironmentVariableW(name, value, 4096);
  return length > 0 && length < 4096 ? std::wstring(value, length) : std::wstring();
}

// The system's own conversion, independent of the reader's.
std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

void WriteText(const std::wstring& path, const std::wstring& text) {
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string bytes = Utf8(text);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

// The command line without the program's own name, as the C runtime finds it.
std::wstring Tail(const wchar_t* line) {
  bool quoted = false;
  while (*line != L'\0' && (quoted || (*line != L' ' && *line != L'\t'))) {
    if (*line == L'"') quoted = !quoted;
    ++line;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  return line;
}

// Copies the directory `from` (empty: the current one; else ending in "\")
// into `to` (ending in "\"), directories with everything in them. Returns
// the names of the entries in `from`, a line each.
std::wstring CopyTree(const std::wstring& from, const std::wstring& to) {
  CreateDirectoryW(to.c_str(), nullptr);
  WIN32_FIND_DATAW entry;
  std::wstring entries;
  const HANDLE search = FindFirstFileW((from + L"*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    entries += name + L"\n";
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      CopyTree(from + name + L"\\", to + name + L"\\");
    } else {
      CopyFileW((from + name).c_str(), (to + name).c_str(), FALSE);
    }
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  return entries;
}

int Record() {
  const std::wstring record = Environment(L"SETUP_RECORD");
  if (record.empty()) return 2;
  const wchar_t* line = GetCommandLineW();
  WriteText(record + L"\\commandline", line);
  WriteText(record + L"\\tail", Tail(line));

  wchar_t cwd[MAX_PATH];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH, cwd);
  WriteText(record + L"\\cwd", std::wstring(cwd, length < MAX_PATH ? length : 0));

  const std::wstring entries = CopyTree(L"", record + L"\\files\\");
  WriteText(record + L"\\entries", entries);

  const std::wstring release = Environment(L"SETUP_RELEASE");
  if (!release.empty()) {
    WriteText(record + L"\\started", L"");
    while (GetFileAttributesW(release.c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(50);
  }
  WriteText(record + L"\\done", L"");
  const std::wstring exit_code = Environment(L"SETUP_EXIT_CODE");
  return exit_code.empty() ? 0 : static_cast<int>(std::stoul(exit_code));
}

}  // namespace

#ifdef RECORDING_SETUP_CONSOLE
int main() { return Record(); }
#else
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return Record(); }
#endif
