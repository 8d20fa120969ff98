#include "message_capture_win32.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "win32_text.h"

namespace test {
namespace {

bool capturing = false;
std::string captured;

int WINAPI RecordMessageBox(HWND, LPCWSTR wide_text, LPCWSTR wide_caption, UINT) {
  const std::string text = platform::Utf8FromWide(wide_text);
  std::string line = platform::Utf8FromWide(wide_caption) + ": ";
  for (const char* c = text.c_str(); *c != '\0'; ++c) {
    if (*c != '\r') {
      line += *c;
      continue;
    }
    line += '\n';
    if (c[1] == '\n') ++c;
  }
  line += '\n';
  if (capturing) {
    captured += line;
  } else {
    std::fputs(line.c_str(), stderr);
  }
  return IDOK;
}

// Points this program's import of user32's MessageBoxW at RecordMessageBox.
void RedirectMessageBoxImport() {
  auto base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
  const auto dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  const auto nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       module->Name != 0; ++module) {
    if (_stricmp(reinterpret_cast<const char*>(base + module->Name), "user32.dll") != 0) continue;
    auto names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
    auto addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(name->Name), "MessageBoxW") != 0) continue;
      DWORD protection = 0;
      VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function, PAGE_READWRITE,
                     &protection);
      addresses->u1.Function = reinterpret_cast<ULONG_PTR>(&RecordMessageBox);
      VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function, protection,
                     &protection);
    }
  }
}

// Done before any test runs, so that no box is ever shown.
[[maybe_unused]] const bool redirected = (RedirectMessageBoxImport(), true);

}  // namespace

void StartCapturingMessageBoxes() {
  captured.clear();
  capturing = true;
}

std::string StopCapturingMessageBoxes() {
  capturing = false;
  return std::move(captured);
}

}  // namespace test
