// The progress display on Windows: a small window without buttons, with a
// line of text, a bar and the percentage, painted with USER and GDI calls only
// (no common controls: the program imports nothing beyond the system's known
// DLLs). The window lives on a thread of its own, which pumps its messages,
// so that it stays painted while the extraction keeps the main thread busy.
#include <windows.h>

#include <string>

#include "platform_progress.h"
#include "win32_text.h"

namespace platform {

namespace {

// Layout of the client area, in pixels.
constexpr int kClientWidth = 380;
constexpr int kClientHeight = 92;
constexpr int kMargin = 16;
constexpr RECT kTextArea = {kMargin, kMargin, kClientWidth - kMargin, kMargin + 24};
constexpr int kPercentWidth = 48;
constexpr RECT kBarArea = {kMargin, 50, kClientWidth - kMargin - kPercentWidth, 50 + 20};
constexpr RECT kPercentArea = {kBarArea.right, kBarArea.top, kClientWidth - kMargin,
                               kBarArea.bottom};
// What changes with the percentage, repainted on each update.
constexpr RECT kChangingArea = {kBarArea.left, kBarArea.top, kPercentArea.right,
                                kPercentArea.bottom};

// Posted to end the window. WM_CLOSE (Alt+F4) is ignored: the user cannot
// close it.
constexpr UINT kEndMessage = WM_APP + 1;

enum class WindowState { kNone, kUnavailable, kShown };

// Shared by the display's owner and the window's thread, which reaches it
// through the window (GWLP_USERDATA).
struct ProgressWindow {
  WindowState state = WindowState::kNone;
  ProgressSettings settings;
  std::wstring text;  // painted again and again: converted once
  HANDLE thread = nullptr;
  HANDLE ready = nullptr;  // set once the window exists, or could not be made
  HWND window = nullptr;   // written by the window's thread before `ready`
  HFONT font = nullptr;    // owned by the window's thread
  volatile LONG percent = 0;
  // A thread that did not end when asked may still use this state, which is
  // then never freed.
  bool thread_left_running = false;
};

// "42%" in `text`, which holds at least 5 characters.
void FormatPercent(int percent, wchar_t* text) {
  int at = 0;
  if (percent >= 100) text[at++] = L'1';
  if (percent >= 10) text[at++] = static_cast<wchar_t>(L'0' + percent / 10 % 10);
  text[at++] = static_cast<wchar_t>(L'0' + percent % 10);
  text[at++] = L'%';
  text[at] = L'\0';
}

void Paint(HWND window, const ProgressWindow& progress) {
  PAINTSTRUCT paint;
  const HDC dc = BeginPaint(window, &paint);
  if (dc == nullptr) return;
  const HGDIOBJ previous_font =
      progress.font != nullptr ? SelectObject(dc, progress.font) : nullptr;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  FillRect(dc, &paint.rcPaint, GetSysColorBrush(COLOR_BTNFACE));

  RECT text = kTextArea;
  DrawTextW(dc, progress.text.c_str(), -1, &text,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);

  const int percent = static_cast<int>(progress.percent);
  RECT bar = kBarArea;
  DrawEdge(dc, &bar, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
  FillRect(dc, &bar, GetSysColorBrush(COLOR_WINDOW));
  bar.right = bar.left + (bar.right - bar.left) * percent / 100;
  FillRect(dc, &bar, GetSysColorBrush(COLOR_HIGHLIGHT));

  wchar_t number[8];
  FormatPercent(percent, number);
  RECT number_area = kPercentArea;
  DrawTextW(dc, number, -1, &number_area, DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);

  if (previous_font != nullptr) SelectObject(dc, previous_font);
  EndPaint(window, &paint);
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_NCCREATE:
      SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(
                            reinterpret_cast<const CREATESTRUCTW*>(lparam)->lpCreateParams));
      return DefWindowProcW(window, message, wparam, lparam);
    case WM_PAINT:
      Paint(window, *reinterpret_cast<ProgressWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA)));
      return 0;
    case WM_ERASEBKGND: return 1;  // WM_PAINT fills everything itself
    case WM_CLOSE: return 0;
    case kEndMessage: DestroyWindow(window); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

// The system's font for message texts; null (the stock font) when unknown.
HFONT MessageFont() {
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    return nullptr;
  }
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

// A title bar without the system menu, so without buttons: the window cannot
// be closed, moved aside only.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION;

HWND CreateProgressWindow(ProgressWindow& progress) {
  const std::wstring window_class = WideFromUtf8(progress.settings.window_class);
  const std::wstring caption = WideFromUtf8(progress.settings.window_caption);
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW registration = {};
  registration.cbSize = sizeof registration;
  registration.lpfnWndProc = WindowProcedure;
  registration.hInstance = instance;
  // IDC_APPSTARTING (the arrow with an hourglass), as its wide resource name.
  registration.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32650));
  registration.lpszClassName = window_class.c_str();
  // Registered once per run; a window shown again after a close finds it.
  if (RegisterClassExW(&registration) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return nullptr;
  }

  RECT frame = {0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, kWindowStyle, FALSE, 0);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  RECT desktop = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &desktop, 0);
  const int x = desktop.left + (desktop.right - desktop.left - width) / 2;
  const int y = desktop.top + (desktop.bottom - desktop.top - height) / 2;
  return CreateWindowExW(0, window_class.c_str(), caption.c_str(), kWindowStyle, x, y, width,
                         height, nullptr, nullptr, instance, &progress);
}

