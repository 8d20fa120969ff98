// Every operating-system operation the reader needs, and nothing else.
//
// This header is the only place that knows there is an operating system. Its
// implementations live in platform_posix.cpp and platform_win32.cpp; all other
// code speaks to the system through these names only. The names are chosen so
// that they do not collide with the Win32 A/W macros (CreateDirectory,
// DeleteFile, ...), which would otherwise rename them inside the Win32 layer.
//
// Failing operations return false (or an unopened object) and leave the
// system's error code for LastErrorCode(); read it immediately, before any
// other platform call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The separator the system writes between path components.
extern const char kPathSeparator;

// Where the work directory goes when the temporary path cannot be obtained.
extern const char kFallbackTemporaryPath[];

// The error code reported for a file name the reader refuses to write.
extern const int kErrorInvalidName;

// The error code of a read that met the end of the file.
extern const int kErrorEndOfFile;

// ---------------------------------------------------------------------------
// Errors and messages

// The system's error code of the most recent failed operation.
int LastErrorCode();

// Forgets the last error, so that a later report of "no error" is not
// mistaken for some earlier, unrelated failure.
void ClearLastError();

// The system's own text for an error code, without a trailing line break;
// empty when the system has no text for it.
std::string SystemErrorText(int code);

// Shows a message to the user and returns once it has been seen. Windows: a
// modal message box with one OK button. POSIX: "caption: text" on standard
// error, with the text's line breaks ("\r\n" or a lone "\r") written as "\n".
void ReportMessage(std::string_view text, std::string_view caption);

// ---------------------------------------------------------------------------
// Process-wide facts

enum class InstanceGuard {
  kAcquired,        // this process is the only one; held until it ends
  kAlreadyRunning,  // another process of this user holds the guard
  kUnavailable,     // the guard could not be created; no protection
};

// Takes the per-user single-instance guard called `name`. The system releases
// it when the process ends, however it ends, and started programs do not
// inherit it.
InstanceGuard AcquireSingleInstance(const std::string& name);

// The user's temporary directory, ending in a separator. False when the
// system cannot say, or the path is longer than 260 characters.
bool TemporaryPath(std::string& path);

// The full path of the running program file; empty when unknown.
std::string ProgramPath();

// Whole seconds since 1970-01-01 00:00 UTC.
int64_t CurrentSeconds();

// ---------------------------------------------------------------------------
// Directories

// Creates one directory, private to this user where the system has modes.
bool MakeDirectory(const std::string& path);

// Makes `path` the current directory. On POSIX, where the temporary directory
// is shared between users, only a real directory (not a symbolic link) owned
// by this user and writable by no one else is entered.
bool EnterDirectory(const std::string& path);

// Makes `path` the current directory, without the checks of EnterDirectory.
// Used to step out of the work directory before removing it: on Windows a
// directory that is any process's current directory cannot be removed.
bool ChangeDirectory(const std::string& path);

struct DirectoryEntry {
  std::string name;
  // True only for a real directory; symbolic links and other reparse points
  // are not directories here, so that removal never follows them.
  bool is_directory = false;
};

// The entries of a directory, "." and ".." included, in the system's order.
// False when the directory cannot be read or is itself a link.
bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& entries);

// Removes a non-directory entry; a link is removed as a link.
bool RemoveFile(const std::string& path);

// Removes an empty directory.
bool RemoveEmptyDirectory(const std::string& path);

// How long one tree removal may spend, in all, retrying deletions that failed,
// and the pause between two tries. Windows: right after the setup program has
// ended, other processes (its console host, virus scanners, indexers) may hold
// its files or directories for a moment. POSIX: zero, no retries.
extern const int kRemovalRetryMilliseconds;
extern const int kRemovalRetryPauseMilliseconds;

// Waits `milliseconds`.
void Pause(int milliseconds);

// ---------------------------------------------------------------------------
// Files

// An open file with a current position. Closes itself when destroyed.
class File {
 public:
  File() = default;
  File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kClosed; }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.handle_;
      other.handle_ = kClosed;
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { Close(); }

  // Opens an existing file for reading, others may read it too.
  static File OpenForReading(const std::string& path);

  // Creates a file for writing, truncating an existing one. Never writes
  // through a symbolic link; on POSIX the file is private to this user.
  static File CreateForWriting(const std::string& path);

  // Creates a new file for writing, private to this user on POSIX. Fails
  // with kErrorFileExists when any entry has that name already (a link
  // included, which is never followed).
  static File CreateNew(const std::string& path);

  bool IsOpen() const { return handle_ != kClosed; }

  // Moves the position by `distance` bytes; fails (position unchanged) when
  // the result would lie before the start of the file.
  bool Seek(int64_t distance);

  // Moves the position to the end of the file.
  bool SeekToEnd();

  // The current position, or -1 on failure.
  int64_t Position() const;

  // Reads exactly `size` bytes; a short read is a failure, reported at the end
  // of the file as kErrorEndOfFile.
  bool Read(void* buffer, size_t size);

  // Reads exactly `size` bytes starting at `offset`, in one positioned read
  // where the system allows. The current position is not used; afterwards it
  // is unspecified. A short read is a failure, kErrorEndOfFile at the end.
  bool ReadAt(int64_t offset, void* buffer, size_t size);

  // Writes all `size` bytes; a short write is a failure.
  bool Write(const void* data, size_t size);

  // Closes the file and reports whether everything written reached it.
  bool Close();

 private:
  static constexpr intptr_t kClosed = -1;
  explicit File(intptr_t handle) : handle_(handle) {}
  intptr_t handle_ = kClosed;
};

// ---------------------------------------------------------------------------
// Extraction under a temporary name

// The error code of File::CreateNew when the name is taken.
extern const int kErrorFileExists;

// Gives the file `from` the name `to`, replacing a file that has that name
// (a link there is replaced, never followed). Both lie on the same volume.
// A `to` that names an existing directory fails with the code that creating
// a file there would give (POSIX: EISDIR, however the path names it).
// Windows: a sharing violation (a scanner holding the new file a moment) is
// tried again for up to kRemovalRetryMilliseconds.
bool RenameReplacing(const std::string& from, const std::string& to);

// ---------------------------------------------------------------------------
// Processes

// The absolute path of the file or directory `path` names, with links
// resolved where the system has them; empty when there is no such entry.
std::string ResolvedPath(const std::string& path);

// Lets the owner execute the regular file `path` names. POSIX: adds the
// owner's execute permission; false for anything but a regular file.
// Windows: any file may be started, nothing to do.
bool AllowOwnerToExecute(const std::string& path);

enum class ProcessEnd {
  kEnded,       // the program was started and has ended
  kNotStarted,  // the program could not be started
  kWaitFailed,  // it was started, but waiting for its end failed
};

// Starts `program` in the current directory, with this process's environment,
// and waits without a time limit until it has ended. Its command-line tail is
// given twice, as each system hands it over: Windows passes `parameters`
// verbatim to the shell's execute service (default verb, normal window);
// POSIX starts the file directly (never through a shell) with `arguments` as
// argv[1...], ignoring the terminal's interrupt and quit keys while it runs
// (the program gets the dispositions this process started with).
ProcessEnd RunProcess(const std::string& program, const std::string& parameters,
                      const std::vector<std::string>& arguments);

}  // namespace platform
