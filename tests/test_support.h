// Helpers shared by the unit and end-to-end tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace test {

// A fresh directory below the build tree, removed with everything in it when
// the object goes away.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path as text, with a trailing separator, as the reader's work
  // directory is written.
  std::string WithSeparator() const { return path_.string() + "/"; }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, std::string_view contents);

// Writes `contents` as WriteFile does, then makes the file a program anyone
// may run (mode 0755).
void WriteExecutable(const std::filesystem::path& path, std::string_view contents);

// Writes `before`, then zero bytes up to offset `hole_end` (a hole, on file
// systems with sparse files), then `after`. False, with nothing more
// written, when the file system cannot make the file that large.
bool WriteFileWithHole(const std::filesystem::path& path, std::string_view before,
                       uint64_t hole_end, std::string_view after);

// Writes the `size` low bytes of `value`, least significant first, over
// `bytes` from `offset` on (which must hold them).
void PutLittleEndian(std::string& bytes, size_t offset, uint64_t value, size_t size);

// Writes `value` over the length field of the record that ends at `end`
// (the offset just after its digest).
void SetRecordLength(std::string& bytes, size_t end, uint32_t value);

// `size` bytes from a pseudo-random generator seeded with `seed`: the same
// bytes for the same seed.
std::string RandomBytes(size_t size, unsigned seed);

// `size` bytes of text that compresses well: numbered lines of a few words,
// "line 0: the quick brown fox, 0" and so on.
std::string CompressibleText(size_t size);

// The names of the entries of `directory`.
std::set<std::string> EntryNames(const std::filesystem::path& directory);

// The entries of `directory`, as paths, in the order the system lists them.
std::vector<std::filesystem::path> Entries(const std::filesystem::path& directory);

// The lowercase hexadecimal rendering of raw bytes.
std::string Hex(std::string_view bytes);

// The work directories the reader's runs in `temporary_directory` will use
// over the next `seconds` seconds (and the one just begun, and the one
// before): temporary_directory / "SF<seconds since 1970>". For planting
// entries where a coming run will find them.
std::vector<std::filesystem::path> ComingWorkDirectories(
    const std::filesystem::path& temporary_directory, int seconds = 30);

#ifndef _WIN32
// A file `path` (created here, in an existing directory) that this process,
// and the programs it starts, cannot delete until the object goes away: made
// immutable (what chattr +i does) when running as root, who may delete
// anything else; otherwise its directory is made read-only. held() is false,
// with reason() saying why, when neither could be done.
class UndeletableFile {
 public:
  explicit UndeletableFile(const std::filesystem::path& path);
  ~UndeletableFile();
  UndeletableFile(const UndeletableFile&) = delete;
  UndeletableFile& operator=(const UndeletableFile&) = delete;

  bool held() const { return reason_.empty(); }
  const std::string& reason() const { return reason_; }

 private:
  std::filesystem::path path_;
  bool immutable_ = false;
  std::filesystem::perms directory_permissions_{};
  std::string reason_;
};

// While the object lives, no file this process writes may grow beyond
// `size` bytes: a write past that fails with EFBIG, as on a full disk (the
// signal SIGXFSZ ignored). held() is false when the limit could not be set.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(uint64_t size);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  bool held() const { return held_; }

 private:
  bool saved_ = false;  // the limit and the handler below were saved
  uint64_t saved_limit_ = 0;
  void (*saved_handler_)(int) = nullptr;
  bool held_ = false;
};
#endif

// Collects what the reader reports to the user (standard error) while alive.
class MessageCapture {
 public:
  MessageCapture();
  ~MessageCapture();
  // Stops capturing and returns everything reported.
  std::string Take();

 private:
  bool capturing_ = true;
};

}  // namespace test
