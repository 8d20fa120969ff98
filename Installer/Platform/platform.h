// Every operating-system operation the layers above need, and nothing else.
//
// This header is the only place that knows there is an operating system. Its
// implementations live in a pair of files per concern, platform_posix_X.cpp
// and platform_win32_X.cpp (the files, directories and processes in
// platform_posix.cpp and platform_win32.cpp); all other code speaks to the
// system through these names only. The names are chosen so
// that they do not collide with the Win32 A/W macros (CreateDirectory,
// DeleteFile, ...), which would otherwise rename them inside the Win32 layer.
//
// Failing operations return false (or an unopened object) and leave the
// system's error code for LastErrorCode(); read it immediately, before any
// other platform call.
//
// Text (paths, names, messages, command lines) is UTF-8 on both sides of this
// header; on POSIX it is the bytes the system uses. The Windows layer converts
// at each call to and from the wide (UTF-16) Win32 calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// The separator the system writes between path components.
extern const char kPathSeparator;

// The error code for a file name refused before the system sees it.
extern const int kErrorInvalidName;

// The error code reported for a file name longer than the system accepts.
extern const int kErrorNameTooLong;

// The error code of a read that met the end of the file.
extern const int kErrorEndOfFile;

// The error code of an operation that lacked memory.
extern const int kErrorOutOfMemory;

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
// error, with the text's line breaks ("\r\n" or a lone "\r") written as
// "\n". Keeps the last error.
void ShowMessage(std::string_view text, std::string_view caption);

// Whether a message shown now can be seen and dismissed. Windows: false when
// the process's window station is not visible (a service in session 0, a
// deployment agent), where a box would wait for ever; asked anew each time,
// and true when the system cannot say. POSIX: always true. Keeps the last
// error.
bool MessagesCanBeShown();

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

// ---------------------------------------------------------------------------
// Directories

// Creates one directory, private to this user where the system has modes.
// Separators at the end of `path` are ignored: a link in its place is never
// followed.
bool MakeDirectory(const std::string& path);

// Whether the file system that holds the directory `path` lets programs
// stored on it be started. POSIX: refused where it is mounted noexec, unknown
// when the system cannot tell. Windows: always allowed.
enum class ProgramStarts { kUnknown, kAllowed, kRefused };
ProgramStarts ProgramStartsIn(const std::string& path);

// Whether any file system can refuse to start programs (POSIX); where none
// can, ProgramStartsIn always allows.
inline constexpr bool kProgramStartsCanBeRefused = kSystemKind == SystemKind::kPosix;

// Whether `path` names a directory that no other user can change: POSIX, one
// of this user's that no one else may write to, the demands EnterDirectory
// makes (a symbolic link to one counts); Windows, a real directory. Keeps the
// last error.
bool IsPrivateDirectory(const std::string& path);

// Makes `path` the current directory, if it is a real directory: never a
// symbolic link (Windows: no reparse point, such as a junction). Where the
// temporary directory may be shared between users, only one owned by this
// user is entered: on POSIX also writable by no one else; on Windows owned
// by this process's user, or by the owner it gives what it makes.
bool EnterDirectory(const std::string& path);

// Makes `path` the current directory, without the checks of EnterDirectory.
// On Windows a directory that is any process's current directory cannot be
// removed: stepping out of it comes first.
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

  // Writes all `size` bytes starting at `offset`, with positioned writes,
  // so that several threads may write different parts of one file at once.
  // The current position is not used; afterwards it is unspecified.
  bool WriteAt(int64_t offset, const void* data, size_t size);

  // Closes the file and reports whether everything written reached it.
  bool Close();

 private:
  friend class Directory;
  static constexpr intptr_t kClosed = -1;
  explicit File(intptr_t handle) : handle_(handle) {}
  intptr_t handle_ = kClosed;
};

// ---------------------------------------------------------------------------
// Directories held open
//
// Entries made, found, renamed and removed relative to an open directory, by
// a single name (no separator): a path component swapped for a link after
// the directory was opened is never followed, and no path grows longer than
// one name. Windows: the directory cannot be renamed or deleted while it is
// held.