// The window's thread: makes the window, says so, and pumps its messages
// until it is destroyed.
DWORD WINAPI RunProgressWindow(void* raw) {
  ProgressWindow& progress = *static_cast<ProgressWindow*>(raw);
  progress.font = MessageFont();
  progress.window = CreateProgressWindow(progress);
  SetEvent(progress.ready);
  if (progress.window != nullptr) {
    // Not activated: the user may be working in another window meanwhile.
    ShowWindow(progress.window, SW_SHOWNOACTIVATE);
    UpdateWindow(progress.window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  if (progress.font != nullptr) DeleteObject(progress.font);
  progress.font = nullptr;
  return 0;
}

// How long showing and closing wait for the window's thread, at most.
DWORD WaitLimit(const ProgressWindow& progress) {
  return static_cast<DWORD>(progress.settings.window_wait_milliseconds);
}

// Waits for the window's thread to end and lets go of it.
void EndProgressThread(ProgressWindow& progress) {
  if (WaitForSingleObject(progress.thread, WaitLimit(progress)) != WAIT_OBJECT_0) {
    progress.thread_left_running = true;
  }
  CloseHandle(progress.thread);
  CloseHandle(progress.ready);
  progress.thread = progress.ready = nullptr;
  progress.window = nullptr;
}

bool StartProgressWindow(ProgressWindow& progress) {
  progress.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (progress.ready == nullptr) return false;
  progress.thread = CreateThread(nullptr, 0, RunProgressWindow, &progress, 0, nullptr);
  if (progress.thread == nullptr) {
    CloseHandle(progress.ready);
    progress.ready = nullptr;
    return false;
  }
  if (WaitForSingleObject(progress.ready, WaitLimit(progress)) == WAIT_OBJECT_0 &&
      progress.window != nullptr) {
    return true;
  }
  EndProgressThread(progress);
  return false;
}

}  // namespace

struct ProgressDisplay::State : ProgressWindow {};

void ProgressDisplay::Show(int percent) {
  if (state_ == nullptr) {
    state_ = new State;
    state_->settings = settings_;
    state_->text = WideFromUtf8(settings_.window_text);
  }
  ProgressWindow& progress = *state_;
  if (progress.state == WindowState::kUnavailable) return;
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  const DWORD error = GetLastError();
  InterlockedExchange(&progress.percent, percent);
  if (progress.state == WindowState::kNone) {
    progress.state =
        StartProgressWindow(progress) ? WindowState::kShown : WindowState::kUnavailable;
  } else {
    InvalidateRect(progress.window, &kChangingArea, FALSE);
  }
  SetLastError(error);
}

ProgressDisplay::~ProgressDisplay() {
  Close();
  if (state_ != nullptr && !state_->thread_left_running) delete state_;
}

void ProgressDisplay::Close() {
  if (state_ == nullptr || state_->state != WindowState::kShown) return;
  const DWORD error = GetLastError();
  PostMessageW(state_->window, kEndMessage, 0, 0);
  EndProgressThread(*state_);
  state_->state = WindowState::kNone;
  SetLastError(error);
}

}  // namespace platform
