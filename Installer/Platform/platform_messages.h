// Showing a message to the user. Implemented per system in
// platform_posix_messages.cpp and platform_win32_messages.cpp. See
// platform_system.h for the rules every platform header follows.
#pragma once

#include <string_view>

namespace platform {

// Shows a message to the user and returns once it has been seen. Windows: a
// modal message box with one OK button. POSIX: "caption: text" on standard
// error, with the text's line breaks ("\r\n" or a lone "\r") written as
// "\n". Keeps the last error.
void ShowMessage(std::string_view text, std::string_view caption);

// Whether a message shown now can be seen and dismissed. Windows: false when
// the process's window station is not visible (a service in session 0, a
// deployment agent), where a box would wait for ever; asked anew each time,
// and true when the system cannot say. POSIX: always true. Keeps the last
// error.
bool MessagesCanBeShown();

}  // namespace platform