// What answers to a name in a directory.
enum class EntryAtName {
  kNothing,    // no entry
  kFile,       // a regular file of exactly that name
  kDirectory,  // a real directory of exactly that name
  // Anything else: a link (Windows: any reparse point), a device or pipe, or
  // an entry whose own name is another one that the system takes for it
  // (Windows: in another case, or by its short 8.3 name).
  kOther,
};

// The error code of an operation that would put a file where a directory
// stands (POSIX: EISDIR; Windows: ERROR_ACCESS_DENIED, as creating a file
// there gives).
extern const int kErrorIsDirectory;

// The error code of a directory that is missing from a path (POSIX: ENOENT;
// Windows: ERROR_PATH_NOT_FOUND).
extern const int kErrorPathNotFound;

// Whether the full path `directory` + `name` is short enough for the
// system's path calls: POSIX, shorter than PATH_MAX; Windows, within the
// 32,767 UTF-16 units of its long form ("\\?\" before it). False sets
// kErrorNameTooLong as the last error. Whatever is made in a directory held
// open stays within this, so that it can be found and removed again by its
// path.
bool FitsPath(std::string_view directory, std::string_view name);

class Directory {
 public:
  Directory() = default;
  Directory(Directory&& other) noexcept : handle_(other.handle_) { other.handle_ = kClosed; }
  Directory& operator=(Directory&& other) noexcept;
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  ~Directory() { Close(); }

  // Opens the directory `path` itself: a link (Windows: any reparse point)
  // in its place is refused, never followed.
  static Directory Open(const std::string& path);

  bool IsOpen() const { return handle_ != kClosed; }
  void Close();

  // What answers to `name` here. Keeps the last error.
  EntryAtName Find(std::string_view name) const;

  // Opens the real directory of exactly the name `name` here. Fails with
  // kErrorPathNotFound when nothing answers to it, and with kErrorFileExists
  // when something else does (a file, a link, an entry of another name).
  Directory OpenDirectory(std::string_view name) const;

  // Makes the directory `name` here, private to this user where the system
  // has modes, and opens it. Fails with kErrorFileExists when any entry
  // answers to the name.
  Directory MakeDirectory(std::string_view name) const;

  // Creates the new file `name` here for writing, private to this user on
  // POSIX, where its owner may execute it when `executable` (on Windows any
  // file may be started). Fails with kErrorFileExists when any entry answers
  // to the name (a link included, which is never followed).
  File CreateNewFile(std::string_view name, bool executable = false) const;

  // Removes the entry `name` here that is not a directory (a link as a
  // link).
  bool RemoveFile(std::string_view name) const;

  // Closes the file `name` here, open as `file` (made by CreateNewFile), and
  // gives it the name `new_name` in `target`: where nothing answers to it,
  // or in place of a regular file of exactly that name (Windows: or where it
  // answers itself, in another case). A directory there fails with
  // kErrorIsDirectory, anything else with kErrorFileExists; a failure to
  // close fails too, and the file keeps its name. Windows: a sharing
  // violation (a scanner holding the file a moment) is tried again every
  // `pause_milliseconds` for up to `retry_milliseconds`.
  bool MoveFileTo(File& file, std::string_view name, const Directory& target,
                  std::string_view new_name, int retry_milliseconds, int pause_milliseconds) const;

 private:
  static constexpr intptr_t kClosed = -1;
  explicit Directory(intptr_t handle) : handle_(handle) {}
  intptr_t handle_ = kClosed;
};

// ---------------------------------------------------------------------------
// Extraction under a temporary name

// The error code of an exclusive creation when the name is taken.
extern const int kErrorFileExists;

// The error code of a write to a full disk.
extern const int kErrorDiskFull;

// Sets `bytes` to the space this user may still fill on the volume that
// holds the directory `path`. False when the system cannot tell.
bool FreeDiskSpace(const std::string& path, uint64_t& bytes);

// Appends `bytes` to the file `path` in one write, creating the file where it
// is missing (POSIX: private to this user, never through a symbolic link).
// Opened for appending only, so that what two processes append never
// overwrites each other; others may read it meanwhile. False when it cannot
// be written whole. Keeps the last error: a log never changes what the
// failure it records reports.
bool AppendToLogFile(const std::string& path, std::string_view bytes);

