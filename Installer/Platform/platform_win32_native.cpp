#include "platform_win32_native.h"

#include <cstring>

namespace platform {

namespace {

// The calls' names, in the order of NativeCalls' members.
constexpr const char* kNames[] = {"NtCreateFile",
                                  "NtSetInformationFile",
                                  "RtlNtStatusToDosError",
                                  "NtQuerySecurityObject",
                                  "NtOpenProcessToken",
                                  "NtQueryInformationToken",
                                  "RtlGetOwnerSecurityDescriptor",
                                  "RtlEqualSid"};
static_assert(sizeof(NativeCalls) == sizeof kNames / sizeof kNames[0] * sizeof(FARPROC));

bool LookUp(NativeCalls& calls) {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return false;
  for (size_t i = 0; i < sizeof kNames / sizeof kNames[0]; ++i) {
    const FARPROC call = GetProcAddress(ntdll, kNames[i]);
    if (call == nullptr) return false;
    std::memcpy(reinterpret_cast<char*>(&calls) + i * sizeof call, &call, sizeof call);
  }
  return true;
}

}  // namespace

bool LookUpNativeCalls(const NativeCalls*& calls) {
  static NativeCalls found;
  static const bool complete = LookUp(found);
  calls = &found;
  if (!complete) SetLastError(ERROR_PROC_NOT_FOUND);
  return complete;
}

void SetLastErrorFromStatus(const NativeCalls& calls, NTSTATUS status) {
  SetLastError(calls.status_to_error(status));
}

}  // namespace platform
