// A DLL planted beside a program under the name of a system DLL, for the
// tests under Wine. Whoever loads it creates the file %PLANTED_DLL_MARKER%
// names, holding the loading program's path; it exports nothing.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char marker[MAX_PATH], program[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("PLANTED_DLL_MARKER", marker, sizeof marker);
  if (length == 0 || length >= sizeof marker) return TRUE;
  const DWORD program_length = GetModuleFileNameA(nullptr, program, sizeof program);
  const HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, program, program_length < sizeof program ? program_length : 0, &written,
              nullptr);
    CloseHandle(file);
  }
  return TRUE;
}
