// The progress display of a long operation. Implemented per system in
// platform_posix_progress.cpp and platform_win32_progress.cpp. See
// platform_system.h for the rules every platform header follows.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// How far a long operation has come. Windows: a small window without
// buttons, painted on a thread of its own so that it stays drawn while the
// caller works. POSIX: one line on standard error, rewritten in place, and
// only when standard error is a terminal. One display at a time per process.

// What a display shows, and how it is run, each kind of display taking its
// own: a window its caption and its line of text (Windows), a terminal line
// the text it begins with, followed by the percentage and a bar (POSIX).
// UTF-8; the texts must outlive every display that shows them.
struct ProgressSettings {
  std::string_view window_caption;
  std::string_view window_text;
  std::string_view line_text;
  // Windows: the name the window's class is registered under, one of the
  // program's own.
  std::string_view window_class;
  // Windows: how long showing and closing wait for the window's thread, at
  // most; a window that does not come or go in that time is given up.
  int window_wait_milliseconds = 0;
};

// One progress display, shown from the first Show to Close (or the object's
// end). Not for use from several threads.
class ProgressDisplay {
 public:
  explicit ProgressDisplay(const ProgressSettings& settings) : settings_(settings) {}
  ~ProgressDisplay();  // closes the display
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  // Shows the display with `percent` (0 to 100) done, creating it where it
  // is not shown. Where it cannot be shown this does nothing: on Windows,
  // once the window could not be made (no desktop), for the rest of the
  // object's life; on POSIX, while standard error is no terminal. Keeps the
  // last error.
  void Show(int percent);

  // Removes the display, if shown, and returns once it is gone (the window
  // destroyed, the line cleared); a later Show shows it again. Keeps the
  // last error.
  void Close();

 private:
  struct State;
  ProgressSettings settings_;
  State* state_ = nullptr;
};

}  // namespace platform
