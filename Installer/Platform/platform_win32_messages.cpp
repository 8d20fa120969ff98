// Messages on Windows: a message box, and whether anyone could see one (a
// service or deployment agent runs in a window station no one sees).
#include <windows.h>

#include "platform_messages.h"
#include "win32_text.h"

namespace platform {

void ShowMessage(std::string_view text, std::string_view caption) {
  const DWORD error = GetLastError();
  MessageBoxW(nullptr, WideFromUtf8(text).c_str(), WideFromUtf8(caption).c_str(), MB_OK);
  SetLastError(error);
}

bool MessagesCanBeShown() {
  // A window station without WSF_VISIBLE shows nothing to anyone. When the
  // system cannot say, boxes are shown, as they always were.
  const DWORD error = GetLastError();
  const HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  const bool visible =
      station == nullptr ||
      !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) ||
      (flags.dwFlags & WSF_VISIBLE) != 0;
  SetLastError(error);
  return visible;
}

}  // namespace platform
