// The system itself, behind one name for every operating system: which kind
// it is, errors and their texts, the clocks and the environment. Implemented
// per system in platform_posix_system.cpp and platform_win32_system.cpp.
//
// Every platform header follows these rules. Failing operations return
// false (or an unopened object) and leave the system's error code for
// LastErrorCode(); read it immediately, before any other platform call.
// Text (paths, names, messages, command lines) is UTF-8 on both sides; on
// POSIX it is the bytes the system uses, and the Windows layer converts at
// each call to and from the wide (UTF-16) Win32 calls. The names are chosen
// so that they do not collide with the Win32 A/W macros (CreateDirectory,
// DeleteFile, ...), which would otherwise rename them inside the Win32
// layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The kind of system this layer speaks to. The layers above take no other
// course because of it; they only pick by it those of their values that
// follow each system's conventions (such as exit codes, or how long a file
// another process holds is waited for).
enum class SystemKind { kPosix, kWindows };
#ifdef _WIN32
inline constexpr SystemKind kSystemKind = SystemKind::kWindows;
#else
inline constexpr SystemKind kSystemKind = SystemKind::kPosix;
#endif

// The error code for a file name refused before the system sees it.
extern const int kErrorInvalidName;

// The error code reported for a file name longer than the system accepts.
extern const int kErrorNameTooLong;

// The error code of a read that met the end of the file.
extern const int kErrorEndOfFile;

// The error code of an operation that lacked memory.
extern const int kErrorOutOfMemory;

// The system's error code of the most recent failed operation.
int LastErrorCode();

// Forgets the last error, so that a later report of "no error" is not
// mistaken for some earlier, unrelated failure.
void ClearLastError();

// The system's own text for an error code, without a trailing line break;
// empty when the system has no text for it.
std::string SystemErrorText(int code);

// The user's temporary directory, ending in a separator. False when the
// system cannot say, or the path exceeds `limit`, counted in the system's
// units: Windows, a path of `limit` UTF-16 units or more (one that a buffer
// of `limit` units, its terminating zero included, cannot hold); POSIX, a
// TMPDIR of more than `limit` bytes. POSIX: TMPDIR, else /tmp.
bool TemporaryPath(std::string& path, size_t limit);

// The value of the environment variable `name`; empty when it is not set.
std::string EnvironmentValue(const std::string& name);

// The full path of the running program file; empty when unknown.
std::string ProgramPath();

// Whole seconds since 1970-01-01 00:00 UTC.
int64_t CurrentSeconds();

// Waits `milliseconds`.
void Pause(int milliseconds);

// The error code of an operation that would put a file where a directory
// stands (POSIX: EISDIR; Windows: ERROR_ACCESS_DENIED, as creating a file
// there gives).
extern const int kErrorIsDirectory;

// The error code of a directory that is missing from a path (POSIX: ENOENT;
// Windows: ERROR_PATH_NOT_FOUND).
extern const int kErrorPathNotFound;

// The error code of an exclusive creation when the name is taken.
extern const int kErrorFileExists;

// The error code of a write to a full disk.
extern const int kErrorDiskFull;

// Milliseconds since a fixed moment (such as the system's start), from a
// clock that never goes back: for measuring how long something takes.
int64_t MonotonicMilliseconds();

}  // namespace platform
