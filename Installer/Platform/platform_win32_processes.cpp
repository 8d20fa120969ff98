// Processes on Windows: the single-instance guard, and starting a program
// through the shell and waiting for it.
#include <windows.h>
// The shell's declarations need windows.h first.
#include <shellapi.h>

#include <algorithm>

#include "platform_processes.h"
#include "win32_text.h"

// The size the shell's execute service expects from a 32-bit caller.
static_assert(sizeof(void*) != 4 || sizeof(SHELLEXECUTEINFOW) == 60);

namespace platform {

InstanceGuard AcquireSingleInstance(const std::string& name) {
  // Never closed: the system releases the mutex when the process ends. The
  // handle is not inheritable, so started programs do not hold it.
  const HANDLE mutex = CreateMutexW(nullptr, TRUE, WideFromUtf8(name).c_str());
  if (mutex == nullptr) return InstanceGuard::kUnavailable;
  if (GetLastError() == ERROR_ALREADY_EXISTS) return InstanceGuard::kAlreadyRunning;
  return InstanceGuard::kAcquired;
}

ProcessEnd RunProcess(const std::string& program, const std::string& parameters,
                      const std::vector<std::string>&, ProcessExit& exit) {
  // Through the shell, as a user's double click would start it: default verb,
  // no directory (the program inherits the current one),
  // no owner window, and a handle to the started process to wait on.
  // A program in a subdirectory may be named with "/", as
  // portable paths are: the shell is given the system's own separator.
  std::wstring file = WideFromUtf8(program);
  std::replace(file.begin(), file.end(), L'/', L'\\');
  const std::wstring tail = WideFromUtf8(parameters);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = nullptr;
  info.lpVerb = nullptr;
  info.lpFile = file.c_str();
  info.lpParameters = tail.c_str();
  info.lpDirectory = nullptr;
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info)) return ProcessEnd::kNotStarted;
  // An end whose exit code cannot be read is a wait that failed, as on POSIX,
  // where the code comes with the wait.
  DWORD code = 0;
  const bool ended = WaitForSingleObject(info.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                     GetExitCodeProcess(info.hProcess, &code);
  if (ended) exit = {static_cast<int>(code), 0};
  if (info.hProcess != nullptr) CloseHandle(info.hProcess);
  return ended ? ProcessEnd::kEnded : ProcessEnd::kWaitFailed;
}

}  // namespace platform
