// Starts a program and records its full exit code, which a Linux parent of
// Wine sees only modulo 256. Usage: exit_code_probe PROGRAM RESULT-FILE
// [hidden]; the program is started with no arguments (with "hidden", in a
// window station of its own, which is not visible, as a service's is), and
// RESULT-FILE receives its exit code in decimal. Exits with 0 when it could
// record one, else 1.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3 && !(argc == 4 && std::wstring(argv[3]) == L"hidden")) return 1;
  std::wstring command_line = L"\"" + std::wstring(argv[1]) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring desktop = L"QuillmarrowHidden\\Default";
  if (argc == 4) {
    // A desktop is made in the current window station: enter the new one
    // for that, then return.
    const HWINSTA own = GetProcessWindowStation();
    const HWINSTA hidden =
        CreateWindowStationW(L"QuillmarrowHidden", 0, WINSTA_ALL_ACCESS, nullptr);
    if (hidden == nullptr || !SetProcessWindowStation(hidden)) return 1;
    const HDESK made = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    SetProcessWindowStation(own);
    if (made == nullptr) return 1;
    startup.lpDesktop = desktop.data();
  }
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(argv[1], command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return 1;
  }
  CloseHandle(process.hThread);
  DWORD code = 0;
  const bool ended = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                     GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  if (!ended) return 1;
  const std::string text = std::to_string(code);
  const HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const bool whole =
      WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size();
  CloseHandle(file);
  return whole ? 0 : 1;
}
