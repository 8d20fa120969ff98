// The Windows reader's unattended-run parts: the exit codes deployment tools
// understand, and a message log for when no one could dismiss a message box
// (a service or deployment agent in a non-interactive window station). Wide
// calls only; texts are UTF-8 above this layer.
#include <windows.h>

#include <string>

#include "platform.h"
#include "platform_win32_unattended.h"
#include "win32_text.h"

namespace platform {

const int kExitAnotherInstallation = 1618;  // ERROR_INSTALL_ALREADY_RUNNING
const int kExitPackageInvalid = 1620;       // ERROR_INSTALL_PACKAGE_INVALID
const int kExitInstallFailure = 1603;       // ERROR_INSTALL_FAILURE

namespace {

std::optional<bool> shown_override;
std::wstring message_log;

// A window station without WSF_VISIBLE shows nothing to anyone. When the
// system cannot say, boxes are shown, as they always were. Asked for each
// message: they are few, and a process may change its window station.
bool WindowStationIsVisible() {
  const HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  if (station == nullptr ||
      !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed)) {
    return true;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace

bool MessagesCanBeShown() {
  if (shown_override) return *shown_override;
  return WindowStationIsVisible();
}

void SetMessageLog(const std::string& path) { message_log = WideFromUtf8(path); }

void OverrideMessagesCanBeShown(std::optional<bool> shown) { shown_override = shown; }

bool AppendToMessageLog(std::string_view text, std::string_view caption) {
  if (message_log.empty()) return false;
  std::string line(caption);
  line += ": ";
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') {
      line += text[i];
    } else if (!(text[i] == '\n' && i > 0 && text[i - 1] == '\r')) {
      line += ' ';  // "\r\n", "\r" or "\n": one line break, one space
    }
  }
  line += "\r\n";
  // Opened for appending only, so that lines of two runs never overwrite
  // each other; others may read it while it is open.
  const HANDLE file =
      CreateFileW(message_log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool whole =
      WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) != 0 &&
      written == line.size();
  CloseHandle(file);
  return whole;
}

void CatchInterruptions() {}

int CaughtInterruption() { return 0; }

}  // namespace platform
