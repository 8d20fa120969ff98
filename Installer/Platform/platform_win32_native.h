// Inside the Windows platform layer: the native calls of ntdll.dll it uses,
// for what the Win32 calls cannot do (entries made relative to an open
// directory, renamed into another one, a directory's owner). They are looked
// up at run time in the ntdll.dll that every process has loaded, so the
// program imports nothing more and loads nothing from a search path.
#pragma once

#include <windows.h>
#include <winternl.h>

namespace platform {

struct NativeCalls {
  NTSTATUS(NTAPI* create_file)
  (PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
   ULONG, PVOID, ULONG);
  NTSTATUS(NTAPI* set_information_file)
  (HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
  ULONG(NTAPI* status_to_error)(NTSTATUS);
  NTSTATUS(NTAPI* query_security_object)
  (HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, ULONG, PULONG);
  NTSTATUS(NTAPI* open_process_token)(HANDLE, ACCESS_MASK, PHANDLE);
  NTSTATUS(NTAPI* query_information_token)
  (HANDLE, TOKEN_INFORMATION_CLASS, PVOID, ULONG, PULONG);
  NTSTATUS(NTAPI* get_owner)(PSECURITY_DESCRIPTOR, PSID*, PBOOLEAN);
  BOOLEAN(NTAPI* equal_sid)(PSID, PSID);
};

// The calls, looked up once. False, with ERROR_PROC_NOT_FOUND as the last
// error, when ntdll.dll lacks any of them.
bool LookUpNativeCalls(const NativeCalls*& calls);

// Sets the last error to the Win32 error code of `status`.
void SetLastErrorFromStatus(const NativeCalls& calls, NTSTATUS status);

}  // namespace platform
