// Entry point of the Windows reader: a GUI-subsystem program. Its command-line
// tail is read from the wide command line, so that every character reaches
// %commandline%; WinMain's own tail is in the ANSI code page.
#include <windows.h>

#include <string>

#include "command_line.h"
#include "run_sequence.h"
#include "win32_text.h"

namespace {

// An installer is started from a download folder, where anyone may have left
// a DLL named like a system one. Before anything else can load a library,
// restrict the search to the system directory. SetDefaultDllDirectories is
// looked up, not imported, so that the program still starts on systems
// without it (Vista, or 7 without KB2533623).
void RestrictLibrarySearchToSystemDirectory() {
  using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return;
  const auto call = reinterpret_cast<SetDefaultDllDirectoriesCall>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (call != nullptr) call(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  RestrictLibrarySearchToSystemDirectory();
  const wchar_t* const command_line = GetCommandLineW();
  const std::string line = platform::Utf8FromWide(command_line != nullptr ? command_line : L"");
  return reader::RunReader(std::string(format::CommandLineTail(line)));
}