// ---------------------------------------------------------------------------
// Helper threads
//
// Threads that work beside the main one, and counting semaphores to hand work
// over and back.

// How many processors this process may run on (at least 1).
int ProcessorCount();

// The stack of a helper thread: its work is shallow (copying, decoding), and
// a small stack keeps a 32-bit process's address space for its buffers.
inline constexpr size_t kThreadStackSize = 256 * 1024;

// A thread that runs `body(argument)`, on a stack of kThreadStackSize bytes.
// Join (or the destructor) waits until it has returned. POSIX: the thread takes no signals; they
// stay with the threads that were there before.
class Thread {
 public:
  Thread() = default;
  ~Thread() { Join(); }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts the thread; false when the system cannot start one (or one was
  // started already).
  bool Start(void (*body)(void*), void* argument);

  // Waits for the started thread to end; returns at once when none runs.
  void Join();

  // What a started thread is; defined inside this layer.
  struct State;

 private:
  State* state_ = nullptr;
};

// A semaphore: Wait takes one unit, waiting until there is one; Post adds
// one. Starts with none. IsUsable is false when the system could not make
// one; Post and Wait then do nothing.
class Semaphore {
 public:
  Semaphore();
  ~Semaphore();
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  bool IsUsable() const { return state_ != nullptr; }
  void Post();
  void Wait();

 private:
  struct State;
  State* state_ = nullptr;
};

// ---------------------------------------------------------------------------
// Processes

// The absolute path of the file or directory `path` names, with links
// resolved where the system has them; empty when there is no such entry.
std::string ResolvedPath(const std::string& path);

// Lets the owner execute the regular file `path` names. POSIX: adds the
// owner's execute permission; false for anything but a regular file.
// Windows: any file may be started, nothing to do.
bool AllowOwnerToExecute(const std::string& path);

// How a program that ran has ended: with its exit code, or (POSIX) killed by
// a signal, whose number is then `signal` (0 otherwise).
struct ProcessExit {
  int code = 0;
  int signal = 0;
};

enum class ProcessEnd {
  kEnded,       // the program was started and has ended
  kNotStarted,  // the program could not be started
  kWaitFailed,  // it was started, but waiting for its end (or its exit code) failed
};

// Starts `program` in the current directory, with this process's environment,
// and waits without a time limit until it has ended; on kEnded `exit` says
// how. Its command-line tail is
// given twice, as each system hands it over: Windows passes `parameters`
// verbatim to the shell's execute service (default verb, normal window);
// POSIX starts the file directly (never through a shell) with `arguments` as
// argv[1...], ignoring the terminal's interrupt and quit keys while it runs
// (the program gets the dispositions this process started with).
// While it waits, a signal caught after CatchInterruptions is passed on to the
// program, unless the terminal sent it to the whole foreground process group,
// which the program belongs to as well.
ProcessEnd RunProcess(const std::string& program, const std::string& parameters,
                      const std::vector<std::string>& arguments, ProcessExit& exit);

// ---------------------------------------------------------------------------
// Interruptions (POSIX signals)

// From now on SIGINT, SIGTERM and SIGHUP (each unless it was ignored when the
// process started) no longer end the process. The first one caught is noted
// for CaughtInterruption, and from then on every File read and write fails
// (EINTR), so that any loop over a file ends promptly. Windows: does nothing.
void CatchInterruptions();

// The number of the first signal caught since CatchInterruptions, or 0.
int CaughtInterruption();

// ---------------------------------------------------------------------------
// Progress display
//
// How far a long operation has come. Windows: a small window without
// buttons, painted on a thread of its own so that it stays drawn while the
// caller works. POSIX: one line on standard error, rewritten in place, and
// only when standard error is a terminal. One display at a time per process.

// Milliseconds since a fixed moment (such as the system's start), from a
// clock that never goes back: for measuring how long something takes.
int64_t MonotonicMilliseconds();

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

// ---------------------------------------------------------------------------
// Text in the system's code page

// The bytes `text`, written in the system's ANSI code page, as UTF-8. Windows:
// read exactly as the ANSI Win32 calls read them. POSIX: the bytes unchanged,
// as there is no such code page.
std::string SystemCodePageToUtf8(std::string_view text);

}  // namespace platform
